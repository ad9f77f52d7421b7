// SPDX-License-Identifier: MIT
// The I2C bus behind an emulated bridge: messages to the chips on an adapter
// backend's bus (the simulated evaluation board), and the faults a bench has:
// the board's supply switched off, a transfer stretched past the host's
// patience, the bridge pulled out while in use; and the bench's wiring of a
// GPIO line to the board's supply, with a log of the GPIO requests and I2C
// messages in the order the bridge gets them.
#ifndef EMULATED_BRIDGE_BOARD_BUS_H
#define EMULATED_BRIDGE_BOARD_BUS_H

#include "vtx/backend.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace emulated_bridge {

// Switched from outside, signal handlers included: each flag takes effect at
// the bridge's next request.
struct Faults {
    std::atomic<bool> unpowered{false};  // the board's supply is off: nothing acknowledges
    std::atomic<bool> stretching{false}; // transfers never finish
    std::atomic<bool> unplug{false};     // the bridge is pulled out
};

// Which GPIO line of the bridge switches the board's supply: its offset
// (-1: none, the board is powered on its own) and whether the switch is on
// while the line is low. And a pin whose function the bridge's flash has set
// to something else than GPIO (-1: none).
struct GpioWiring {
    int supply = -1;
    bool activeLow = false;
    int otherFunction = -1;
};

// "GP2", "!GP2" (an MCP2221's four lines), "GPIO.5" (a CP2112's eight):
// the line's offset, or -1 when `bridge` has no such line.
int gpioLineOffset(const std::string &bridge, const std::string &name, bool *activeLow = nullptr);

class BoardBus {
public:
    // `adapter` is an opened adapter of `backend` whose chip is powered.
    // After `unplugAfter` messages (negative: never) the bridge is pulled out.
    BoardBus(vtx::Backend &backend, int32_t adapter, Faults &faults, long unplugAfter = -1);

    // One I2C message. Written bytes are a register number followed by
    // values for it and the registers after it; a read continues from the
    // last register named. False when the address did not acknowledge; a
    // read that fails leaves the rest of `bytes` at 0xFF, what an idle bus
    // reads.
    bool write(uint8_t address, const std::vector<uint8_t> &bytes);
    bool read(uint8_t address, std::vector<uint8_t> &bytes);

    // The bench's wiring; with a supply line the board starts unpowered.
    void wire(const GpioWiring &wiring);
    const GpioWiring &wiring() const { return wiring_; }
    // A line of the bridge changed: the board's supply follows it, on while
    // the line is an output at its active level (an input leaves the
    // switch's enable to its pull resistor: off).
    void lineChanged(int offset, bool output, int level);
    // Every GPIO request and I2C message, one line each, to `log` (the
    // bridge keeps it open; nullptr: no log).
    void setLog(std::FILE *log) { log_ = log; }
    void note(const std::string &line);
    bool logging() const { return log_ != nullptr; }

    // A transfer started now would not finish.
    bool stretching() const { return faults_.stretching.load(); }
    bool unplugged() const { return faults_.unplug.load(); }

    // The register a chip at `address` reads through the bus, or -1: what
    // the board holds, for whoever watches the bridge from outside.
    int registerValue(uint8_t address, uint8_t reg);

private:
    // Follows the supply switch; a supply coming back starts the chip afresh.
    void followSupply();
    bool acknowledges(uint8_t address);
    void count();

    vtx::Backend &backend_;
    int32_t adapter_;
    Faults &faults_;
    long remaining_;
    bool powered_ = true;
    GpioWiring wiring_;
    std::atomic<bool> lineOn_{true}; // the supply line drives the switch on
    std::FILE *log_ = nullptr;
    std::mutex logMutex_;
    std::array<uint8_t, 128> pointer_{}; // register pointer per address
    std::mutex mutex_;
};

} // namespace emulated_bridge

#endif
