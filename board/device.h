// SPDX-License-Identifier: MIT
// The evaluation board as a program drives it: the adapter opened and set up
// by the board's one set-up routine, held against our other programs while
// a sequence of accesses runs, and single-register access on the chip. Every
// failure is told once, through the sink, with the register and the
// library's reason; nothing here prints.
#ifndef BOARD_DEVICE_H
#define BOARD_DEVICE_H

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace board {

// Receives each failure as one sentence, without a program name.
using Complaints = std::function<void(const std::string &)>;

// `text` with every control character (and DEL) as \xNN, so that what a
// person typed cannot move the cursor or ring the bell in a message.
std::string escaped(const std::string &text);

// The library's own sentence for the call of this thread that just failed
// with `result` (it knows the chip and the adapter's driver); the bare words
// for the code otherwise.
std::string libraryReason(int32_t result);

// What a program says when another one holds the board past the wait.
inline constexpr char kBusy[] = "the board is busy: another program holds it";

class Device {
public:
    // `adapter`: the adapter's name as the program was given it, for the
    // messages; without it, VTX_ADAPTER names it.
    explicit Device(Complaints complaints, std::optional<std::string> adapter = std::nullopt)
        : complain_(std::move(complaints)), adapter_(std::move(adapter)) {}
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Finds, opens and sets up the adapter (the one `adapter` names, beside
    // any others the program has open; else VTX_ADAPTER's); false (after
    // saying why) when any step fails. Every set-up step that fails is named.
    // Several bridges and none named is refused: openResult() is then
    // vtx::kNotUnique.
    // Without `switchSupply` the board's supply is left as it is.
    bool open(bool switchSupply = true);
    // The result of the step of open() that failed (negative), 0 when none.
    int32_t openResult() const { return openResult_; }

    // Holds the board until this object goes, so that no other program of
    // ours (nor another thread of this one) gets between the accesses that
    // follow; false (after saying the board is busy) when another one held
    // it past the wait.
    bool hold();
    // How many holds the calling thread has through this object, and
    // letting go of them down to `count`: for a program that keeps its
    // Device across operations (the Python module), so that a finished
    // operation leaves the board free. Holds are each thread's own.
    int holds() const;
    void releaseTo(int count);

    const std::string &serial() const { return serial_; }
    // The library's handle, 0 before a good open.
    int32_t handle() const { return handle_; }
    uint8_t firmware() const { return firmware_; }
    uint8_t firmware2() const { return firmware2_; }

    std::optional<uint8_t> read(uint8_t reg);
    bool write(uint8_t reg, uint8_t value);

    void complain(const std::string &message) const { complain_(message); }

private:
    Complaints complain_;
    std::optional<std::string> adapter_;
    int32_t handle_ = 0;
    int32_t openResult_ = 0;
    mutable std::mutex holdsMutex_;
    std::map<std::thread::id, int> holds_;
    std::string serial_;
    uint8_t firmware_ = 0;
    uint8_t firmware2_ = 0;
};

} // namespace board

#endif
