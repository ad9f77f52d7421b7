// SPDX-License-Identifier: MIT
// The adapter library's front end: it owns the handles, checks every argument
// before a backend sees it, writes the trace and dispatches to the backend of
// each handle: one backend per adapter name, the one VTX_ADAPTER names and
// those vtxSelectAdapter names. Backends only ever see their own adapter
// indices.
#include "vtx/vtx.h"

#include "vtx/adapter_name.h"
#include "vtx/adapters.h"
#include "vtx/backend.h"
#include "vtx/bench_gpio.h"
#include "vtx/file_lock.h"
#include "vtx/holds.h"
#include "vtx/i2cdev/detect.h"
#include "vtx/internal.h"
#include "vtx/interrupt.h"
#include "vtx/observer.h"
#include "vtx/reason.h"
#include "vtx/shared_board.h"
#include "vtx/vtx_testing.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <new>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vtx {
namespace {

constexpr int32_t kMinVersionLength = 4;
constexpr int32_t kMaxVersionLength = 64;
constexpr uint16_t kMaxDevice = 0x7F; // 7-bit addressing only

// What VTX_ADAPTER falls back to when it names nothing usable: no adapter.
class NoAdapterBackend final : public Backend {
public:
    int32_t findControllers() override { return 0; }
    int32_t serialNumber(int32_t, std::string &) override { return -ENODEV; }
    int32_t open(const std::string &) override { return -ENODEV; }
    int32_t firmwareVersion(int32_t, uint8_t *, int32_t) override { return -ENODEV; }
    int32_t i2cControl(int32_t, int32_t, int32_t, int32_t) override { return -ENODEV; }
    int32_t gpioWriteControl(int32_t, const GpioConfig &) override { return -ENODEV; }
    int32_t powerWriteControl(int32_t, int32_t, int32_t) override { return -ENODEV; }
    int32_t registerWrite(int32_t, uint16_t, uint8_t, uint8_t) override { return -ENODEV; }
    int32_t registerRead(int32_t, uint16_t, uint8_t) override { return -ENODEV; }
    int32_t lock(int32_t, int32_t) override { return -ENODEV; }
    int32_t unlock(int32_t) override { return -ENODEV; }
    std::string where(int32_t) const override { return {}; }
};

constexpr size_t kCallCount = static_cast<size_t>(test::Call::Unlock) + 1;

// vtxLock's hold on one handle: the thread that took it and how many of its
// vtxLock calls are not yet undone. Another thread of the process waits for
// it as another program waits for the board.
struct Hold {
    int32_t count = 0;
    std::thread::id owner;
};

// What a handle stands for: an adapter of one backend, and its hold.
struct Handle {
    Backend *backend = nullptr;
    int32_t adapter = -1;
    Hold hold;
};

struct Library {
    bool traceChosen = false;
    FILE *traceFile = nullptr;
    test::TraceSink traceSink;
    // VTX_ADAPTER as the first call found it.
    std::string defaultName;
    // One backend per adapter name, made when a find or open first names it
    // and kept until the process ends, as its handles are.
    std::map<std::string, std::unique_ptr<Backend>> backends;
    // Handle h (1, 2, ...) is handles[h - 1].
    std::vector<Handle> handles;
    // Set in a child process by fork(): the backend must not use its
    // parent's descriptors, nor let go of the parent's locks.
    bool forked = false;
    // A pause after each register read, for tests that widen the gap of a
    // read-modify-write (VTX_TEST_READ_DELAY_MS, in test builds only).
    int32_t readDelayMs = 0;
    std::array<std::optional<int32_t>, kCallCount> forced;
    std::map<std::pair<test::Call, uint8_t>, int32_t> forcedAt;
};

// Never destroyed, so a call made during static destruction still works.
Library &lib() {
    static Library *l = new Library;
    return *l;
}

// Signalled whenever a hold ends.
std::condition_variable_any &holdEnded() {
    static auto *cv = new std::condition_variable_any;
    return *cv;
}

int32_t endHold(Handle &handle);

// What the library keeps for each thread: why its last call that failed,
// failed, and whether its last wait for another thread's hold ran out.
// A thread that ends holding the board lets go of it.
struct ThreadState {
    int32_t lastResult = 0;
    std::string lastText;
    bool gaveUp = false;
    bool holding = false;
    bool alive = true;
    // vtxSelectAdapter's name, or VTX_ADAPTER's when unset.
    std::optional<std::string> selected;
    ~ThreadState();
};
thread_local ThreadState threadState;

ThreadState &mine() {
    // A call from a static destructor, after the thread's state is gone.
    static auto *orphan = new ThreadState;
    return threadState.alive ? threadState : *orphan;
}

ThreadState::~ThreadState() {
    alive = false;
    if (!holding)
        return;
    std::lock_guard lock(detail::libraryMutex());
    for (Handle &h : lib().handles) {
        if (h.hold.count > 0 && h.hold.owner == std::this_thread::get_id())
            endHold(h);
    }
}

// In the child of a fork(): whoever held the library's lock in the parent
// is not there, and the child holds none of its parent's holds.
void afterForkInChild() {
    new (&detail::libraryMutex()) std::recursive_mutex;
    new (&holdEnded()) std::condition_variable_any;
    Library &l = lib();
    for (Handle &h : l.handles)
        h.hold = Hold();
    l.forked = true;
    mine().holding = false;
}
std::unique_ptr<Backend> makeBackend(const std::string &name) {
    std::unique_ptr<Backend> backend;
    if (name == "sim") {
        backend = makeSimBackend();
    } else if (name.rfind("sim:", 0) == 0) {
        backend = makeSharedSimBackend(name.substr(4)); // says why it will not
    } else if (const std::string why = adapterNameProblem(name); !why.empty()) {
        // Only VTX_ADAPTER gets here: vtxSelectAdapter refuses such a name.
        detail::tell("VTX_ADAPTER=" + why);
        detail::noteProblem("VTX_ADAPTER=" + why);
    } else {
        backend = makeI2cDevBackend(name);
    }
    if (!backend)
        backend = std::make_unique<NoAdapterBackend>();
    return backend;
}

// The backend of adapter `name`, made on first use.
Backend &backendNamed(const std::string &name) {
    Library &l = lib();
    if (const auto it = l.backends.find(name); it != l.backends.end())
        return *it->second;
    std::unique_ptr<Backend> made = makeBackend(name);
    // A good name whose backend could not be made (a shared board's folder
    // not ours yet) is tried again by the next call; a bad one stays bad.
    if (dynamic_cast<NoAdapterBackend *>(made.get()) && adapterNameProblem(name).empty()) {
        static auto *none = new NoAdapterBackend; // holds nothing, hands out no handle
        return *none;
    }
    return *(l.backends[name] = std::move(made));
}

// The backend this thread's finds and opens go to.
Backend &backend() {
    const ThreadState &me = mine();
    return backendNamed(me.selected ? *me.selected : lib().defaultName);
}

// Whether a thread other than this one holds `handle` (0: any handle).
bool heldElsewhere(int32_t handle) {
    const auto &handles = lib().handles;
    for (size_t i = 0; i < handles.size(); ++i) {
        if ((handle == 0 || i + 1 == static_cast<size_t>(handle)) && handles[i].hold.count > 0 &&
            handles[i].hold.owner != std::this_thread::get_id())
            return true;
    }
    return false;
}

// Held by every library call: serialises the library and, on the first call,
// opens the trace named by VTX_TRACE.
class CallScope {
public:
    CallScope() : lock_(detail::libraryMutex()) {
        static const int forkHandler = pthread_atfork(nullptr, nullptr, afterForkInChild);
        (void)forkHandler;
        Library &l = lib();
        detail::notedProblem().clear();
        if (l.forked) {
            l.forked = false;
            for (auto &[name, b] : l.backends)
                if (b)
                    b->afterFork();
        }
        if (l.traceChosen)
            return;
        l.traceChosen = true;
        if (const char *name = std::getenv("VTX_ADAPTER"))
            l.defaultName = name;
#ifdef VTX_TEST_HOOKS
        if (const char *delay = std::getenv("VTX_TEST_READ_DELAY_MS"))
            l.readDelayMs = std::atoi(delay);
#endif
        const char *path = std::getenv("VTX_TRACE");
        if (!path || !*path)
            return;
        l.traceFile = std::fopen(path, "ae"); // not inherited by programs we start
        if (!l.traceFile)
            detail::tell("cannot open trace file " + detail::quoted(path) + ": " +
                         std::strerror(errno));
    }

