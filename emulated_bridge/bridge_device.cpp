// SPDX-License-Identifier: MIT
#include "emulated_bridge/bridge_device.h"

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

constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kTypeStandard = 0x00;
constexpr uint8_t kRecipientMask = 0x1F;
constexpr uint8_t kRecipientInterface = 0x01;

const char *const kManufacturer = "xq4620-panel";

} // namespace

ControlReply replyWith(std::vector<uint8_t> data) {
    ControlReply r;
    r.data = std::move(data);
    return r;
}

std::vector<uint8_t> stringDescriptor(const std::string &text) {
    std::vector<uint8_t> d{uint8_t(2 + 2 * text.size()), kDescString};
    for (char c : text) {
        d.push_back(uint8_t(c));
        d.push_back(0);
    }
    return d;
}

BridgeDevice::BridgeDevice(BoardBus &bus, const BridgeIdentity &identity, std::string serial,
                           uint16_t release)
    : bus_(bus), identity_(identity), serial_(std::move(serial)), release_(release) {}

ControlReply BridgeDevice::control(const SetupPacket &setup, const std::vector<uint8_t> &out) {
    std::lock_guard lock(mutex_);
    if ((setup.requestType & kTypeMask) == kTypeStandard)
        return standard(setup);
    return request(setup, out);
}

int32_t BridgeDevice::transferOut(uint8_t endpoint, const std::vector<uint8_t> &data) {
    std::lock_guard lock(mutex_);
    return dataOut(endpoint, data);
}

bool BridgeDevice::transferIn(uint8_t endpoint, std::vector<uint8_t> &data) {
    std::lock_guard lock(mutex_);
    return dataIn(endpoint, data);
}

ControlReply BridgeDevice::interfaceDescriptor(uint8_t) const {
    return ControlReply::stall();
}

int32_t BridgeDevice::dataOut(uint8_t, const std::vector<uint8_t> &) {
    return -EPIPE;
}

bool BridgeDevice::dataIn(uint8_t, std::vector<uint8_t> &) {
    return false;
}

ControlReply BridgeDevice::descriptor(uint8_t type, uint8_t index) const {
    switch (type) {
    case kDescDevice: {
        const BridgeIdentity &id = identity_;
        return replyWith({
            18, kDescDevice, uint8_t(id.usbVersion), uint8_t(id.usbVersion >> 8), 0x00, 0x00,
            0x00, // class given by the interface
            id.controlPacket, uint8_t(id.vendorId), uint8_t(id.vendorId >> 8),
            uint8_t(id.productId), uint8_t(id.productId >> 8), uint8_t(release_),
            uint8_t(release_ >> 8), 1, 2, 3, // manufacturer, product, serial strings
            1,                               // one configuration
        });
    }
    case kDescConfiguration: {
        if (index != 0)
            return ControlReply::stall();
        const std::vector<uint8_t> interface = interfaceDescriptors();
        const size_t total = 9 + interface.size();
        std::vector<uint8_t> d = {
            9, kDescConfiguration, uint8_t(total), uint8_t(total >> 8), 1, 1, 0, 0x80,
            50}; // one interface, bus powered, 100 mA
        d.insert(d.end(), interface.begin(), interface.end());
        return replyWith(std::move(d));
    }
    case kDescString:
        switch (index) {
        case 0:
            return replyWith({4, kDescString, 0x09, 0x04}); // US English only
        case 1:
            return replyWith(stringDescriptor(kManufacturer));
        case 2:
            return replyWith(stringDescriptor(identity_.product));
        case 3:
            return replyWith(stringDescriptor(serial_));
        }
        return ControlReply::stall();
    }
    return ControlReply::stall();
}

ControlReply BridgeDevice::standard(const SetupPacket &setup) {
    switch (setup.request) {
    case kGetDescriptor:
        if ((setup.requestType & kRecipientMask) == kRecipientInterface)
            return interfaceDescriptor(uint8_t(setup.value >> 8));
        return descriptor(uint8_t(setup.value >> 8), uint8_t(setup.value));
    case kSetConfiguration:
        if (setup.value > 1)
            return ControlReply::stall();
        configuration_ = uint8_t(setup.value);
        return replyWith();
    case kGetConfiguration:
        return replyWith({configuration_});
    case kGetStatus:
        return replyWith({0, 0});
    case kGetInterface:
        return replyWith({0});
    case kSetInterface:
        return setup.value == 0 ? replyWith() : ControlReply::stall();
    case kClearFeature:
    case kSetFeature:
        return replyWith();
    }
    return ControlReply::stall();
}

const std::vector<BridgeKind> &bridgeKinds() {
    static const std::vector<BridgeKind> kinds = {
        {Bridge::TinyUsb, "tiny-usb", "i2c-tiny-usb", "i2c-tiny-usb"},
        {Bridge::Mcp2221, "mcp2221", "mcp2221", "hid-mcp2221"},
        {Bridge::Cp2112, "cp2112", "cp2112", "hid-cp2112"},
        {Bridge::Ft260, "ft260", "ft260", "hid-ft260"},
    };
    return kinds;
}

const BridgeKind *findBridge(const std::string &name) {
    for (const BridgeKind &k : bridgeKinds()) {
        if (name == k.name)
            return &k;
    }
    return nullptr;
}

std::unique_ptr<BridgeDevice> makeBridge(Bridge bridge, BoardBus &bus, const std::string &serial,
                                         uint16_t release) {
    switch (bridge) {
    case Bridge::TinyUsb:
        return makeTinyUsb(bus, serial, release);
    case Bridge::Mcp2221:
        return makeMcp2221(bus, serial, release);
    case Bridge::Cp2112:
        return makeCp2112(bus, serial, release);
    case Bridge::Ft260:
        return makeFt260(bus, serial, release);
    }
    return nullptr;
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
