// SPDX-License-Identifier: MIT
#include "emulated_bridge/board_bus.h"

#include <algorithm>
#include <cstdio>

namespace emulated_bridge {

BoardBus::BoardBus(vtx::Backend &backend, int32_t adapter, Faults &faults, long unplugAfter)
    : backend_(backend), adapter_(adapter), faults_(faults), remaining_(unplugAfter) {}

int gpioLineOffset(const std::string &bridge, const std::string &name, bool *activeLow) {
    std::string line = name;
    const bool low = !line.empty() && line[0] == '!';
    if (low)
        line.erase(0, 1);
    const std::string prefix = bridge == "mcp2221" ? "GP" : bridge == "cp2112" ? "GPIO." : "";
    const int count = bridge == "mcp2221" ? 4 : bridge == "cp2112" ? 8 : 0;
    if (prefix.empty() || line.size() != prefix.size() + 1 || line.rfind(prefix, 0) != 0)
        return -1;
    const int offset = line.back() - '0';
    if (offset < 0 || offset >= count)
        return -1;
    if (activeLow)
        *activeLow = low;
    return offset;
}

void BoardBus::wire(const GpioWiring &wiring) {
    wiring_ = wiring;
    lineOn_ = wiring.supply < 0;
}

void BoardBus::lineChanged(int offset, bool output, int level) {
    if (offset != wiring_.supply)
        return;
    const bool on = output && (level != 0) != wiring_.activeLow;
    if (lineOn_.exchange(on) != on)
        note(on ? "supply on" : "supply off");
}

void BoardBus::note(const std::string &line) {
    if (!log_)
        return;
    std::lock_guard lock(logMutex_);
    std::fprintf(log_, "%s\n", line.c_str());
    std::fflush(log_);
}

namespace {

std::string message(const char *what, uint8_t address, const std::vector<uint8_t> &bytes,
                    bool written) {
    char text[16];
    std::snprintf(text, sizeof text, "i2c %s 0x%02X", what, address);
    std::string line = text;
    if (!written)
        return line + " " + std::to_string(bytes.size());
    for (const uint8_t b : bytes) {
        std::snprintf(text, sizeof text, " %02X", b);
        line += text;
    }
    return line;
}

} // namespace

void BoardBus::followSupply() {
    const bool on = !faults_.unpowered.load() && lineOn_.load();
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
    if (log_)
        note(message("write", address, bytes, true));
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
    if (log_)
        note(message("read", address, bytes, false));
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
