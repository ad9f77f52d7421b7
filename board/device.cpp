// SPDX-License-Identifier: MIT
#include "board/device.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "chip/xq4620.h"
#include "link/board_setup.h"
#include "vtx/adapters.h"
#include "vtx/holds.h"
#include "vtx/reason.h"
#include "vtx/vtx.h"

namespace board {
namespace {

std::string reasonOf(const SetUpStep &step) {
    return step.why.empty() ? vtx::reason(step.result) : step.why;
}

std::string adapterSetting(const std::optional<std::string> &given) {
    if (given)
        return given->empty() ? "adapter \"\": USB-attached I2C adapters only"
                              : "adapter \"" + escaped(*given) + "\"";
    const char *name = std::getenv("VTX_ADAPTER");
    if (!name || !*name)
        return "VTX_ADAPTER unset: USB-attached I2C adapters only";
    return "VTX_ADAPTER=" + escaped(name);
}

} // namespace

std::string libraryReason(int32_t result) {
    char text[512];
    if (result < 0 && vtxLastError(text, sizeof text) == result && text[0])
        return text;
    return vtx::reason(result);
}

std::string escaped(const std::string &text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out;
}

// Every thread's holds end with the object, whichever thread it goes in.
Device::~Device() {
    for (auto &[thread, count] : holds_) {
        for (; count > 0; --count) {
            if (thread == std::this_thread::get_id())
                vtxUnlock(handle_);
            else
                vtx::unlockFor(handle_, thread);
        }
    }
}

int Device::holds() const {
    std::lock_guard lock(holdsMutex_);
    const auto it = holds_.find(std::this_thread::get_id());
    return it == holds_.end() ? 0 : it->second;
}

void Device::releaseTo(int count) {
    std::lock_guard lock(holdsMutex_);
    const auto it = holds_.find(std::this_thread::get_id());
    if (it == holds_.end())
        return;
    for (; it->second > count && it->second > 0; --it->second)
        vtxUnlock(handle_);
    if (it->second == 0)
        holds_.erase(it);
}

bool Device::open(bool switchSupply) {
    char serial[VTX_SERIAL_SIZE] = {};
    if (adapter_ && vtxSelectAdapter(adapter_->c_str()) < 0) {
        openResult_ = -EINVAL;
        complain_(libraryReason(-EINVAL));
        return false;
    }
    const BoardSetUp s = SetUpBoard(handle_, serial, switchSupply);
    if (adapter_)
        vtxSelectAdapter(nullptr);
    const auto refuse = [this](int32_t result, const std::string &message) {
        openResult_ = result < 0 ? result : -ENODEV;
        complain_(message);
        return false;
    };
    // A shared board another program holds makes even the set-up wait; the
    // wait's end is said in its own words.
    for (const SetUpStep *step : {&s.found, &s.serial, &s.open, &s.version}) {
        if (step->result == -EBUSY)
            return refuse(-EBUSY, kBusy);
    }
    if (s.found.result == vtx::kNotUnique)
        return refuse(s.found.result, s.found.why);
    // A damaged shared board's file: the library's sentence says it all.
    if (s.found.result == -EUCLEAN && !s.found.why.empty())
        return refuse(-EUCLEAN, s.found.why);
    if (s.found.result == 0)
        return refuse(-ENODEV, "no adapter found (" + adapterSetting(adapter_) + ")");
    if (s.found.failed())
        return refuse(s.found.result,
                      "no adapter found (" + adapterSetting(adapter_) + "): " + reasonOf(s.found));
    if (s.serial.failed())
        return refuse(s.serial.result,
                      "cannot read the adapter's serial number: " + reasonOf(s.serial));
    serial_ = serial;
    if (s.open.result <= 0)
        return refuse(s.open.result, "cannot open adapter " + serial_ + ": " + reasonOf(s.open));
    if (s.version.failed())
        return refuse(s.version.result,
                      "cannot read the adapter's firmware version: " + reasonOf(s.version));
    firmware_ = static_cast<uint8_t>((s.firmware[0] << 4) + s.firmware[1]);
    firmware2_ = static_cast<uint8_t>((s.firmware[2] << 4) + s.firmware[3]);
    // All three steps were tried, so that every one that fails is named.
    const struct {
        const SetUpStep &step;
        const char *what;
    } steps[] = {{s.bus, "I2C bus set-up failed: "},
                 {s.gpio, "GPIO set-up failed: "},
                 {s.power, "board power set-up failed: "}};
    bool ok = true;
    for (const auto &item : steps) {
        if (item.step.failed()) {
            refuse(item.step.result, item.step.result == -EBUSY ? std::string(kBusy)
                                                                : item.what + reasonOf(item.step));
            ok = false;
        }
    }
    return ok;
}

bool Device::hold() {
    const int32_t r = vtxLock(handle_, VTX_CALL_WAIT_MS);
    if (r == 0) {
        std::lock_guard lock(holdsMutex_);
        ++holds_[std::this_thread::get_id()];
        return true;
    }
    complain_(r == -EBUSY ? std::string(kBusy) : "cannot hold the board: " + libraryReason(r));
    return false;
}

std::optional<uint8_t> Device::read(uint8_t reg) {
    const int32_t r = vtxI2C_RegisterRead(handle_, chip::kDeviceAddress, reg);
    if (r < 0) {
        complain_(chip::registerLabel(reg) +
                  ": read failed: " + (r == -EBUSY ? std::string(kBusy) : libraryReason(r)));
        return std::nullopt;
    }
    return static_cast<uint8_t>(r & 0xFF);
}

bool Device::write(uint8_t reg, uint8_t value) {
    const int32_t r = vtxI2C_RegisterWrite(handle_, chip::kDeviceAddress, reg, value);
    if (r != 0) {
        complain_(chip::registerLabel(reg) +
                  ": write failed: " + (r == -EBUSY ? std::string(kBusy) : libraryReason(r)));
        return false;
    }
    return true;
}

} // namespace board