    // Waits, letting go of the library meanwhile, while another thread of
    // the process holds `handle` (0: any handle): at most `timeoutMs`, or no
    // time at all when this thread's last such wait ran out. 0, -EBUSY or
    // -EINTR.
    int32_t awaitTurn(int32_t handle, int32_t timeoutMs = detail::kCallWaitMs) {
        if (!heldElsewhere(handle))
            return 0;
        ThreadState &me = mine();
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(me.gaveUp ? 0 : timeoutMs);
        detail::WaitClock clock;
        bool told = false;
        while (heldElsewhere(handle)) {
            const auto now = Clock::now();
            if (clock.interrupted()) {
                detail::noteProblem("the wait for the board was interrupted");
                return -EINTR;
            }
            if (now >= deadline) {
                me.gaveUp = true;
                detail::noteProblem("the board is busy: another thread of this program holds it");
                return -EBUSY;
            }
            if (!told && now >= start + std::chrono::milliseconds(detail::kWaitNoticeMs)) {
                told = true;
                detail::tell("waiting for the board: another thread of this program holds it");
            }
            holdEnded().wait_for(
                lock_, std::min<Clock::duration>(
                           deadline - now, std::chrono::milliseconds(vtx::kInterruptCheckMs)));
        }
        me.gaveUp = false;
        return 0;
    }

private:
    std::unique_lock<std::recursive_mutex> lock_;
};

bool tracing() {
    return lib().traceFile || lib().traceSink;
}

void emit(const std::string &line) {
    Library &l = lib();
    if (l.traceFile) {
        std::fprintf(l.traceFile, "%s\n", line.c_str());
        std::fflush(l.traceFile);
    }
    // A copy, so that a sink which replaces itself is not destroyed mid-call.
    if (const test::TraceSink sink = l.traceSink)
        sink(line);
}

__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...) {
    va_list args, again;
    va_start(args, fmt);
    va_copy(again, args);
    std::string out(std::max(std::vsnprintf(nullptr, 0, fmt, args), 0), '\0');
    va_end(args);
    std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    va_end(again);
    return out;
}

