// SPDX-License-Identifier: MIT
// A USB-to-SMBus bridge that speaks the CP2112's HID protocol, so that the
// kernel's hid-cp2112 driver binds to it.
//
// Set-up travels in feature reports (version 0x05, SMBus configuration 0x06,
// lock byte 0x20, USB configuration 0x21, strings 0x22-0x24, GPIO 0x02-0x04).
// A transfer starts with an output report (read 0x10, write-read 0x11,
// write 0x14); the host then polls it with TRANSFER_STATUS_REQUEST (0x15),
// answered by input report 0x16 (idle, busy, complete or error, and the
// length), fetches what was read with DATA_READ_FORCE_SEND (0x12), answered
// by input report 0x13, and gives up on a transfer with CANCEL (0x17).
//
// GPIO as hid-cp2112 drives it: GET/SET GPIO_CONFIG (0x02) carries the
// direction mask (a set bit an output), the push-pull mask, the special
// functions and the clock divider; GPIO_GET (0x03) the eight levels;
// GPIO_SET (0x04) the levels and a mask of the lines they are for.
#include "emulated_bridge/hid_bridge.h"

#include <algorithm>
#include <cstdio>

namespace emulated_bridge {
namespace {

constexpr uint8_t kGpioConfig = 0x02;
constexpr uint8_t kGpioGet = 0x03;
constexpr uint8_t kGpioSet = 0x04;
constexpr uint8_t kVersion = 0x05;
constexpr uint8_t kSmbusConfig = 0x06;
constexpr uint8_t kReadRequest = 0x10;
constexpr uint8_t kWriteReadRequest = 0x11;
constexpr uint8_t kReadForceSend = 0x12;
constexpr uint8_t kReadResponse = 0x13;
constexpr uint8_t kWriteRequest = 0x14;
constexpr uint8_t kStatusRequest = 0x15;
constexpr uint8_t kStatusResponse = 0x16;
constexpr uint8_t kCancel = 0x17;
constexpr uint8_t kLockByte = 0x20;
constexpr uint8_t kUsbConfig = 0x21;
constexpr uint8_t kManufacturerString = 0x22;
constexpr uint8_t kProductString = 0x23;
constexpr uint8_t kSerialString = 0x24;

// Status 0 of a transfer, and status 1 of a failed one.
constexpr uint8_t kIdle = 0x00;
constexpr uint8_t kBusy = 0x01;
constexpr uint8_t kComplete = 0x02;
constexpr uint8_t kError = 0x03;
constexpr uint8_t kNackTimeout = 0x00;
constexpr uint8_t kSucceeded = 0x05;

// The part number and the version that does repeated starts.
constexpr uint8_t kPartNumber = 0x0C;
constexpr uint8_t kDeviceVersion = 0x03;

const BridgeIdentity kIdentity = {0x0200, 64, 0x10C4, 0xEA90,
                                  "XQ4620 emulated evaluation board (CP2112)"};

class Cp2112Device final : public HidBridge {
public:
    Cp2112Device(BoardBus &bus, const std::string &serial, uint16_t release)
        : HidBridge(bus, kIdentity, serial, release, {1, 1},
                    vendorReportDescriptor({
                        {kGpioConfig, HidReport::Feature, 4},
                        {kGpioGet, HidReport::Feature, 1},
                        {kGpioSet, HidReport::Feature, 2},
                        {kVersion, HidReport::Feature, 2},
                        {kSmbusConfig, HidReport::Feature, 13},
                        {kReadRequest, HidReport::Output, 3},
                        {kWriteReadRequest, HidReport::Output, 20},
                        {kReadForceSend, HidReport::Output, 2},
                        {kReadResponse, HidReport::Input, 63},
                        {kWriteRequest, HidReport::Output, 63},
                        {kStatusRequest, HidReport::Output, 1},
                        {kStatusResponse, HidReport::Input, 6},
                        {kCancel, HidReport::Output, 1},
                        {kLockByte, HidReport::Feature, 1},
                        {kUsbConfig, HidReport::Feature, 9},
                        {kManufacturerString, HidReport::Feature, 63},
                        {kProductString, HidReport::Feature, 63},
                        {kSerialString, HidReport::Feature, 63},
                    })),
          serial_(serial), release_(release) {
        // 100 kHz, address 0x02, no auto-send, no timeouts, no retry limit.
        config_ = {kSmbusConfig, 0x00, 0x01, 0x86, 0xA0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
    }

private:
    std::vector<uint8_t> getFeature(uint8_t id) override;
    bool setFeature(const std::vector<uint8_t> &report) override;
    void outputReport(const std::vector<uint8_t> &report) override;
    std::vector<uint8_t> text(uint8_t id, const std::string &value) const;
    // Records how a transfer went.
    void finish(bool acknowledged, size_t length);

    std::string serial_;
    uint16_t release_;
    std::vector<uint8_t> config_;
    uint8_t status0_ = kIdle;
    uint8_t status1_ = kSucceeded;
    size_t length_ = 0;
    std::vector<uint8_t> read_; // bytes read and not fetched yet
    // Every line starts as an open-drain input, its latch low.
    uint8_t outputs_ = 0x00;
    uint8_t pushPull_ = 0x00;
    uint8_t latch_ = 0x00;
    void linesChanged(uint8_t mask);
};

void Cp2112Device::linesChanged(uint8_t mask) {
    for (int line = 0; line < 8; ++line) {
        if (mask & (1 << line))
            bus_.lineChanged(line, outputs_ & (1 << line), latch_ & (1 << line));
    }
}

std::vector<uint8_t> Cp2112Device::text(uint8_t id, const std::string &value) const {
    const std::vector<uint8_t> d = stringDescriptor(value.substr(0, 30));
    std::vector<uint8_t> report = {id};
    report.insert(report.end(), d.begin(), d.end());
    report.resize(kHidReportSize, 0);
    return report;
}

std::vector<uint8_t> Cp2112Device::getFeature(uint8_t id) {
    const BridgeIdentity &me = identity();
    switch (id) {
    case kVersion:
        return {kVersion, kPartNumber, kDeviceVersion};
    case kSmbusConfig:
        return config_;
    case kLockByte:
        return {kLockByte, 0x00}; // every field programmed: read-only
    case kUsbConfig:
        return {kUsbConfig,
                uint8_t(me.vendorId),
                uint8_t(me.vendorId >> 8),
                uint8_t(me.productId),
                uint8_t(me.productId >> 8),
                50, // 100 mA
                0,  // bus powered
                uint8_t(release_ >> 8),
                uint8_t(release_),
                0};
    case kManufacturerString:
        return text(id, "xq4620-panel");
    case kProductString:
        return text(id, me.product);
    case kSerialString:
        return text(id, serial_);
    case kGpioConfig:
        bus_.note("gpio config get");
        return {kGpioConfig, outputs_, pushPull_, 0x00, 0x00};
    case kGpioGet: {
        bus_.note("gpio get");
        // An output reads its latch; an input nothing drives reads low.
        return {kGpioGet, uint8_t(latch_ & outputs_)};
    }
    }
    return {};
}

bool Cp2112Device::setFeature(const std::vector<uint8_t> &report) {
    switch (report[0]) {
    case kSmbusConfig:
        if (report.size() != config_.size())
            return false;
        config_ = report;
        return true;
    case kGpioConfig: {
        if (report.size() < 5)
            return false;
        const uint8_t changed = outputs_ ^ report[1];
        outputs_ = report[1];
        pushPull_ = report[2];
        char text[64];
        std::snprintf(text, sizeof text, "gpio config set outputs 0x%02X push-pull 0x%02X",
                      outputs_, pushPull_);
        bus_.note(text);
        linesChanged(changed);
        return true;
    }
    case kGpioSet: {
        if (report.size() < 3)
            return false;
        latch_ = uint8_t((latch_ & ~report[2]) | (report[1] & report[2]));
        char text[48];
        std::snprintf(text, sizeof text, "gpio set 0x%02X mask 0x%02X", report[1], report[2]);
        bus_.note(text);
        linesChanged(report[2]);
        return true;
    }
    }
    return false;
}

void Cp2112Device::finish(bool acknowledged, size_t length) {
    status0_ = acknowledged ? kComplete : kError;
    status1_ = acknowledged ? kSucceeded : kNackTimeout;
    length_ = acknowledged ? length : 0;
}

void Cp2112Device::outputReport(const std::vector<uint8_t> &report) {
    std::vector<uint8_t> r = report;
    r.resize(kHidReportSize, 0);
    const uint8_t address = uint8_t(r[1] >> 1);
    const bool starts = r[0] == kReadRequest || r[0] == kWriteReadRequest || r[0] == kWriteRequest;
    if (starts && bus_.stretching()) {
        // A stretched transfer stays busy until the host cancels it.
        status0_ = kBusy;
        status1_ = kNackTimeout;
        length_ = 0;
        read_.clear();
        return;
    }
    switch (r[0]) {
    case kReadRequest: {
        std::vector<uint8_t> bytes(size_t(r[2] << 8 | r[3]));
        const bool ack = bus_.read(address, bytes);
        read_ = ack ? bytes : std::vector<uint8_t>{};
        finish(ack, bytes.size());
        return;
    }
    case kWriteReadRequest: {
        const size_t targetLength = std::min<size_t>(r[4], 16);
        const std::vector<uint8_t> target(r.begin() + 5, r.begin() + 5 + long(targetLength));
        std::vector<uint8_t> bytes(size_t(r[2] << 8 | r[3]));
        const bool ack = bus_.write(address, target) && bus_.read(address, bytes);
        read_ = ack ? bytes : std::vector<uint8_t>{};
        finish(ack, bytes.size());
        return;
    }
    case kWriteRequest: {
        const size_t length = std::min<size_t>(r[2], 61);
        const std::vector<uint8_t> bytes(r.begin() + 3, r.begin() + 3 + long(length));
        finish(bus_.write(address, bytes), length);
        return;
    }
    case kStatusRequest:
        sendReport(
            {kStatusResponse, status0_, status1_, 0, 0, uint8_t(length_ >> 8), uint8_t(length_)});
        return;
    case kReadForceSend: {
        const size_t n = std::min({read_.size(), size_t(r[1] << 8 | r[2]), size_t(61)});
        std::vector<uint8_t> answer = {kReadResponse, n ? kComplete : kIdle, uint8_t(n)};
        answer.insert(answer.end(), read_.begin(), read_.begin() + long(n));
        read_.erase(read_.begin(), read_.begin() + long(n));
        sendReport(std::move(answer));
        return;
    }
    case kCancel:
        status0_ = kIdle;
        status1_ = kSucceeded;
        length_ = 0;
        read_.clear();
        return;
    }
}

} // namespace

std::unique_ptr<BridgeDevice> makeCp2112(BoardBus &bus, const std::string &serial,
                                         uint16_t release) {
    return std::make_unique<Cp2112Device>(bus, serial, release);
}

} // namespace emulated_bridge
