// SPDX-License-Identifier: MIT
// A USB-to-I2C bridge that speaks the FT260's HID protocol, so that the
// kernel's hid-ft260 driver binds to it. It is strapped for I2C only: one
// HID interface.
//
// Set-up and state travel in feature reports: chip version (0xA0), system
// settings (0xA1, also written to reset the I2C controller or set its clock)
// and I2C status (0xC0: controller busy, error, address not acknowledged,
// idle). A write is an output report 0xD0-0xDE (address, start/stop flags,
// length, data) that the host follows with status reads; a read is a
// request (0xC2) whose bytes come back in input reports 0xD0-0xDE.
#include "emulated_bridge/hid_bridge.h"

#include <algorithm>

namespace emulated_bridge {
namespace {

constexpr uint8_t kChipVersion = 0xA0;
constexpr uint8_t kSystemSettings = 0xA1;
constexpr uint8_t kI2cStatus = 0xC0;
constexpr uint8_t kReadRequest = 0xC2;
constexpr uint8_t kDataFirst = 0xD0;
constexpr uint8_t kDataLast = 0xDE;

// Requests written to the system settings report.
constexpr uint8_t kResetI2c = 0x20;
constexpr uint8_t kSetI2cClock = 0x22;

// The I2C status bits.
constexpr uint8_t kControllerBusy = 0x01;
constexpr uint8_t kErrorBit = 0x02;
constexpr uint8_t kAddressNack = 0x04;
constexpr uint8_t kControllerIdle = 0x20;
constexpr uint8_t kBusBusy = 0x40;

constexpr uint8_t kModeI2cOnly = 0x01;
constexpr size_t kDataMax = 60; // bytes in one data report

const BridgeIdentity kIdentity = {0x0200, 64, 0x0403, 0x6030,
                                  "XQ4620 emulated evaluation board (FT260)"};

std::vector<HidReport> reports() {
    std::vector<HidReport> r = {
        {kChipVersion, HidReport::Feature, 12},
        {kSystemSettings, HidReport::Feature, 25},
        {kI2cStatus, HidReport::Feature, 4},
        {kReadRequest, HidReport::Output, 4},
    };
    for (uint8_t id = kDataFirst; id <= kDataLast; ++id) {
        r.push_back({id, HidReport::Input, 63});
        r.push_back({id, HidReport::Output, 63});
    }
    return r;
}

class Ft260Device final : public HidBridge {
public:
    Ft260Device(BoardBus &bus, const std::string &serial, uint16_t release)
        : HidBridge(bus, kIdentity, serial, release, {1, 2}, vendorReportDescriptor(reports())) {}

private:
    std::vector<uint8_t> getFeature(uint8_t id) override;
    bool setFeature(const std::vector<uint8_t> &report) override;
    void outputReport(const std::vector<uint8_t> &report) override;
    uint8_t status() const;

    bool busy_ = false;    // a stretched transfer holds the controller
    bool failed_ = false;  // the last address was not acknowledged
    uint16_t clock_ = 100; // kHz
};

uint8_t Ft260Device::status() const {
    if (busy_)
        return kControllerBusy | kBusBusy;
    return failed_ ? kControllerIdle | kErrorBit | kAddressNack : kControllerIdle;
}

std::vector<uint8_t> Ft260Device::getFeature(uint8_t id) {
    switch (id) {
    case kChipVersion: {
        std::vector<uint8_t> r = {kChipVersion, 0x02, 0x60, 0x02, 0x00};
        r.resize(13, 0);
        return r;
    }
    case kSystemSettings: {
        // I2C only, 48 MHz, awake, ready, I2C enabled, UART off.
        std::vector<uint8_t> r = {kSystemSettings, kModeI2cOnly, 2, 0, 1, 1, 0};
        r.resize(26, 0);
        return r;
    }
    case kI2cStatus:
        return {kI2cStatus, status(), uint8_t(clock_), uint8_t(clock_ >> 8), 0};
    }
    return {};
}

bool Ft260Device::setFeature(const std::vector<uint8_t> &report) {
    if (report[0] != kSystemSettings || report.size() < 2)
        return false;
    switch (report[1]) {
    case kResetI2c:
        busy_ = false;
        failed_ = false;
        return true;
    case kSetI2cClock:
        if (report.size() < 4)
            return false;
        clock_ = uint16_t(report[2] | report[3] << 8);
        return true;
    }
    return true; // other settings change nothing the bus does
}

void Ft260Device::outputReport(const std::vector<uint8_t> &report) {
    std::vector<uint8_t> r = report;
    r.resize(kHidReportSize, 0);
    const uint8_t address = r[1] & 0x7F;
    if (r[0] != kReadRequest && (r[0] < kDataFirst || r[0] > kDataLast))
        return;
    if (bus_.stretching()) {
        // The controller holds the bus: the host's status polling runs out.
        busy_ = true;
        return;
    }
    if (r[0] == kReadRequest) {
        std::vector<uint8_t> bytes(size_t(r[3] | r[4] << 8));
        failed_ = !bus_.read(address, bytes);
        if (failed_)
            return; // nothing comes back
        for (size_t at = 0; at < bytes.size(); at += kDataMax) {
            const size_t n = std::min(kDataMax, bytes.size() - at);
            std::vector<uint8_t> answer = {uint8_t(kDataFirst + (n - 1) / 4), uint8_t(n)};
            answer.insert(answer.end(), bytes.begin() + long(at), bytes.begin() + long(at + n));
            sendReport(std::move(answer));
        }
        return;
    }
    const size_t length = std::min<size_t>(r[3], kDataMax);
    failed_ =
        !bus_.write(address, std::vector<uint8_t>(r.begin() + 4, r.begin() + 4 + long(length)));
}

} // namespace

std::unique_ptr<BridgeDevice> makeFt260(BoardBus &bus, const std::string &serial,
                                        uint16_t release) {
    return std::make_unique<Ft260Device>(bus, serial, release);
}

} // namespace emulated_bridge