// A traced text: quoted, or NULL.
std::string quoted(const char *text) {
    return text ? detail::quoted(text) : "NULL";
}

std::optional<int32_t> forced(test::Call call) {
    return lib().forced[static_cast<size_t>(call)];
}

// A forced result stands in for the backend, which then sees nothing.
template <typename F> int32_t dispatch(test::Call call, Backend &b, F &&toBackend) {
    if (const auto r = forced(call))
        return *r;
    return toBackend(b);
}

// The same for a register call, which may also be forced for one register.
template <typename F> int32_t dispatchAt(test::Call call, uint8_t reg, Backend &b, F &&toBackend) {
    const auto &at = lib().forcedAt;
    if (const auto it = at.find({call, reg}); it != at.end())
        return it->second;
    return dispatch(call, b, std::forward<F>(toBackend));
}

// The backend and adapter of `handle`; false for a handle the library did
// not hand out. Backends live as long as the library, so the pointer stays
// good across a wait that lets go of the library.
bool adapterOf(int32_t handle, Backend *&backend, int32_t &adapter);

// What `handle` stands for; null for a handle the library did not hand out.
// Valid until the next open, which may grow the table.
Handle *handleOf(int32_t handle) {
    auto &handles = lib().handles;
    if (handle < 1 || static_cast<size_t>(handle) > handles.size())
        return nullptr;
    return &handles[handle - 1];
}

// Keeps why a call failed for vtxLastError: what the library told during the
// call, or else the words for its result. `device` is the chip the call
// addressed, -1 for none.
void noteResult(int32_t r, int32_t handle, int device) {
    if (r >= 0)
        return;
    ThreadState &me = mine();
    const Handle *h = handleOf(handle);
    const bool opened = h != nullptr;
    me.lastResult = r;
    // A call on a handle that was never handed out fails because the find or
    // the open did: their reason stays the one to give.
    if (r == -EBADF && !opened && !me.lastText.empty())
        return;
    if (!detail::notedProblem().empty())
        me.lastText = detail::notedProblem();
    else
        me.lastText = reason(r, device, opened ? h->backend->driver(h->adapter) : "");
}

