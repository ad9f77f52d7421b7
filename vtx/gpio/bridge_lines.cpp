// SPDX-License-Identifier: MIT
#include "vtx/gpio/bridge_lines.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gpiod.h>

namespace fs = std::filesystem;

namespace vtx::gpio {
namespace {

// Who holds a line, as the kernel shows it to others: this program.
const char *consumer() {
    return program_invocation_short_name;
}

bool below(const fs::path &p, const fs::path &root) {
    auto r = root.begin();
    for (auto q = p.begin(); r != root.end(); ++r, ++q) {
        if (q == p.end() || *q != *r)
            return false;
    }
    return true;
}

} // namespace

std::string chipOf(const std::string &sysfsRoot, const std::string &usbDevice,
                   const std::string &devDir) {
    if (usbDevice.empty())
        return {};
    std::error_code ec;
    const fs::path usb = fs::canonical(usbDevice, ec);
    if (ec)
        return {};
    for (const fs::directory_entry &e :
         fs::directory_iterator(fs::path(sysfsRoot) / "bus" / "gpio" / "devices", ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("gpiochip", 0) != 0)
            continue;
        const fs::path device = fs::canonical(e.path(), ec);
        if (!ec && below(device, usb))
            return devDir + "/" + name;
    }
    return {};
}

std::string lineName(const std::string &driver, int offset) {
    const std::string n = std::to_string(offset);
    if (driver == "mcp2221")
        return "GP" + n;
    if (driver == "cp2112")
        return "GPIO." + n;
    return "line " + n;
}

int offsetOf(const std::string &driver, const std::string &name, int count) {
    for (int offset = 0; offset < count; ++offset) {
        if (lineName(driver, offset) == name)
            return offset;
    }
    return -1;
}

std::string lineRange(const std::string &driver, int count) {
    if (count <= 0)
        return "no lines";
    return lineName(driver, 0) + " to " + lineName(driver, count - 1);
}

BridgeLines::~BridgeLines() {
    for (auto &[offset, line] : held_)
        gpiod_line_release(line.first);
    if (chip_)
        gpiod_chip_close(chip_);
}

int32_t BridgeLines::open(const std::string &chip, std::string &why) {
    if (chip_)
        return 0;
    chip_ = gpiod_chip_open(chip.c_str());
    if (!chip_) {
        const int err = errno;
        why = chip + ": " + std::strerror(err);
        return -err;
    }
    return 0;
}

int BridgeLines::count() const {
    return chip_ ? static_cast<int>(gpiod_chip_num_lines(chip_)) : 0;
}

int32_t BridgeLines::drive(int offset, int value, std::string &why) {
    if (!chip_ || offset < 0 || offset >= count()) {
        why = "no such line";
        return -EINVAL;
    }
    if (const auto it = held_.find(offset); it != held_.end()) {
        if (gpiod_line_set_value(it->second.first, value) < 0) {
            const int err = errno;
            why = std::strerror(err);
            return -err;
        }
        it->second.second = value;
        return 0;
    }
    gpiod_line *line = gpiod_chip_get_line(chip_, static_cast<unsigned>(offset));
    if (!line || gpiod_line_request_output(line, consumer(), value) < 0) {
        const int err = errno;
        why = std::strerror(err);
        return -err;
    }
    held_[offset] = {line, value};
    return 0;
}

int BridgeLines::driven(int offset) const {
    const auto it = held_.find(offset);
    return it == held_.end() ? -1 : it->second.second;
}

std::vector<LineState> BridgeLines::states(const std::string &driver) {
    std::vector<LineState> list;
    for (int offset = 0; offset < count(); ++offset) {
        LineState s;
        s.name = lineName(driver, offset);
        gpiod_line *line = gpiod_chip_get_line(chip_, static_cast<unsigned>(offset));
        if (!line) {
            list.push_back(s);
            continue;
        }
        gpiod_line_update(line);
        s.output = gpiod_line_direction(line) == GPIOD_LINE_DIRECTION_OUTPUT;
        if (const char *who = gpiod_line_consumer(line))
            s.consumer = who;
        if (driven(offset) >= 0) {
            s.value = driven(offset);
        } else if (!gpiod_line_is_used(line)) {
            // Read as it is: neither direction nor level changes.
            const gpiod_line_request_config config = {consumer(),
                                                      GPIOD_LINE_REQUEST_DIRECTION_AS_IS, 0};
            if (gpiod_line_request(line, &config, 0) == 0) {
                s.value = gpiod_line_get_value(line);
                if (s.value < 0)
                    s.error = errno; // ENOENT from hid-mcp2221: not a GPIO pin
                gpiod_line_release(line);
            } else {
                s.error = errno;
            }
        }
        list.push_back(s);
    }
    return list;
}

} // namespace vtx::gpio
