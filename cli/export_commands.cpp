// SPDX-License-Identifier: MIT
// A set-up leaving the bench: a register file, or what the chip holds,
// exported as C, i2ctransfer, Python or shell; and a command's register
// accesses recorded as a script.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "board/operations.h"
#include "chip/xq4620.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "export/forms.h"
#include "export/recorder.h"
#include "regfile/register_file.h"

namespace cli {
namespace {

std::optional<exporter::Format> formatArgument(const std::string &name, bool recording) {
    const auto format = exporter::parseFormat(name);
    if (format && (!recording || exporter::recordable(*format)))
        return format;
    complain(kUsageError,
             quoted(name) + " is not a " + (recording ? "recording's form" : "format") + "; the " +
                 (recording ? "forms" : "formats") + " are " + exporter::formatList(recording));
    return std::nullopt;
}

// The adapter as the program was given it, for a comment.
std::string adapterName(const board::Device &device) {
    const char *named = std::getenv("VTX_ADAPTER");
    const std::string name = named && *named ? named : "the one USB-to-I2C bridge";
    return "adapter " + name + (device.serial().empty() ? "" : " (" + device.serial() + ")");
}

} // namespace

int runExport(const std::string &formatText, const std::string &path, const std::string &out) {
    const auto format = formatArgument(formatText, false);
    if (!format)
        return kUsageError;
    const std::string target = out.empty() || out == "-" ? "standard output" : escaped(out);
    exporter::Origin origin{"", programAndVersion(), std::chrono::system_clock::now()};
    std::vector<regfile::Entry> entries;
    if (!path.empty()) {
        const std::string name = path == "-" ? "standard input" : escaped(path);
        const regfile::Contents file =
            path == "-" ? regfile::readFrom(STDIN_FILENO) : regfile::read(path);
        if (!file.ok()) {
            const int status = file.unreadable ? kDeviceFailure : kUsageError;
            for (const regfile::Problem &p : file.problems)
                complain(status, name + ": " + escaped(regfile::describe(p)));
            return complain(status, target + ": not written");
        }
        entries = file.entries;
        origin.source = "register file " + (path == "-" ? std::string("on standard input") : path);
    } else {
        board::Device device(complainer());
        if (!device.open())
            return complain(openFailure(device), target + ": not written");
        const std::vector<uint8_t> setup = chip::setupRegisters();
        // Under one hold, so that the set-up is one moment of the chip.
        const auto values = board::readEach(device, {setup.begin(), setup.end()});
        if (!values)
            return complain(kDeviceFailure, target + ": not written");
        for (const auto &[reg, value] : *values)
            entries.push_back({reg, value, 0});
        origin.source = adapterName(device);
    }
    const std::string text = exporter::exportSetUp(*format, entries, origin);
    if (out.empty() || out == "-") {
        std::fputs(text.c_str(), stdout);
        return kSuccess;
    }
    std::string error;
    if (!regfile::write(out, text, error))
        return complain(kDeviceFailure, target + ": " + error);
    return kSuccess;
}

Recording::Recording(const std::string &path, const std::string &format,
                     std::optional<double> longestPause)
    : path_(path) {
    const auto f = formatArgument(format, true);
    if (!f) {
        status_ = kUsageError;
        return;
    }
    const char *adapter = std::getenv("VTX_ADAPTER");
    recorder_ = std::make_unique<exporter::Recorder>(
        path, *f, longestPause,
        exporter::Origin{std::string("adapter ") +
                             (adapter && *adapter ? adapter : "the one USB-to-I2C bridge"),
                         programAndVersion(), std::chrono::system_clock::now()});
    std::string error;
    switch (recorder_->check(error)) {
    case exporter::Recorder::Check::Ok:
        recorder_->start();
        return;
    case exporter::Recorder::Check::Unreadable:
        status_ = kDeviceFailure;
        break;
    case exporter::Recorder::Check::NotRecording:
        status_ = kUsageError;
        break;
    }
    complain(status_, escaped(path) + ": " + error + "; nothing was run");
    recorder_.reset();
}

Recording::~Recording() = default;

int Recording::finish(const std::string &title, int status) {
    if (!recorder_)
        return status;
    recorder_->stop();
    std::string error;
    if (recorder_->flush(title, error))
        return status;
    complain(kDeviceFailure, escaped(path_) + ": not recorded: " + error);
    return status == kSuccess ? kDeviceFailure : status;
}

} // namespace cli