bool adapterOf(int32_t handle, Backend *&backend, int32_t &adapter) {
    const Handle *h = handleOf(handle);
    if (!h)
        return false;
    backend = h->backend;
    adapter = h->adapter;
    return true;
}

int32_t handleFor(Backend &backend, int32_t adapter) {
    auto &handles = lib().handles;
    // Opening an adapter again gives back its handle: there is no close, and
    // a handle per open would let a retrying caller grow the table forever.
    const auto it = std::find_if(handles.begin(), handles.end(), [&](const Handle &h) {
        return h.backend == &backend && h.adapter == adapter;
    });
    if (it != handles.end())
        return static_cast<int32_t>(it - handles.begin()) + 1;
    handles.push_back({&backend, adapter, Hold()});
    return static_cast<int32_t>(handles.size());
}

// Let go even when the backend complains: the hold is over either way.
int32_t endHold(Handle &h) {
    h.hold = Hold();
    holdEnded().notify_all();
    return dispatch(test::Call::Unlock, *h.backend,
                    [&](Backend &b) { return b.unlock(h.adapter); });
}

} // namespace

namespace test {

void forceResult(Call call, int32_t result) {
    std::lock_guard lock(detail::libraryMutex());
    lib().forced[static_cast<size_t>(call)] = result;
}

void clearForcedResult(Call call) {
    std::lock_guard lock(detail::libraryMutex());
    lib().forced[static_cast<size_t>(call)].reset();
}

void forceResultAt(Call call, uint8_t reg, int32_t result) {
    std::lock_guard lock(detail::libraryMutex());
    lib().forcedAt[{call, reg}] = result;
}

void reset() {
    std::lock_guard lock(detail::libraryMutex());
    Library &l = lib();
    if (l.traceFile)
        std::fclose(l.traceFile);
    l = Library();
    mine().lastResult = 0;
    mine().lastText.clear();
    mine().gaveUp = false;
    mine().selected.reset();
    detail::reopenUnplugged() = true;
    holdEnded().notify_all();
    detail::resetSimBoard();
}

void setTraceSink(TraceSink sink) {
    std::lock_guard lock(detail::libraryMutex());
    lib().traceSink = std::move(sink);
}

} // namespace test

std::string detail::quoted(const std::string &text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\')
            out += {'\\', ch};
        else if (c < 0x20 || c == 0x7F)
            out += format("\\x%02X", c);
        else
            out += ch;
    }
    return out + '"';
}

std::recursive_mutex &detail::libraryMutex() {
    static auto *mutex = new std::recursive_mutex;
    return *mutex;
}

int32_t detail::asLibraryCall(const std::function<int32_t()> &call) {
    CallScope scope;
    int32_t r = scope.awaitTurn(0);
    if (r == 0)
        r = call();
    noteResult(r, 0, -1);
    return r;
}

namespace {

// A USB port path as sysfs spells it: the root hub's number, '-', then a
// port number for each hub on the way, joined by '.' ("1-2.3").
bool isPortPath(const std::string &port) {
    const size_t dash = port.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == port.size())
        return false;
    bool digitBefore = false;
    for (size_t i = 0; i < port.size(); ++i) {
        const char c = port[i];
        if (c >= '0' && c <= '9') {
            digitBefore = true;
        } else if ((c == '.' && i > dash) || i == dash) {
            if (!digitBefore)
                return false;
            digitBefore = false;
        } else {
            return false;
        }
    }
    return digitBefore;
}

} // namespace

std::string adapterNameProblem(const std::string &name) {
    if (name.rfind("sim:", 0) == 0) {
        const std::string why = detail::SharedBoardFile::nameProblem(name.substr(4));
        return why.empty() ? why : detail::quoted(name) + ": " + why;
    }
    if (name.rfind(kSerialPrefix, 0) == 0) {
        const std::string serial = name.substr(sizeof kSerialPrefix - 1);
        const bool printable = std::all_of(serial.begin(), serial.end(),
                                           [](char c) { return c >= 0x20 && c <= 0x7E; });
        if (serial.empty() || serial.size() > VTX_SERIAL_SIZE - 1 || !printable)
            return detail::quoted(name) +
                   ": a USB serial number is 1 to 63 printable characters (xq4620 adapters "
                   "lists the bridges' names)";
        return "";
    }
    if (name.rfind(kPortPrefix, 0) == 0) {
        if (!isPortPath(name.substr(sizeof kPortPrefix - 1)))
            return detail::quoted(name) +
                   ": a USB port path is the hub's number and the ports on the way, as in "
                   "usb-port:1-2.3 (xq4620 adapters lists the bridges' names)";
        return "";
    }
    if (name.empty() || name == "sim" || name[0] == '/')
        return "";
    return detail::quoted(name) +
           " is not an adapter; use sim, sim:NAME, a /dev/i2c-N path, usb:SERIAL, "
           "usb-port:PORT, or leave it unset for USB adapters";
}

} // namespace vtx

