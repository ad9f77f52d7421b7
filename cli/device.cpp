// SPDX-License-Identifier: MIT
#include "cli/device.h"

#include <cstdlib>

#include "chip/xq4620.h"
#include "cli/messages.h"
#include "vtx/reason.h"
#include "vtx/vtx.h"

namespace cli {
namespace {

// The library's own sentence for the call that just failed, which knows the
// chip and the adapter's driver; the bare words for the code otherwise.
std::string reasonOf(int32_t result) {
    char text[512];
    if (result < 0 && vtxLastError(text, sizeof text) == result && text[0])
        return text;
    return vtx::reason(result);
}

std::string adapterSetting() {
    const char *name = std::getenv("VTX_ADAPTER");
    if (!name || !*name)
        return "VTX_ADAPTER unset: USB-attached I2C adapters only";
    return std::string("VTX_ADAPTER=") + name;
}

} // namespace

bool Device::open() {
    if (vtxFindControllers() <= 0) {
        complain(kDeviceFailure, "no adapter found (" + adapterSetting() + ")");
        return false;
    }
    char serial[VTX_SERIAL_SIZE] = {};
    if (const int32_t r = vtxGetSerialNumber(0, serial); r < 0) {
        complain(kDeviceFailure, "cannot read the adapter's serial number: " + reasonOf(r));
        return false;
    }
    serial_ = serial;
    handle_ = vtxOpen(serial);
    if (handle_ <= 0) {
        complain(kDeviceFailure, "cannot open adapter " + serial_ + ": " + reasonOf(handle_));
        return false;
    }
    uint8_t version[8] = {};
    if (const int32_t r = vtxFirmwareVersion_Read(handle_, version, 5); r < 0) {
        complain(kDeviceFailure, "cannot read the adapter's firmware version: " + reasonOf(r));
        return false;
    }
    firmware_ = static_cast<uint8_t>((version[0] << 4) + version[1]);
    firmware2_ = static_cast<uint8_t>((version[2] << 4) + version[3]);
    // The board is wired for exactly the panel's set-up; all three steps are
    // tried so that every one that fails is named.
    bool ok = true;
    if (const int32_t r = vtxI2C_Control(handle_, 0, 0, 1); r < 0) {
        complain(kDeviceFailure, "I2C bus set-up failed: " + reasonOf(r));
        ok = false;
    }
    if (const int32_t r = vtxGPIO_WriteControl(handle_, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0);
        r < 0) {
        complain(kDeviceFailure, "GPIO set-up failed: " + reasonOf(r));
        ok = false;
    }
    if (const int32_t r = vtxPower_WriteControl(handle_, 1, 0); r < 0) {
        complain(kDeviceFailure, "board power set-up failed: " + reasonOf(r));
        ok = false;
    }
    return ok;
}

std::optional<uint8_t> Device::read(uint8_t reg) {
    const int32_t r = vtxI2C_RegisterRead(handle_, chip::kDeviceAddress, reg);
    if (r < 0) {
        complain(kDeviceFailure, chip::registerLabel(reg) + ": read failed: " + reasonOf(r));
        return std::nullopt;
    }
    return static_cast<uint8_t>(r & 0xFF);
}

bool Device::write(uint8_t reg, uint8_t value) {
    const int32_t r = vtxI2C_RegisterWrite(handle_, chip::kDeviceAddress, reg, value);
    if (r != 0) {
        complain(kDeviceFailure, chip::registerLabel(reg) + ": write failed: " + reasonOf(r));
        return false;
    }
    return true;
}

} // namespace cli
