// SPDX-License-Identifier: MIT
#include "emulated_bridge/hid_bridge.h"

#include <cerrno>

namespace emulated_bridge {
namespace {

// HID 1.11, section 7.2: class requests to the interface.
constexpr uint8_t kGetReport = 0x01;
constexpr uint8_t kSetIdle = 0x0A;
constexpr uint8_t kSetReport = 0x09;
constexpr uint8_t kReportFeature = 3;

constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kTypeClass = 0x20;

constexpr uint8_t kDescHid = 0x21;
constexpr uint8_t kDescReport = 0x22;

} // namespace

std::vector<uint8_t> vendorReportDescriptor(const std::vector<HidReport> &reports) {
    std::vector<uint8_t> d = {
        0x06, 0x00, 0xFF, // usage page: vendor-defined
        0x09, 0x01,       // usage 1
        0xA1, 0x01,       // collection: application
        0x15, 0x00,       // logical minimum 0
        0x26, 0xFF, 0x00, // logical maximum 255
        0x75, 0x08,       // report size: 8 bits
    };
    for (const HidReport &r : reports) {
        if (r.id != 0)
            d.insert(d.end(), {0x85, r.id});                                  // report ID
        d.insert(d.end(), {0x95, r.size, 0x09, 0x01, uint8_t(r.kind), 0x02}); // count, usage, data
    }
    d.push_back(0xC0); // end collection
    return d;
}

HidBridge::HidBridge(BoardBus &bus, const BridgeIdentity &identity, std::string serial,
                     uint16_t release, HidEndpoints endpoints,
                     std::vector<uint8_t> reportDescriptor)
    : BridgeDevice(bus, identity, std::move(serial), release), endpoints_(endpoints),
      reportDescriptor_(std::move(reportDescriptor)) {}

std::vector<uint8_t> HidBridge::hidDescriptor() const {
    const size_t n = reportDescriptor_.size();
    return {9, kDescHid, 0x11, 0x01, 0, 1, kDescReport, uint8_t(n), uint8_t(n >> 8)};
}

std::vector<uint8_t> HidBridge::interfaceDescriptors() const {
    std::vector<uint8_t> d = {9, 4, 0, 0, 2, 0x03, 0x00, 0x00, 0}; // HID, no boot protocol
    const std::vector<uint8_t> hid = hidDescriptor();
    d.insert(d.end(), hid.begin(), hid.end());
    // Interrupt endpoints of 64 bytes, polled every millisecond.
    d.insert(d.end(), {7, 5, uint8_t(0x80 | endpoints_.in), 0x03, 64, 0, 1});
    d.insert(d.end(), {7, 5, endpoints_.out, 0x03, 64, 0, 1});
    return d;
}

ControlReply HidBridge::interfaceDescriptor(uint8_t type) const {
    if (type == kDescReport)
        return replyWith(reportDescriptor_);
    if (type == kDescHid)
        return replyWith(hidDescriptor());
    return ControlReply::stall();
}

ControlReply HidBridge::request(const SetupPacket &setup, const std::vector<uint8_t> &out) {
    if ((setup.requestType & kTypeMask) != kTypeClass)
        return ControlReply::stall();
    const uint8_t type = uint8_t(setup.value >> 8);
    const uint8_t id = uint8_t(setup.value);
    switch (setup.request) {
    case kSetIdle:
        return replyWith();
    case kGetReport: {
        if (type != kReportFeature)
            return ControlReply::stall();
        std::vector<uint8_t> report = getFeature(id);
        return report.empty() ? ControlReply::stall() : replyWith(std::move(report));
    }
    case kSetReport:
        if (type != kReportFeature || out.empty() || out[0] != id)
            return ControlReply::stall();
        return setFeature(out) ? replyWith() : ControlReply::stall();
    }
    return ControlReply::stall();
}

int32_t HidBridge::dataOut(uint8_t endpoint, const std::vector<uint8_t> &data) {
    if (endpoint != endpoints_.out)
        return -EPIPE;
    if (!data.empty())
        outputReport(data);
    return 0;
}

bool HidBridge::dataIn(uint8_t endpoint, std::vector<uint8_t> &data) {
    if (endpoint != endpoints_.in || input_.empty())
        return false;
    data = std::move(input_.front());
    input_.pop_front();
    return true;
}

void HidBridge::sendReport(std::vector<uint8_t> report) {
    report.resize(kHidReportSize, 0);
    input_.push_back(std::move(report));
}

} // namespace emulated_bridge