using vtx::test::Call;

int32_t vtxFindControllers(void) {
    vtx::CallScope scope;
    vtx::Backend &backend = vtx::backend(); // chosen here even when the result is forced
    int32_t r = scope.awaitTurn(0);
    if (r == 0)
        r = vtx::dispatch(Call::FindControllers, backend,
                          [](vtx::Backend &b) { return b.findControllers(); });
    if (vtx::tracing())
        vtx::emit(vtx::format("vtxFindControllers() = %d", r));
    if (r == 0) {
        vtx::ThreadState &me = vtx::mine();
        me.lastResult = -ENODEV;
        const std::string &told = vtx::detail::notedProblem();
        me.lastText = told.empty() ? "no adapter found" : told;
    }
    vtx::noteResult(r, 0, -1);
    return r;
}

int32_t vtxGetSerialNumber(int32_t index, char *serial) {
    vtx::CallScope scope;
    int32_t r;
    if (!serial) {
        r = -EINVAL;
    } else {
        // Never leave the caller's buffer as it was: on any failure it reads "".
        serial[0] = '\0';
        std::string text;
        if (index < 0)
            r = -EINVAL;
        else if ((r = scope.awaitTurn(0)) < 0)
            ;
        else if (auto f = vtx::forced(Call::GetSerialNumber))
            r = *f;
        else if ((r = vtx::backend().serialNumber(index, text)) >= 0)
            std::snprintf(serial, VTX_SERIAL_SIZE, "%s", text.c_str());
    }
    if (vtx::tracing())
        vtx::emit(
            vtx::format("vtxGetSerialNumber(%d, %s) = %d", index, vtx::quoted(serial).c_str(), r));
    vtx::noteResult(r, 0, -1);
    return r;
}

int32_t vtxOpen(const char *serial) {
    vtx::CallScope scope;
    int32_t r;
    if (!serial)
        r = -EINVAL;
    else if ((r = scope.awaitTurn(0)) < 0)
        ;
    else if (auto f = vtx::forced(Call::Open))
        r = *f;
    else if (vtx::Backend &b = vtx::backend(); (r = b.open(serial)) >= 0)
        r = vtx::handleFor(b, r);
    if (vtx::tracing())
        vtx::emit(vtx::format("vtxOpen(%s) = %d", vtx::quoted(serial).c_str(), r));
    vtx::noteResult(r, 0, -1);
    return r;
}

int32_t vtxSelectAdapter(const char *name) {
    vtx::CallScope scope;
    int32_t r = 0;
    if (!name) {
        vtx::mine().selected.reset();
    } else if (const std::string why = vtx::adapterNameProblem(name); !why.empty()) {
        vtx::detail::noteProblem(why);
        r = -EINVAL;
    } else {
        vtx::mine().selected = name;
    }
    if (vtx::tracing())
        vtx::emit(vtx::format("vtxSelectAdapter(%s) = %d", vtx::quoted(name).c_str(), r));
    vtx::noteResult(r, 0, -1);
    return r;
}

int32_t vtxFirmwareVersion_Read(int32_t handle, uint8_t *buffer, int32_t length) {
    vtx::CallScope scope;
    vtx::Backend *backend = nullptr;
    int32_t adapter, r;
    if (!vtx::adapterOf(handle, backend, adapter)) {
        r = -EBADF;
    } else if (!buffer || length < vtx::kMinVersionLength || length > vtx::kMaxVersionLength) {
        r = -EINVAL;
    } else if ((r = scope.awaitTurn(handle)) < 0) {
        std::memset(buffer, 0, length);
    } else {
        std::memset(buffer, 0, length);
        r = vtx::dispatch(Call::FirmwareVersion_Read, *backend, [&](vtx::Backend &b) {
            return b.firmwareVersion(adapter, buffer, length);
        });
    }
    if (vtx::tracing()) {
        std::string line = vtx::format("vtxFirmwareVersion_Read(%d, %d) = %d", handle, length, r);
        if (r >= 0) {
            for (int32_t i = 0; i < length; ++i)
                line += vtx::format(i == 0 ? " [%02X" : " %02X", buffer[i]);
            line += ']';
        }
        vtx::emit(line);
    }
    vtx::noteResult(r, handle, -1);
    return r;
}

