// SPDX-License-Identifier: MIT
// Set-ups as register files: saving what the chip holds, loading a file onto
// it and checking that the chip took it.
#include <cstdio>
#include <unistd.h>

#include "board/operations.h"
#include "chip/xq4620.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "regfile/register_file.h"

namespace cli {
namespace {

std::string fileName(const std::string &path) {
    return path == "-" ? "standard input" : escaped(path);
}

} // namespace

// Nothing is written unless every set-up register was read; "-" is standard
// output, checked with the rest of the output when the command ends.
int runSave(const std::string &path) {
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    const std::vector<uint8_t> setup = chip::setupRegisters();
    const auto values = board::readEach(device, {setup.begin(), setup.end()});
    if (!values)
        return complain(kDeviceFailure,
                        (path == "-" ? "standard output" : escaped(path)) + ": not written");
    std::vector<regfile::Entry> entries;
    for (const auto &[reg, value] : *values)
        entries.push_back({reg, value, 0});
    const std::string text = regfile::format(entries, programAndVersion());
    if (path == "-") {
        std::fputs(text.c_str(), stdout);
        return kSuccess;
    }
    std::string error;
    if (!regfile::write(path, text, error))
        return complain(kDeviceFailure, escaped(path) + ": " + error);
    return kSuccess;
}

// A bad file is refused whole (every bad line named) before the adapter is
// opened. A good one is written in address order and read back under one
// hold of the board; when that fails part-way, the registers that now hold
// the file's values and those that do not are named.
int runLoad(const std::string &path) {
    const regfile::Contents file =
        path == "-" ? regfile::readFrom(STDIN_FILENO) : regfile::read(path);
    const std::string name = fileName(path);
    if (!file.ok()) {
        const int status = file.unreadable ? kDeviceFailure : kUsageError;
        for (const regfile::Problem &p : file.problems)
            complain(status, name + ": " + escaped(regfile::describe(p)));
        return complain(status, name + ": nothing was written");
    }
    board::Device device(complainer());
    if (!device.open())
        return complain(openFailure(device), name + ": nothing was written");
    const board::LoadOutcome outcome = board::loadSetUp(device, file.entries);
    if (outcome.ok)
        return kSuccess;
    if (outcome.written == 0)
        return complain(kDeviceFailure, name + ": nothing was written");
    return complain(kDeviceFailure, name + ": loaded in part: " + board::describeLoad(outcome));
}

} // namespace cli
