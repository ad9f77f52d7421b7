// SPDX-License-Identifier: MIT
// Whole registers: identification, the full dump, raw read and write, the
// software reset and sleep.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "board/operations.h"
#include "chip/field_value.h"
#include "chip/hex_byte.h"
#include "chip/xq4620.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "link/version_line.h"

namespace cli {
namespace {

void print(const nlohmann::ordered_json &doc) {
    std::printf("%s\n", doc.dump(2).c_str());
}

std::optional<uint8_t> byteArgument(const char *what, const std::string &text) {
    const auto value = chip::parseHexByte(text);
    if (!value)
        complain(kUsageError, std::string(what) + " " + quoted(text) +
                                  " is not a hex byte (00 to FF, optionally with 0x)");
    return value;
}

} // namespace

int runInfo(bool json) {
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    if (!device.hold())
        return kDeviceFailure;
    const auto high = device.read(chip::kPartNumberHighRegister);
    const auto low = device.read(chip::kPartNumberLowRegister);
    const auto revision = device.read(chip::kRevisionRegister);
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
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    if (!device.hold())
        return kDeviceFailure;
    const std::vector<board::Reading> readings = board::readAll(device);
    int status = kSuccess;
    for (const board::Reading &r : readings) {
        if (!r.value)
            status = kDeviceFailure;
    }
    if (json) {
        print(board::dumpJson(readings));
        return status;
    }
    for (const board::Reading &r : readings) {
        const std::string fields = r.value ? board::decoded(r.reg, *r.value) : "";
        std::printf("%s %-4s  %s%s%s\n", chip::hexByte(r.reg).c_str(),
                    r.value ? chip::hexByte(*r.value).c_str() : "--",
                    chip::findRegister(r.reg)->name, fields.empty() ? "" : ": ", fields.c_str());
    }
    return status;
}

int runRead(const std::string &regText, bool force) {
    const auto reg = byteArgument("register", regText);
    if (!reg)
        return kUsageError;
    if (const std::string why = chip::accessRefusal(*reg, chip::Access::ReadOnly);
        !why.empty() && !force)
        return complain(kUsageError, why + " (--force reads it all the same)");
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    if (!device.hold())
        return kDeviceFailure;
    const auto value = device.read(*reg);
    if (!value)
        return kDeviceFailure;
    std::printf("%s\n", chip::hexByte(*value).c_str());
    return kSuccess;
}

int runWrite(const std::string &regText, const std::string &valueText, bool force) {
    const auto reg = byteArgument("register", regText);
    const auto value = byteArgument("value", valueText);
    if (!reg || !value)
        return kUsageError;
    if (const std::string why = chip::accessRefusal(*reg, chip::Access::WriteOnly);
        !why.empty() && !force)
        return complain(kUsageError, why + " (--force writes it all the same)");
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    if (!device.hold() || !device.write(*reg, *value))
        return kDeviceFailure;
    return kSuccess;
}

int runReset() {
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    return board::softReset(device) ? kSuccess : kDeviceFailure;
}

int runSleep() {
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    return board::sleep(device) ? kSuccess : kDeviceFailure;
}

} // namespace cli
