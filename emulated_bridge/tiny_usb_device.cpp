// SPDX-License-Identifier: MIT
#include "emulated_bridge/tiny_usb_device.h"

#include <linux/i2c.h>

#include <cerrno>

namespace emulated_bridge {
namespace {

// Standard requests (USB 2.0, chapter 9).
constexpr uint8_t kGetStatus = 0;
constexpr uint8_t kClearFeature = 1;
constexpr uint8_t kSetFeature = 3;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kGetConfiguration = 8;
constexpr uint8_t kSetConfiguration = 9;
constexpr uint8_t kGetInterface = 10;
constexpr uint8_t kSetInterface = 11;

constexpr uint8_t kDescDevice = 1;
constexpr uint8_t kDescConfiguration = 2;
constexpr uint8_t kDescString = 3;

// The bridge's own requests.
constexpr uint8_t kCmdEcho = 0;
constexpr uint8_t kCmdGetFunc = 1;
constexpr uint8_t kCmdSetDelay = 2;
constexpr uint8_t kCmdGetStatus = 3;
constexpr uint8_t kCmdI2cIo = 4; // | 1 start, | 2 stop

constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kTypeStandard = 0x00;
constexpr uint8_t kTypeVendor = 0x40;

const char *const kManufacturer = "xq4620-panel";
const char *const kProduct = "XQ4620 emulated evaluation board (i2c-tiny-usb)";

// Plain I2C and every SMBus transfer the kernel can build from it.
constexpr uint32_t kFunctionality = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;

std::vector<uint8_t> stringDescriptor(const std::string &text) {
    std::vector<uint8_t> d{uint8_t(2 + 2 * text.size()), kDescString};
    for (char c : text) {
        d.push_back(uint8_t(c));
        d.push_back(0);
    }
    return d;
}

ControlReply ok(std::vector<uint8_t> data = {}) {
    ControlReply r;
    r.data = std::move(data);
    return r;
}

} // namespace

TinyUsbDevice::TinyUsbDevice(vtx::Backend &backend, int32_t bus, std::string serial,
                             uint16_t release)
    : backend_(backend), bus_(bus), serial_(std::move(serial)), release_(release) {}

ControlReply TinyUsbDevice::control(const SetupPacket &setup, const std::vector<uint8_t> &out) {
    std::lock_guard lock(mutex_);
    switch (setup.requestType & kTypeMask) {
    case kTypeStandard:
        return standard(setup);
    case kTypeVendor:
        return vendor(setup, out);
    default:
        return ControlReply::stall();
    }
}

ControlReply TinyUsbDevice::descriptor(uint8_t type, uint8_t index) const {
    switch (type) {
    case kDescDevice:
        return ok({
            18, kDescDevice, 0x10, 0x01, // USB 1.1
            0x00, 0x00, 0x00,            // class given by the interface
            8,                           // endpoint 0 packet size
            uint8_t(kVendorId), uint8_t(kVendorId >> 8), uint8_t(kProductId),
            uint8_t(kProductId >> 8), uint8_t(release_), uint8_t(release_ >> 8), 1, 2,
            3, // manufacturer, product, serial strings
            1, // one configuration
        });
    case kDescConfiguration:
        if (index != 0)
            return ControlReply::stall();
        return ok({
            9, kDescConfiguration, 18, 0, 1, 1, 0, 0x80, 50, // bus powered, 100 mA
            9, 4, 0, 0, 0, 0xFF, 0x00, 0x00, 0,              // one vendor interface, no endpoints
        });
    case kDescString:
        switch (index) {
        case 0:
            return ok({4, kDescString, 0x09, 0x04}); // US English only
        case 1:
            return ok(stringDescriptor(kManufacturer));
        case 2:
            return ok(stringDescriptor(kProduct));
        case 3:
            return ok(stringDescriptor(serial_));
        }
        return ControlReply::stall();
    }
    return ControlReply::stall();
}

ControlReply TinyUsbDevice::standard(const SetupPacket &setup) {
    switch (setup.request) {
    case kGetDescriptor:
        return descriptor(uint8_t(setup.value >> 8), uint8_t(setup.value));
    case kSetConfiguration:
        if (setup.value > 1)
            return ControlReply::stall();
        configuration_ = uint8_t(setup.value);
        return ok();
    case kGetConfiguration:
        return ok({configuration_});
    case kGetStatus:
        return ok({0, 0});
    case kGetInterface:
        return ok({0});
    case kSetInterface:
        return setup.value == 0 ? ok() : ControlReply::stall();
    case kClearFeature:
    case kSetFeature:
        return ok();
    }
    return ControlReply::stall();
}

ControlReply TinyUsbDevice::vendor(const SetupPacket &setup, const std::vector<uint8_t> &out) {
    switch (setup.request) {
    case kCmdEcho:
        return ok({uint8_t(setup.value), uint8_t(setup.value >> 8)});
    case kCmdGetFunc:
        return ok({uint8_t(kFunctionality), uint8_t(kFunctionality >> 8),
                   uint8_t(kFunctionality >> 16), uint8_t(kFunctionality >> 24)});
    case kCmdSetDelay:
        return ok(); // the model has no bus timing
    case kCmdGetStatus:
        return ok({status_});
    case kCmdI2cIo:
    case kCmdI2cIo | 1:
    case kCmdI2cIo | 2:
    case kCmdI2cIo | 3: {
        if (setup.index > 0x7F || (setup.value & I2C_M_TEN)) {
            status_ = kStatusNak; // no ten-bit addresses on this bus
            return ok(std::vector<uint8_t>(setup.in() ? setup.length : 0, 0xFF));
        }
        const uint8_t address = uint8_t(setup.index);
        if (setup.in()) {
            std::vector<uint8_t> bytes(setup.length, 0xFF);
            status_ = readMessage(address, bytes) ? kStatusAck : kStatusNak;
            return ok(std::move(bytes));
        }
        status_ = writeMessage(address, out) ? kStatusAck : kStatusNak;
        return ok();
    }
    }
    return ControlReply::stall();
}

bool TinyUsbDevice::acknowledges(uint8_t address) {
    // Register 0 exists on the chip, and reading it changes nothing.
    return backend_.registerRead(bus_, address, 0x00) >= 0;
}

bool TinyUsbDevice::writeMessage(uint8_t address, const std::vector<uint8_t> &bytes) {
    if (bytes.empty())
        return acknowledges(address);
    uint8_t &reg = pointer_[address];
    reg = bytes[0];
    if (bytes.size() == 1)
        return acknowledges(address);
    for (size_t i = 1; i < bytes.size(); ++i) {
        if (backend_.registerWrite(bus_, address, reg, bytes[i]) < 0)
            return false;
        ++reg;
    }
    return true;
}

bool TinyUsbDevice::readMessage(uint8_t address, std::vector<uint8_t> &bytes) {
    uint8_t &reg = pointer_[address];
    for (uint8_t &b : bytes) {
        const int32_t v = backend_.registerRead(bus_, address, reg);
        if (v < 0)
            return false; // the rest stays 0xFF, what an idle bus reads
        b = uint8_t(v);
        ++reg;
    }
    return true;
}

int TinyUsbDevice::registerValue(uint8_t address, uint8_t reg) {
    std::lock_guard lock(mutex_);
    const int32_t v = backend_.registerRead(bus_, address, reg);
    return v < 0 ? -1 : v;
}

bool parseRelease(const std::string &text, uint16_t &release) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const size_t dot = text.find('.');
    if (dot == std::string::npos || dot < 1 || dot > 2 || text.size() != dot + 3)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != dot && !digit(text[i]))
            return false;
    }
    const unsigned major = unsigned(std::stoi(text.substr(0, dot)));
    const unsigned minor = unsigned(std::stoi(text.substr(dot + 1)));
    release = uint16_t((major / 10) << 12 | (major % 10) << 8 | (minor / 10) << 4 | minor % 10);
    return true;
}

} // namespace emulated_bridge
