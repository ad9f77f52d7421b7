// SPDX-License-Identifier: MIT
// Watching this process's register accesses as they happen: one function,
// process-wide, is told of every vtxI2C_RegisterWrite and
// vtxI2C_RegisterRead after the call, with its arguments and its result.
// It runs outside the library's lock, in the thread that made the call, and
// cannot change the call: it sees a copy, its exceptions are swallowed, and
// the caller gets the call's own result. For recording what a program does
// to the chip (xq4620 --record, the panel's Record...).
#ifndef VTX_OBSERVER_H
#define VTX_OBSERVER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace vtx {

struct RegisterAccess {
    bool write;
    int32_t handle;
    uint16_t device;
    uint8_t reg;
    uint8_t value;  // the byte written; for a read, the byte read (0 when it failed)
    int32_t result; // the call's result: 0 or the value read, or a negative error
};

using AccessObserver = std::function<void(const RegisterAccess &)>;

namespace observer_detail {

struct State {
    std::mutex mutex;
    std::shared_ptr<const AccessObserver> observer;
    std::atomic<bool> set{false};
};

inline State &state() {
    static State s;
    return s;
}

} // namespace observer_detail

// Installs `observer` in place of the one before (an empty one: none). A
// call already telling the old one finishes with it.
inline void setAccessObserver(AccessObserver observer) {
    observer_detail::State &s = observer_detail::state();
    std::shared_ptr<const AccessObserver> next;
    if (observer)
        next = std::make_shared<const AccessObserver>(std::move(observer));
    std::lock_guard<std::mutex> lock(s.mutex);
    s.observer = std::move(next);
    s.set = static_cast<bool>(s.observer);
}

// Called by the library after each register access.
inline void noteAccess(const RegisterAccess &access) noexcept {
    observer_detail::State &s = observer_detail::state();
    if (!s.set)
        return;
    std::shared_ptr<const AccessObserver> observer;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        observer = s.observer;
    }
    if (!observer)
        return;
    try {
        (*observer)(access);
    } catch (...) {
    }
}

} // namespace vtx

#endif
