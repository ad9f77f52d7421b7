// SPDX-License-Identifier: MIT
// Set-ups as register files: saving what the chip holds, loading a file onto
// it and checking that the chip took it.
#include <cstdio>

#include "chip/hex_byte.h"
#include "chip/xq4620.h"
#include "cli/commands.h"
#include "cli/device.h"
#include "cli/messages.h"
#include "regfile/register_file.h"

namespace cli {

// Nothing is written unless every set-up register was read; "-" is standard
// output.
int runSave(const std::string &path) {
    Device device;
    if (!device.open())
        return kDeviceFailure;
    std::vector<regfile::Entry> entries;
    for (const uint8_t reg : chip::setupRegisters()) {
        const auto value = device.read(reg);
        if (!value)
            return complain(kDeviceFailure, path + ": not written");
        entries.push_back({reg, *value, 0});
    }
    const std::string text = regfile::format(entries, programAndVersion());
    if (path == "-") {
        std::fputs(text.c_str(), stdout);
        return kSuccess;
    }
    std::string error;
    if (!regfile::write(path, text, error))
        return complain(kDeviceFailure, path + ": " + error);
    return kSuccess;
}

// A bad file is refused whole (every bad line named) before the adapter is
// opened. A good one is written in address order and read back; every
// register that does not hold what was written is named.
int runLoad(const std::string &path) {
    const regfile::Contents file = regfile::read(path);
    if (!file.ok()) {
        for (const regfile::Problem &p : file.problems)
            complain(kUsageError, path + ": " + regfile::describe(p));
        return complain(kUsageError, path + ": nothing was written");
    }
    Device device;
    if (!device.open())
        return kDeviceFailure;
    for (const regfile::Entry &e : file.entries) {
        if (!device.write(e.reg, e.value))
            return kDeviceFailure;
    }
    int status = kSuccess;
    for (const regfile::Entry &e : file.entries) {
        const auto value = device.read(e.reg);
        if (!value) {
            status = kDeviceFailure;
        } else if (*value != e.value) {
            status = complain(kDeviceFailure, chip::registerLabel(e.reg) + ": wrote " +
                                                  chip::hexByte(e.value) + ", reads " +
                                                  chip::hexByte(*value));
        }
    }
    return status;
}

} // namespace cli
