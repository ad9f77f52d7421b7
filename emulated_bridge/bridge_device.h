// SPDX-License-Identifier: MIT
// What every emulated bridge shares: a USB device with one configuration and
// one interface, its descriptors and the standard requests of endpoint 0,
// with the board's bus behind it. Each bridge adds its interface's
// descriptors and its own requests and transfers, in a file of its own.
#ifndef EMULATED_BRIDGE_BRIDGE_DEVICE_H
#define EMULATED_BRIDGE_BRIDGE_DEVICE_H

#include "emulated_bridge/board_bus.h"
#include "emulated_bridge/usbip_link.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace emulated_bridge {

// How a bridge shows itself in its device descriptor.
struct BridgeIdentity {
    uint16_t usbVersion;   // bcdUSB: 0x0110 or 0x0200
    uint8_t controlPacket; // endpoint 0's packet size
    uint16_t vendorId;
    uint16_t productId;
    const char *product; // the product string
};

class BridgeDevice : public UsbDevice {
public:
    // `release` is the bcdDevice the kernel reports (0x0102 for 1.02).
    BridgeDevice(BoardBus &bus, const BridgeIdentity &identity, std::string serial,
                 uint16_t release);

    ControlReply control(const SetupPacket &setup, const std::vector<uint8_t> &out) final;
    int32_t transferOut(uint8_t endpoint, const std::vector<uint8_t> &data) final;
    bool transferIn(uint8_t endpoint, std::vector<uint8_t> &data) final;
    bool unplugged() const final { return bus_.unplugged(); }

    const BridgeIdentity &identity() const { return identity_; }

protected:
    // The interface descriptor and what follows it in the configuration:
    // class descriptors and endpoints.
    virtual std::vector<uint8_t> interfaceDescriptors() const = 0;
    // A GET_DESCRIPTOR addressed to the interface (a HID report descriptor).
    virtual ControlReply interfaceDescriptor(uint8_t type) const;
    // Class and vendor requests.
    virtual ControlReply request(const SetupPacket &setup, const std::vector<uint8_t> &out) = 0;
    virtual int32_t dataOut(uint8_t endpoint, const std::vector<uint8_t> &data);
    virtual bool dataIn(uint8_t endpoint, std::vector<uint8_t> &data);

    BoardBus &bus_;

private:
    ControlReply standard(const SetupPacket &setup);
    ControlReply descriptor(uint8_t type, uint8_t index) const;

    BridgeIdentity identity_;
    std::string serial_;
    uint16_t release_;
    uint8_t configuration_ = 0;
    std::mutex mutex_;
};

ControlReply replyWith(std::vector<uint8_t> data = {});
std::vector<uint8_t> stringDescriptor(const std::string &text);

// The bridges the emulation offers, named as on the command line.
enum class Bridge { TinyUsb, Mcp2221, Cp2112, Ft260 };

struct BridgeKind {
    Bridge bridge;
    const char *name;   // "mcp2221"
    const char *driver; // the kernel driver's name, as sysfs shows it
    const char *module; // the module that holds it
};
const std::vector<BridgeKind> &bridgeKinds();
const BridgeKind *findBridge(const std::string &name);

std::unique_ptr<BridgeDevice> makeBridge(Bridge bridge, BoardBus &bus, const std::string &serial,
                                         uint16_t release);

// Each bridge's own file.
std::unique_ptr<BridgeDevice> makeTinyUsb(BoardBus &bus, const std::string &serial,
                                          uint16_t release);
std::unique_ptr<BridgeDevice> makeMcp2221(BoardBus &bus, const std::string &serial,
                                          uint16_t release);
std::unique_ptr<BridgeDevice> makeCp2112(BoardBus &bus, const std::string &serial,
                                         uint16_t release);
std::unique_ptr<BridgeDevice> makeFt260(BoardBus &bus, const std::string &serial, uint16_t release);

// The release number as the kernel shows it in bcdDevice: "1.02" is 0x0102.
// False unless the text is major.minor with one or two digits each.
bool parseRelease(const std::string &text, uint16_t &release);

} // namespace emulated_bridge

#endif