int32_t vtxI2C_Control(int32_t handle, int32_t speed, int32_t pullups, int32_t enable) {
    vtx::CallScope scope;
    vtx::Backend *backend = nullptr;
    int32_t adapter, r;
    if (!vtx::adapterOf(handle, backend, adapter))
        r = -EBADF;
    else if ((r = scope.awaitTurn(handle)) == 0)
        r = vtx::dispatch(Call::I2C_Control, *backend, [&](vtx::Backend &b) {
            return b.i2cControl(adapter, speed, pullups, enable);
        });
    if (vtx::tracing())
        vtx::emit(
            vtx::format("vtxI2C_Control(%d, %d, %d, %d) = %d", handle, speed, pullups, enable, r));
    vtx::noteResult(r, handle, -1);
    return r;
}

int32_t vtxGPIO_WriteControl(int32_t handle, int32_t cfg0, int32_t cfg1, int32_t cfg2, int32_t cfg3,
                             int32_t cfg4, int32_t cfg5, int32_t cfg6, int32_t cfg7, int32_t cfg8,
                             int32_t cfg9, int32_t cfg10, int32_t cfg11, int32_t cfg12) {
    vtx::CallScope scope;
    const vtx::GpioConfig cfg = {cfg0, cfg1, cfg2, cfg3,  cfg4,  cfg5, cfg6,
                                 cfg7, cfg8, cfg9, cfg10, cfg11, cfg12};
    vtx::Backend *backend = nullptr;
    int32_t adapter, r;
    if (!vtx::adapterOf(handle, backend, adapter))
        r = -EBADF;
    else if ((r = scope.awaitTurn(handle)) == 0)
        r = vtx::dispatch(Call::GPIO_WriteControl, *backend,
                          [&](vtx::Backend &b) { return b.gpioWriteControl(adapter, cfg); });
    if (vtx::tracing()) {
        std::string line = vtx::format("vtxGPIO_WriteControl(%d", handle);
        for (int32_t value : cfg)
            line += vtx::format(", %d", value);
        vtx::emit(line + vtx::format(") = %d", r));
    }
    vtx::noteResult(r, handle, -1);
    return r;
}

int32_t vtxPower_WriteControl(int32_t handle, int32_t supplyOn, int32_t voltage) {
    vtx::CallScope scope;
    vtx::Backend *backend = nullptr;
    int32_t adapter, r;
    if (!vtx::adapterOf(handle, backend, adapter))
        r = -EBADF;
    else if ((r = scope.awaitTurn(handle)) == 0)
        r = vtx::dispatch(Call::Power_WriteControl, *backend, [&](vtx::Backend &b) {
            return b.powerWriteControl(adapter, supplyOn, voltage);
        });
    if (vtx::tracing())
        vtx::emit(
            vtx::format("vtxPower_WriteControl(%d, %d, %d) = %d", handle, supplyOn, voltage, r));
    vtx::noteResult(r, handle, -1);
    return r;
}

int32_t vtxI2C_RegisterWrite(int32_t handle, uint16_t device, uint8_t reg, uint8_t value) {
    int32_t r;
    {
        vtx::CallScope scope;
        vtx::Backend *backend = nullptr;
        int32_t adapter;
        if (!vtx::adapterOf(handle, backend, adapter))
            r = -EBADF;
        else if (device > vtx::kMaxDevice)
            r = -EINVAL;
        else if ((r = scope.awaitTurn(handle)) == 0)
            r = vtx::dispatchAt(Call::I2C_RegisterWrite, reg, *backend, [&](vtx::Backend &b) {
                return b.registerWrite(adapter, device, reg, value);
            });
        if (vtx::tracing())
            vtx::emit(vtx::format("vtxI2C_RegisterWrite(%d, 0x%02X, 0x%02X, 0x%02X) = %d", handle,
                                  device, reg, value, r));
        vtx::noteResult(r, handle, device);
    }
    // Outside the library's lock, as the read's below.
    vtx::noteAccess({true, handle, device, reg, value, r});
    return r;
}

