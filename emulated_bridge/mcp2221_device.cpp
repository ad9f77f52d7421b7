// SPDX-License-Identifier: MIT
// A USB-to-I2C bridge that speaks the MCP2221's HID protocol, so that the
// kernel's hid-mcp2221 driver binds to it. Only its HID interface is
// presented (the serial port beside it on the real chip is left out).
//
// Every command is a 64-byte output report without report ID whose first
// byte names it; the bridge answers each with one input report starting with
// the same byte. An I2C write (0x90, 0x94 without stop) or read request
// (0x91, 0x93 after a repeated start) carries the length in bytes 1-2 and the
// address shifted left in byte 3; the bytes read are fetched with GET_DATA
// (0x40). STATUS/SET PARAMETERS (0x10) reports the engine's state, sets the
// bus speed and cancels a transfer that failed.
//
// GPIO SET (0x50) carries four bytes a pin from byte 2: change the value,
// the value, change the direction, the direction (0 output, 1 input); its
// answer echoes them, 0xEE in all four for a pin that is not a GPIO. GPIO
// GET (0x51) answers two bytes a pin from byte 2, laid out as hid-mcp2221
// reads them: the direction, then the value. A pin in another function
// answers 0xEE in both, which the driver takes for "not a GPIO" whether it
// reads the pin's value or its direction (it also takes 0xEF in the byte
// after the value, which would wrongly fail the next pin's read).
#include "emulated_bridge/hid_bridge.h"

#include <algorithm>

namespace emulated_bridge {
namespace {

constexpr uint8_t kStatusSetParameters = 0x10;
constexpr uint8_t kWrite = 0x90;
constexpr uint8_t kWriteNoStop = 0x94;
constexpr uint8_t kRead = 0x91;
constexpr uint8_t kReadRepeatedStart = 0x93;
constexpr uint8_t kGetData = 0x40;
constexpr uint8_t kGpioSet = 0x50;
constexpr uint8_t kGpioGet = 0x51;

// Byte 2 of a STATUS/SET PARAMETERS command, and of its answer.
constexpr uint8_t kCancel = 0x10;
constexpr uint8_t kCancelled = 0x10;
// Byte 3: a new speed divider follows in byte 4.
constexpr uint8_t kSetSpeed = 0x20;

// States of the I2C engine (byte 8 of a status answer, byte 2 of GET_DATA's).
constexpr uint8_t kEngineIdle = 0x00;
constexpr uint8_t kEngineAddressNack = 0x25;
constexpr uint8_t kEngineReadComplete = 0x55;
// Byte 20 of a status answer: the address was not acknowledged.
constexpr uint8_t kAddressNacked = 0x40;

constexpr int kPins = 4;
constexpr uint8_t kDirOut = 0x00;
constexpr uint8_t kDirIn = 0x01;
constexpr uint8_t kNotGpioValue = 0xEE;

const BridgeIdentity kIdentity = {0x0200, 64, 0x04D8, 0x00DD,
                                  "XQ4620 emulated evaluation board (MCP2221)"};

class Mcp2221Device final : public HidBridge {
public:
    Mcp2221Device(BoardBus &bus, const std::string &serial, uint16_t release)
        : HidBridge(
              bus, kIdentity, serial, release, {3, 3},
              vendorReportDescriptor({{0, HidReport::Input, 64}, {0, HidReport::Output, 64}})) {}

private:
    std::vector<uint8_t> getFeature(uint8_t) override { return {}; }
    bool setFeature(const std::vector<uint8_t> &) override { return false; }
    void outputReport(const std::vector<uint8_t> &report) override;
    std::vector<uint8_t> status(const std::vector<uint8_t> &command);
    std::vector<uint8_t> getData();
    std::vector<uint8_t> gpioSet(const std::vector<uint8_t> &command);
    std::vector<uint8_t> gpioGet();

