// SPDX-License-Identifier: MIT
// The I2C bus behind an emulated bridge: messages to the chips on an adapter
// backend's bus (the simulated evaluation board), and the faults a bench has:
// the board's supply switched off, a transfer stretched past the host's
// patience, the bridge pulled out while in use.
#ifndef EMULATED_BRIDGE_BOARD_BUS_H
#define EMULATED_BRIDGE_BOARD_BUS_H

#include "vtx/backend.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace emulated_bridge {

// Switched from outside, signal handlers included: each flag takes effect at
// the bridge's next request.
struct Faults {
    std::atomic<bool> unpowered{false};  // the board's supply is off: nothing acknowledges
    std::atomic<bool> stretching{false}; // transfers never finish
    std::atomic<bool> unplug{false};     // the bridge is pulled out
};

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
    std::array<uint8_t, 128> pointer_{}; // register pointer per address
    std::mutex mutex_;
};

} // namespace emulated_bridge

#endif