int32_t vtxI2C_RegisterRead(int32_t handle, uint16_t device, uint8_t reg) {
    int32_t r, delayMs;
    {
        vtx::CallScope scope;
        vtx::Backend *backend = nullptr;
        int32_t adapter;
        if (!vtx::adapterOf(handle, backend, adapter))
            r = -EBADF;
        else if (device > vtx::kMaxDevice)
            r = -EINVAL;
        else if ((r = scope.awaitTurn(handle)) == 0)
            r = vtx::dispatchAt(Call::I2C_RegisterRead, reg, *backend, [&](vtx::Backend &b) {
                return b.registerRead(adapter, device, reg);
            });
        if (vtx::tracing())
            vtx::emit(vtx::format("vtxI2C_RegisterRead(%d, 0x%02X, 0x%02X) = %d", handle, device,
                                  reg, r));
        vtx::noteResult(r, handle, device);
        delayMs = vtx::lib().readDelayMs;
    }
    vtx::noteAccess({false, handle, device, reg, static_cast<uint8_t>(r < 0 ? 0 : r), r});
    // Outside the library's lock, so that another thread, like another
    // program, may get in before this caller's next call.
    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    return r;
}

int32_t vtxLastError(char *text, int32_t size) {
    vtx::CallScope scope;
    const vtx::ThreadState &me = vtx::mine();
    if (text && size > 0)
        std::snprintf(text, static_cast<size_t>(size), "%s", me.lastText.c_str());
    return me.lastResult;
}

int32_t vtxLock(int32_t handle, int32_t timeout_ms) {
    vtx::CallScope scope;
    vtx::Backend *backend = nullptr;
    int32_t adapter, r;
    if (!vtx::adapterOf(handle, backend, adapter)) {
        r = -EBADF;
    } else if (timeout_ms < 0) {
        r = -EINVAL;
    } else if (vtx::Hold &hold = vtx::lib().handles[handle - 1].hold;
               hold.count > 0 && hold.owner == std::this_thread::get_id()) {
        ++hold.count;
        r = 0;
    } else {
        // Another thread's hold first, then another program's, within the
        // one time-out.
        const auto start = std::chrono::steady_clock::now();
        vtx::mine().gaveUp = false;
        r = scope.awaitTurn(handle, timeout_ms);
        if (r == 0) {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count();
            const auto left = static_cast<int32_t>(std::max<int64_t>(0, timeout_ms - waited));
            r = vtx::dispatch(Call::Lock, *backend,
                              [&](vtx::Backend &b) { return b.lock(adapter, left); });
        }
        if (r == 0) {
            // The table may have grown while this thread waited.
            vtx::Hold &now = vtx::lib().handles[handle - 1].hold;
            now.count = 1;
            now.owner = std::this_thread::get_id();
            vtx::mine().holding = true;
        }
    }
    if (vtx::tracing())
        vtx::emit(vtx::format("vtxLock(%d, %d) = %d", handle, timeout_ms, r));
    return r;
}

int32_t vtxUnlock(int32_t handle) {
    vtx::CallScope scope;
    vtx::Backend *backend = nullptr;
    int32_t adapter, r;
    if (!vtx::adapterOf(handle, backend, adapter)) {
        r = -EBADF;
    } else if (vtx::Hold &hold = vtx::lib().handles[handle - 1].hold;
               hold.count == 0 || hold.owner != std::this_thread::get_id()) {
        r = -EPERM;
    } else if (--hold.count > 0) {
        r = 0;
    } else {
        r = vtx::endHold(vtx::lib().handles[handle - 1]);
    }
    if (vtx::tracing())
        vtx::emit(vtx::format("vtxUnlock(%d) = %d", handle, r));
    return r;
}