    bool nacked_ = false;       // the last transfer's address was not acknowledged
    std::vector<uint8_t> read_; // bytes read and not fetched yet
    uint8_t divider_ = 26;      // 400 kHz
    // Every pin starts as an input reading low.
    uint8_t direction_[kPins] = {kDirIn, kDirIn, kDirIn, kDirIn};
    uint8_t value_[kPins] = {};
};

void Mcp2221Device::outputReport(const std::vector<uint8_t> &report) {
    std::vector<uint8_t> command = report;
    command.resize(kHidReportSize, 0);
    const uint8_t code = command[0];
    const size_t length = size_t(command[1] | command[2] << 8);
    const uint8_t address = uint8_t(command[3] >> 1);
    switch (code) {
    case kStatusSetParameters:
        sendReport(status(command));
        return;
    case kWrite:
    case kWriteNoStop:
    case kRead:
    case kReadRepeatedStart:
    case kGetData:
        // A stretched transfer never answers: the driver's wait runs out.
        if (bus_.stretching())
            return;
        break;
    case kGpioGet:
        sendReport(gpioGet());
        return;
    case kGpioSet:
        sendReport(gpioSet(command));
        return;
    default:
        sendReport({code, 0x01}); // not supported
        return;
    }

    if (code == kGetData) {
        sendReport(getData());
        return;
    }
    if (code == kWrite || code == kWriteNoStop) {
        // One report carries up to 60 of the bytes; the chip sees what came.
        const size_t carried = std::min<size_t>(length, 60);
        const std::vector<uint8_t> bytes(command.begin() + 4, command.begin() + 4 + carried);
        nacked_ = !bus_.write(address, bytes);
    } else {
        std::vector<uint8_t> bytes(length);
        nacked_ = !bus_.read(address, bytes);
        read_ = nacked_ ? std::vector<uint8_t>{} : bytes;
    }
    sendReport({code, 0x00}); // the command was taken; its outcome comes later
}

std::vector<uint8_t> Mcp2221Device::status(const std::vector<uint8_t> &command) {
    std::vector<uint8_t> answer(kHidReportSize, 0);
    answer[0] = kStatusSetParameters;
    if (command[2] == kCancel) {
        nacked_ = false;
        read_.clear();
        answer[2] = kCancelled;
    }
    if (command[3] == kSetSpeed) {
        divider_ = command[4];
        answer[3] = kSetSpeed;
    }
    answer[8] = nacked_ ? kEngineAddressNack : kEngineIdle;
    answer[14] = divider_;
    answer[20] = nacked_ ? kAddressNacked : 0;
    // Hardware and firmware revisions, as the chip reports them.
    answer[46] = 'A';
    answer[47] = '6';
    answer[48] = '1';
    answer[49] = '2';
    return answer;
}

std::vector<uint8_t> Mcp2221Device::gpioSet(const std::vector<uint8_t> &command) {
    std::vector<uint8_t> answer(command.begin(), command.begin() + 2 + 4 * kPins);
    answer[1] = 0x00;
    for (int pin = 0; pin < kPins; ++pin) {
        const size_t at = size_t(2 + 4 * pin);
        const std::string name = "GP" + std::to_string(pin);
        if (!command[at] && !command[at + 2])
            continue;
        if (pin == bus_.wiring().otherFunction) {
            bus_.note("gpio set " + name + " refused: not a GPIO pin");
            std::fill(answer.begin() + long(at), answer.begin() + long(at) + 4, kNotGpioValue);
            continue;
        }
        if (command[at + 2]) {
            direction_[pin] = command[at + 3] == kDirOut ? kDirOut : kDirIn;
            bus_.note("gpio set " + name + " direction " +
                      (direction_[pin] == kDirOut ? "out" : "in"));
        }
        if (command[at]) {
            value_[pin] = command[at + 1] ? 1 : 0;
            bus_.note("gpio set " + name + " value " + std::to_string(value_[pin]));
        }
        bus_.lineChanged(pin, direction_[pin] == kDirOut, value_[pin]);
    }
    return answer;
}

std::vector<uint8_t> Mcp2221Device::gpioGet() {
    bus_.note("gpio get");
    std::vector<uint8_t> answer = {kGpioGet, 0x00};
    for (int pin = 0; pin < kPins; ++pin) {
        if (pin == bus_.wiring().otherFunction)
            answer.insert(answer.end(), {kNotGpioValue, kNotGpioValue});
        else
            answer.insert(answer.end(), {direction_[pin], value_[pin]});
    }
    return answer;
}

std::vector<uint8_t> Mcp2221Device::getData() {
    if (nacked_)
        return {kGetData, 0x00, kEngineAddressNack, 0};
    const size_t n = std::min<size_t>(read_.size(), 60);
    std::vector<uint8_t> answer = {kGetData, 0x00, kEngineReadComplete, uint8_t(n)};
    answer.insert(answer.end(), read_.begin(), read_.begin() + long(n));
    read_.erase(read_.begin(), read_.begin() + long(n));
    return answer;
}

} // namespace

std::unique_ptr<BridgeDevice> makeMcp2221(BoardBus &bus, const std::string &serial,
                                          uint16_t release) {
    return std::make_unique<Mcp2221Device>(bus, serial, release);
}

} // namespace emulated_bridge
