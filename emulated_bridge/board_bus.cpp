// SPDX-License-Identifier: MIT
#include "emulated_bridge/board_bus.h"

#include <algorithm>

namespace emulated_bridge {

BoardBus::BoardBus(vtx::Backend &backend, int32_t adapter, Faults &faults, long unplugAfter)
    : backend_(backend), adapter_(adapter), faults_(faults), remaining_(unplugAfter) {}

void BoardBus::followSupply() {
    const bool on = !faults_.unpowered.load();
    if (on != powered_ && backend_.powerWriteControl(adapter_, on ? 1 : 0, 0) == 0)
        powered_ = on;
}

void BoardBus::count() {
    if (remaining_ > 0 && --remaining_ == 0)
        faults_.unplug = true;
}

bool BoardBus::acknowledges(uint8_t address) {
    // Register 0 exists on the chip, and reading it changes nothing.
    return backend_.registerRead(adapter_, address, 0x00) >= 0;
}

bool BoardBus::write(uint8_t address, const std::vector<uint8_t> &bytes) {
    std::lock_guard lock(mutex_);
    followSupply();
    count();
    if (address > 0x7F)
        return false;
    if (bytes.empty())
        return acknowledges(address);
    uint8_t &reg = pointer_[address];
    reg = bytes[0];
    if (bytes.size() == 1)
        return acknowledges(address);
    for (size_t i = 1; i < bytes.size(); ++i) {
        if (backend_.registerWrite(adapter_, address, reg, bytes[i]) < 0)
            return false;
        ++reg;
    }
    return true;
}

bool BoardBus::read(uint8_t address, std::vector<uint8_t> &bytes) {
    std::lock_guard lock(mutex_);
    followSupply();
    count();
    std::fill(bytes.begin(), bytes.end(), 0xFF);
    if (address > 0x7F)
        return false;
    if (bytes.empty())
        return acknowledges(address);
    uint8_t &reg = pointer_[address];
    for (uint8_t &b : bytes) {
        const int32_t v = backend_.registerRead(adapter_, address, reg);
        if (v < 0)
            return false;
        b = uint8_t(v);
        ++reg;
    }
    return true;
}

int BoardBus::registerValue(uint8_t address, uint8_t reg) {
    std::lock_guard lock(mutex_);
    followSupply();
    const int32_t v = backend_.registerRead(adapter_, address, reg);
    return v < 0 ? -1 : v;
}

} // namespace emulated_bridge