namespace vtx {

int32_t heldByThisThread(int32_t handle) {
    CallScope scope;
    Backend *backend = nullptr;
    int32_t adapter;
    if (!adapterOf(handle, backend, adapter))
        return 0;
    const Hold &hold = lib().handles[handle - 1].hold;
    return hold.owner == std::this_thread::get_id() ? hold.count : 0;
}

void setReopenUnplugged(bool reopen) {
    CallScope scope;
    detail::reopenUnplugged() = reopen;
}

namespace {

// What `handle`'s backend says of its adapter, `none` for a handle the
// library did not hand out; not a call on the adapter, so not traced.
template <typename T, typename F> T askBackend(int32_t handle, T none, F &&ask) {
    CallScope scope;
    Backend *backend = nullptr;
    int32_t adapter;
    return adapterOf(handle, backend, adapter) ? ask(*backend, adapter) : none;
}

} // namespace

std::string whereIs(int32_t handle) {
    return askBackend(handle, std::string(),
                      [](Backend &b, int32_t adapter) { return b.where(adapter); });
}

bool unplugged(int32_t handle) {
    return askBackend(handle, false,
                      [](Backend &b, int32_t adapter) { return b.unplugged(adapter); });
}

bool reopensWhenBack(int32_t handle) {
    return askBackend(handle, false,
                      [](Backend &b, int32_t adapter) { return b.reopens(adapter); });
}

int32_t awaitReplug(int32_t handle, int32_t timeoutMs) {
    int events = -1;
    {
        CallScope scope;
        Backend *backend = nullptr;
        int32_t adapter;
        if (!adapterOf(handle, backend, adapter))
            return -EBADF;
        if (!backend->unplugged(adapter))
            return 0;
        // A copy, so that a reopen by another thread meanwhile cannot take
        // the descriptor from under this wait.
        if (const int fd = backend->replugEvents(adapter); fd >= 0)
            events = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    }
    // Outside the library's lock: other threads' calls go on meanwhile.
    detail::WaitClock clock;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    int32_t r = -ETIMEDOUT;
    for (;;) {
        if (clock.interrupted()) {
            r = -EINTR;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        if (events < 0) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min<int64_t>(left, kInterruptCheckMs)));
            continue;
        }
        // One sleep for the whole time, so that waiting costs nothing: a
        // signal (Ctrl+C, SIGTERM) ends it early, and its check is asked at
        // once.
        pollfd p{events, POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, INT32_MAX)));
        if (n > 0) {
            r = 0;
            break;
        }
        if (n < 0 && errno == EINTR)
            clock = detail::WaitClock();
    }
    if (events >= 0)
        ::close(events);
    return r;
}

namespace {

// A call on `handle`'s backend, as the front end makes every call.
template <typename F> int32_t onHandle(int32_t handle, F &&call) {
    CallScope scope;
    Backend *backend = nullptr;
    int32_t adapter, r;
    if (!adapterOf(handle, backend, adapter))
        r = -EBADF;
    else if ((r = scope.awaitTurn(handle)) == 0)
        r = call(*backend, adapter);
    noteResult(r, handle, -1);
    return r;
}

} // namespace

int32_t supplyState(int32_t handle) {
    return onHandle(handle, [](Backend &b, int32_t adapter) { return b.supplyState(adapter); });
}

int32_t lineStates(int32_t handle, std::vector<gpio::LineState> &states) {
    return onHandle(handle,
                    [&](Backend &b, int32_t adapter) { return b.lineStates(adapter, states); });
}

int32_t setLine(int32_t handle, const std::string &name, int value, bool force) {
    return onHandle(handle, [&](Backend &b, int32_t adapter) {
        return b.setLine(adapter, name, value, force);
    });
}

Backend *detail::backendFor(int32_t handle) {
    Library &l = lib();
    if (handle == 0) {
        const auto it = l.backends.find(l.defaultName);
        return it == l.backends.end() ? nullptr : it->second.get();
    }
    Backend *backend = nullptr;
    int32_t adapter;
    return adapterOf(handle, backend, adapter) ? backend : nullptr;
}

int32_t unlockFor(int32_t handle, std::thread::id owner) {
    CallScope scope;
    Backend *backend = nullptr;
    int32_t adapter;
    if (!adapterOf(handle, backend, adapter))
        return -EBADF;
    Hold &hold = lib().handles[handle - 1].hold;
    if (hold.count == 0 || hold.owner != owner)
        return -EPERM;
    if (--hold.count == 0)
        endHold(lib().handles[handle - 1]);
    return 0;
}

} // namespace vtx
