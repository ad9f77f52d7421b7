// SPDX-License-Identifier: MIT
// A USB-to-I2C bridge that speaks the i2c-tiny-usb protocol, so that the
// kernel's own i2c-tiny-usb driver binds to it, with an adapter backend's
// bus behind it: the simulated evaluation board in the emulated bridge.
//
// The protocol is vendor control requests on endpoint 0 addressed to the
// interface: GET_FUNC (1) reports what the bus can do, SET_DELAY (2) sets
// the bit delay, I2C_IO (4, plus 1 for a start and 2 for a stop) carries one
// I2C message to the address in wIndex, and GET_STATUS (3) tells afterwards
// whether that address acknowledged.
#ifndef EMULATED_BRIDGE_TINY_USB_DEVICE_H
#define EMULATED_BRIDGE_TINY_USB_DEVICE_H

#include "emulated_bridge/usbip_link.h"
#include "vtx/backend.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace emulated_bridge {

// One of the two vendor/product pairs the i2c-tiny-usb driver binds to.
constexpr uint16_t kVendorId = 0x1C40;
constexpr uint16_t kProductId = 0x0534;

// Replies of GET_STATUS.
constexpr uint8_t kStatusIdle = 0;
constexpr uint8_t kStatusAck = 1;
constexpr uint8_t kStatusNak = 2;

class TinyUsbDevice final : public ControlDevice {
public:
    // `bus` is an opened adapter of `backend` whose chip is powered; `release`
    // is the bcdDevice the kernel reports (0x0102 for 1.02).
    TinyUsbDevice(vtx::Backend &backend, int32_t bus, std::string serial, uint16_t release);

    ControlReply control(const SetupPacket &setup, const std::vector<uint8_t> &out) override;

    // The register a chip at `address` reads through the bus, or -1: what
    // the board holds, for whoever watches the bridge from outside.
    int registerValue(uint8_t address, uint8_t reg);

private:
    ControlReply standard(const SetupPacket &setup);
    ControlReply vendor(const SetupPacket &setup, const std::vector<uint8_t> &out);
    ControlReply descriptor(uint8_t type, uint8_t index) const;
    // One I2C message. Written bytes are a register number followed by
    // values for it and the registers after it; a read continues from the
    // last register named. False when the address did not acknowledge.
    bool writeMessage(uint8_t address, const std::vector<uint8_t> &bytes);
    bool readMessage(uint8_t address, std::vector<uint8_t> &bytes);
    bool acknowledges(uint8_t address);

    vtx::Backend &backend_;
    int32_t bus_;
    std::string serial_;
    uint16_t release_;
    uint8_t configuration_ = 0;
    uint8_t status_ = kStatusIdle;
    std::array<uint8_t, 128> pointer_{}; // register pointer per address
    std::mutex mutex_;
};

// The release number as the kernel shows it in bcdDevice: "1.02" is 0x0102.
// False unless the text is major.minor with one or two digits each.
bool parseRelease(const std::string &text, uint16_t &release);

} // namespace emulated_bridge

#endif
