// SPDX-License-Identifier: MIT
// What the HID bridges share: one HID interface with an interrupt IN and an
// interrupt OUT endpoint of 64 bytes, a vendor-defined report descriptor,
// feature reports through GET_REPORT and SET_REPORT on endpoint 0, output
// reports on the OUT endpoint and input reports, 64 bytes each, queued for
// the IN endpoint. The kernel's usbhid binds to the interface and hands it
// to the bridge's own HID driver.
#ifndef EMULATED_BRIDGE_HID_BRIDGE_H
#define EMULATED_BRIDGE_HID_BRIDGE_H

#include "emulated_bridge/bridge_device.h"

#include <deque>

namespace emulated_bridge {

// One report of a vendor-defined report descriptor: its ID (0 for a device
// without report IDs), its kind and the bytes it carries after the ID.
struct HidReport {
    enum Kind : uint8_t { Input = 0x81, Output = 0x91, Feature = 0xB1 };
    uint8_t id;
    Kind kind;
    uint8_t size;
};
std::vector<uint8_t> vendorReportDescriptor(const std::vector<HidReport> &reports);

// A report's whole length on the wire, report ID included.
constexpr size_t kHidReportSize = 64;

struct HidEndpoints {
    uint8_t in; // the IN endpoint's number, without the direction bit
    uint8_t out;
};

class HidBridge : public BridgeDevice {
public:
    HidBridge(BoardBus &bus, const BridgeIdentity &identity, std::string serial, uint16_t release,
              HidEndpoints endpoints, std::vector<uint8_t> reportDescriptor);

protected:
    // A feature report the host asks for, report ID first; empty to stall.
    virtual std::vector<uint8_t> getFeature(uint8_t id) = 0;
    // A feature report the host sets, report ID first; false to stall.
    virtual bool setFeature(const std::vector<uint8_t> &report) = 0;
    // An output report from the OUT endpoint, report ID first when the
    // device numbers its reports.
    virtual void outputReport(const std::vector<uint8_t> &report) = 0;
    // Queues an input report for the IN endpoint, padded to 64 bytes.
    void sendReport(std::vector<uint8_t> report);

private:
    std::vector<uint8_t> interfaceDescriptors() const override;
    ControlReply interfaceDescriptor(uint8_t type) const override;
    ControlReply request(const SetupPacket &setup, const std::vector<uint8_t> &out) override;
    int32_t dataOut(uint8_t endpoint, const std::vector<uint8_t> &data) override;
    bool dataIn(uint8_t endpoint, std::vector<uint8_t> &data) override;
    std::vector<uint8_t> hidDescriptor() const;

    HidEndpoints endpoints_;
    std::vector<uint8_t> reportDescriptor_;
    std::deque<std::vector<uint8_t>> input_;
};

} // namespace emulated_bridge

#endif
