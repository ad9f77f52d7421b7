// SPDX-License-Identifier: MIT
#include "emulated_bridge/tiny_usb_device.h"

#include <linux/i2c.h>

namespace emulated_bridge {
namespace {

// The bridge's own requests.
constexpr uint8_t kCmdEcho = 0;
constexpr uint8_t kCmdGetFunc = 1;
constexpr uint8_t kCmdSetDelay = 2;
constexpr uint8_t kCmdGetStatus = 3;
constexpr uint8_t kCmdI2cIo = 4; // | 1 start, | 2 stop

constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kTypeVendor = 0x40;

const BridgeIdentity kIdentity = {0x0110, 8, kVendorId, kProductId,
                                  "XQ4620 emulated evaluation board (i2c-tiny-usb)"};

// Plain I2C and every SMBus transfer the kernel can build from it.
constexpr uint32_t kFunctionality = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;

} // namespace

TinyUsbDevice::TinyUsbDevice(BoardBus &bus, std::string serial, uint16_t release)
    : BridgeDevice(bus, kIdentity, std::move(serial), release) {}

std::vector<uint8_t> TinyUsbDevice::interfaceDescriptors() const {
    return {9, 4, 0, 0, 0, 0xFF, 0x00, 0x00, 0}; // one vendor interface, no endpoints
}

ControlReply TinyUsbDevice::request(const SetupPacket &setup, const std::vector<uint8_t> &out) {
    if ((setup.requestType & kTypeMask) != kTypeVendor)
        return ControlReply::stall();
    switch (setup.request) {
    case kCmdEcho:
        return replyWith({uint8_t(setup.value), uint8_t(setup.value >> 8)});
    case kCmdGetFunc:
        return replyWith({uint8_t(kFunctionality), uint8_t(kFunctionality >> 8),
                          uint8_t(kFunctionality >> 16), uint8_t(kFunctionality >> 24)});
    case kCmdSetDelay:
        return replyWith(); // the model has no bus timing
    case kCmdGetStatus:
        return replyWith({status_});
    case kCmdI2cIo:
    case kCmdI2cIo | 1:
    case kCmdI2cIo | 2:
    case kCmdI2cIo | 3: {
        // A stretched transfer outlasts the driver's wait for the request.
        if (bus_.stretching())
            return ControlReply::unanswered();
        if (setup.index > 0x7F || (setup.value & I2C_M_TEN)) {
            status_ = kStatusNak; // no ten-bit addresses on this bus
            return replyWith(std::vector<uint8_t>(setup.in() ? setup.length : 0, 0xFF));
        }
        const uint8_t address = uint8_t(setup.index);
        if (setup.in()) {
            std::vector<uint8_t> bytes(setup.length, 0xFF);
            status_ = bus_.read(address, bytes) ? kStatusAck : kStatusNak;
            return replyWith(std::move(bytes));
        }
        status_ = bus_.write(address, out) ? kStatusAck : kStatusNak;
        return replyWith();
    }
    }
    return ControlReply::stall();
}

std::unique_ptr<BridgeDevice> makeTinyUsb(BoardBus &bus, const std::string &serial,
                                          uint16_t release) {
    return std::make_unique<TinyUsbDevice>(bus, serial, release);
}

} // namespace emulated_bridge
