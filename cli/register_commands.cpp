// SPDX-License-Identifier: MIT
// Whole registers: identification, the full dump, raw read and write, the
// software reset and sleep.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "chip/field_value.h"
#include "chip/hex_byte.h"
#include "chip/xq4620.h"
#include "cli/commands.h"
#include "cli/device.h"
#include "cli/messages.h"
#include "link/version_line.h"

namespace cli {
namespace {

constexpr uint8_t kPartHigh = 0x0A;
constexpr uint8_t kPartLow = 0x0B;
constexpr uint8_t kRevision = 0x12;

void print(const nlohmann::ordered_json &doc) {
    std::printf("%s\n", doc.dump(2).c_str());
}

std::optional<uint8_t> byteArgument(const char *what, const std::string &text) {
    const auto value = chip::parseHexByte(text);
    if (!value)
        complain(kUsageError, std::string(what) + " \"" + text +
                                  "\" is not a hex byte (00 to FF, optionally with 0x)");
    return value;
}

// Every field of the register with its value: "sleep=1, ..., ovp=24 V".
std::string decoded(uint8_t reg, uint8_t value) {
    std::string out;
    for (const chip::Field *f : chip::fieldsOf(reg))
        out += (out.empty() ? "" : ", ") + std::string(f->name) + "=" +
               chip::fieldText(*f, f->valueIn(value));
    return out;
}

nlohmann::ordered_json decodedJson(uint8_t reg, uint8_t value) {
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (const chip::Field *f : chip::fieldsOf(reg)) {
        const unsigned v = f->valueIn(value);
        if (f->choices.empty())
            fields[f->name] = v;
        else
            fields[f->name] = chip::fieldText(*f, v);
    }
    return fields;
}

} // namespace

int runInfo(bool json) {
    Device device;
    if (!device.open())
        return kDeviceFailure;
    const auto high = device.read(kPartHigh);
    const auto low = device.read(kPartLow);
    const auto revision = device.read(kRevision);
    if (!high || !low || !revision)
        return kDeviceFailure;
    const std::string version = LinkVersionLine(device.firmware(), device.firmware2());
    char part[7], rev[5];
    std::snprintf(part, sizeof part, "0x%02X%02X", *high, *low);
    std::snprintf(rev, sizeof rev, "0x%02X", *revision);
    if (json) {
        print({{"adapter", device.serial()},
               {"version", version},
               {"part_number", part},
               {"revision", rev}});
    } else {
        std::printf("Adapter: %s\n%s\nPart number: %s\nSilicon revision: %s\n",
                    device.serial().c_str(), version.c_str(), part, rev);
    }
    return kSuccess;
}

// A register that cannot be read is named on standard error and shown as
// "--" (null in JSON); the others are still read, and the status is 1.
int runDump(bool json) {
    Device device;
    if (!device.open())
        return kDeviceFailure;
    int status = kSuccess;
    nlohmann::ordered_json registers = nlohmann::ordered_json::array();
    for (const uint8_t reg : chip::readableRegisters()) {
        const chip::Register &info = *chip::findRegister(reg);
        const auto value = device.read(reg);
        if (!value)
            status = kDeviceFailure;
        if (json) {
            registers.push_back(
                {{"address", reg},
                 {"name", info.name},
                 {"access", chip::accessText(info.access)},
                 {"value", value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json()},
                 {"fields", value ? decodedJson(reg, *value) : nlohmann::ordered_json()}});
            continue;
        }
        const std::string fields = value ? decoded(reg, *value) : "";
        std::printf("%s %-4s  %s%s%s\n", chip::hexByte(reg).c_str(),
                    value ? chip::hexByte(*value).c_str() : "--", info.name,
                    fields.empty() ? "" : ": ", fields.c_str());
    }
    if (json)
        print({{"registers", registers}});
    return status;
}

int runRead(const std::string &regText) {
    const auto reg = byteArgument("register", regText);
    if (!reg)
        return kUsageError;
    Device device;
    if (!device.open())
        return kDeviceFailure;
    const auto value = device.read(*reg);
    if (!value)
        return kDeviceFailure;
    std::printf("%s\n", chip::hexByte(*value).c_str());
    return kSuccess;
}

int runWrite(const std::string &regText, const std::string &valueText) {
    const auto reg = byteArgument("register", regText);
    const auto value = byteArgument("value", valueText);
    if (!reg || !value)
        return kUsageError;
    Device device;
    if (!device.open() || !device.write(*reg, *value))
        return kDeviceFailure;
    return kSuccess;
}

int runReset() {
    Device device;
    if (!device.open() || !device.write(chip::kSoftResetRegister, chip::kSoftResetValue))
        return kDeviceFailure;
    return kSuccess;
}

// Sleep is one bit of Control; the rest of the register is kept as the chip
// holds it.
int runSleep() {
    Device device;
    if (!device.open())
        return kDeviceFailure;
    const auto control = device.read(chip::kControlRegister);
    if (!control || !device.write(chip::kControlRegister, *control | chip::kSleepBit))
        return kDeviceFailure;
    return kSuccess;
}

} // namespace cli
