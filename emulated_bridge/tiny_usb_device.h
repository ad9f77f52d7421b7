// SPDX-License-Identifier: MIT
// A USB-to-I2C bridge that speaks the i2c-tiny-usb protocol, so that the
// kernel's own i2c-tiny-usb driver binds to it.
//
// The protocol is vendor control requests on endpoint 0 addressed to the
// interface: GET_FUNC (1) reports what the bus can do, SET_DELAY (2) sets
// the bit delay, I2C_IO (4, plus 1 for a start and 2 for a stop) carries one
// I2C message to the address in wIndex, and GET_STATUS (3) tells afterwards
// whether that address acknowledged.
#ifndef EMULATED_BRIDGE_TINY_USB_DEVICE_H
#define EMULATED_BRIDGE_TINY_USB_DEVICE_H

#include "emulated_bridge/bridge_device.h"

#include <cstdint>

namespace emulated_bridge {

// One of the two vendor/product pairs the i2c-tiny-usb driver binds to.
constexpr uint16_t kVendorId = 0x1C40;
constexpr uint16_t kProductId = 0x0534;

// Replies of GET_STATUS.
constexpr uint8_t kStatusIdle = 0;
constexpr uint8_t kStatusAck = 1;
constexpr uint8_t kStatusNak = 2;

class TinyUsbDevice final : public BridgeDevice {
public:
    TinyUsbDevice(BoardBus &bus, std::string serial, uint16_t release);

private:
    std::vector<uint8_t> interfaceDescriptors() const override;
    ControlReply request(const SetupPacket &setup, const std::vector<uint8_t> &out) override;

    uint8_t status_ = kStatusIdle;
};

} // namespace emulated_bridge

#endif
