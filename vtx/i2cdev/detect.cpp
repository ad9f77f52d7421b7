// SPDX-License-Identifier: MIT
#include "vtx/i2cdev/detect.h"

#include "vtx/adapters.h"
#include "vtx/vtx.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace vtx::i2cdev {
namespace {

bool isRegularFile(const fs::path &p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

// True when `p` is `root` or lies below it.
bool within(const fs::path &p, const fs::path &root) {
    auto r = root.begin();
    auto q = p.begin();
    for (; r != root.end(); ++r, ++q) {
        if (q == p.end() || *q != *r)
            return false;
    }
    return true;
}

// The nearest directory at or above `device` that is a USB device (not an
// interface: only devices carry idVendor and idProduct), staying inside the
// sysfs root so that a fake tree never reaches the real one.
fs::path usbDeviceAbove(const fs::path &device, const fs::path &root) {
    for (fs::path p = device; p != root && within(p, root); p = p.parent_path()) {
        if (isRegularFile(p / "idVendor") && isRegularFile(p / "idProduct"))
            return p;
        if (p == p.parent_path())
            break;
    }
    return {};
}

// The driver bound to the nearest device at or above `device` that has one.
// The adapter itself never has one; above it sits the device its driver
// registered it under: a USB interface, a HID device, a platform device of a
// USB multi-function chip, a PCI function, or a whole USB device (whose
// driver is the generic "usb").
std::string driverAbove(const fs::path &device, const fs::path &root) {
    for (fs::path p = device; p != root && within(p, root); p = p.parent_path()) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(p / "driver", ec);
        if (!ec)
            return target.filename().string();
        if (p == p.parent_path())
            break;
    }
    return {};
}

// A serial number is handed out as C text in a VTX_SERIAL_SIZE buffer and
// must come back unchanged, so only short printable ASCII will do.
bool usableAsLabel(const std::string &serial) {
    if (serial.empty() || serial.size() > VTX_SERIAL_SIZE - 1)
        return false;
    return std::all_of(serial.begin(), serial.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

int bcdOrRaw(unsigned byte) {
    const unsigned hi = byte >> 4, lo = byte & 0xF;
    return (hi <= 9 && lo <= 9) ? static_cast<int>(hi * 10 + lo) : static_cast<int>(byte);
}

} // namespace

namespace {

struct BridgeDriver {
    const char *driver;  // as the driver appears in sysfs
    const char *product; // as people call the bridge
};

// The USB I2C bus drivers of drivers/i2c/busses and the HID bridges. A TV
// tuner or capture stick also puts an I2C bus on USB, for its own chips;
// its driver is not listed here.
const BridgeDriver kBridgeDrivers[] = {
    {"i2c-tiny-usb", "i2c-tiny-usb"}, {"cp2112", "CP2112"},
    {"mcp2221", "MCP2221"},           {"ft260", "FT260"},
    {"i2c-diolan-u2c", "U2C-12"},     {"RobotFuzz Open Source InterFace, OSIF", "OSIF"},
    {"viperboard-i2c", "Viperboard"}, {"dln2-i2c", "DLN-2"},
    {"i2c-cp2615", "CP2615"},
};

} // namespace

const std::vector<std::string> &bridgeDrivers() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const BridgeDriver &d : kBridgeDrivers)
            list.emplace_back(d.driver);
        return list;
    }();
    return names;
}

std::string bridgeProduct(const std::string &driver) {
    for (const BridgeDriver &d : kBridgeDrivers) {
        if (driver == d.driver)
            return d.product;
    }
    return {};
}

std::string BusInfo::port() const {
    return usb() ? fs::path(usbDevice).filename().string() : std::string();
}

bool BusInfo::bridge() const {
    if (!usb())
        return false;
    const auto &names = bridgeDrivers();
    return std::find(names.begin(), names.end(), driver) != names.end();
}

std::string whyNotBridge(const BusInfo &bus) {
    if (bus.bridge())
        return {};
    if (!bus.usb())
        return bus.driver.empty() ? "not on USB" : "driver " + bus.driver + ", not on USB";
    if (bus.driver.empty())
        return "on USB, but no driver is bound to it";
    return "on USB, but its driver " + bus.driver + " is no USB-to-I2C bridge";
}

int busNumber(const std::string &name) {
    static const std::string prefix = "i2c-";
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 6 ||
        name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    int n = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

bool readAttribute(const std::string &path, std::string &value) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    if (!std::getline(in, line) && !in.eof())
        return false;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.pop_back();
    value = line;
    return true;
}

BusInfo describeBus(const std::string &sysfsRoot, const std::string &busName) {
    BusInfo info;
    const int number = busNumber(busName);
    if (number < 0)
        return info;

    std::error_code ec;
    const fs::path root = fs::canonical(sysfsRoot, ec);
    if (ec)
        return info;
    const fs::path entry = root / "class" / "i2c-dev" / busName;
    if (!fs::exists(entry, ec))
        return info;
    info.number = number;
    info.name = busName;

    // A bus without a resolvable parent device is no USB adapter; it stays
    // listed (a named bus may be anything) but is never picked on its own.
    const fs::path device = fs::canonical(entry / "device", ec);
    if (ec)
        return info;
    info.driver = driverAbove(device, root);
    const fs::path usb = usbDeviceAbove(device, root);
    if (usb.empty())
        return info;
    info.usbDevice = usb.string();
    std::string serial;
    if (readAttribute((usb / "serial").string(), serial))
        info.serial = serial;
    return info;
}

std::vector<BusInfo> listBuses(const std::string &sysfsRoot) {
    std::vector<BusInfo> buses;
    std::error_code ec;
    fs::directory_iterator it(fs::path(sysfsRoot) / "class" / "i2c-dev", ec);
    if (ec)
        return buses;
    for (const fs::directory_entry &e : it) {
        const std::string name = e.path().filename().string();
        if (busNumber(name) < 0)
            continue;
        BusInfo info = describeBus(sysfsRoot, name);
        if (info.number >= 0)
            buses.push_back(std::move(info));
    }
    std::sort(buses.begin(), buses.end(),
              [](const BusInfo &a, const BusInfo &b) { return a.number < b.number; });
    return buses;
}

std::vector<Controller> bridgeControllers(const std::vector<BusInfo> &buses) {
    std::vector<Controller> list;
    for (const BusInfo &bus : buses) {
        if (bus.bridge())
            list.push_back({usableAsLabel(bus.serial) ? bus.serial : bus.name, bus});
    }
    // Falling back to the bus name can itself collide with another adapter's
    // serial text, so repeat until every label is unique. Bus names are
    // unique, so this ends.
    for (bool changed = true; changed;) {
        changed = false;
        std::map<std::string, int> uses;
        for (const Controller &c : list)
            ++uses[c.label];
        for (Controller &c : list) {
            if (uses[c.label] > 1 && c.label != c.bus.name) {
                c.label = c.bus.name;
                changed = true;
            }
        }
    }
    return list;
}

std::string nameOf(const BusInfo &bus, const std::vector<BusInfo> &buses) {
    if (!bus.bridge())
        return "/dev/" + bus.name;
    const bool shared = std::any_of(buses.begin(), buses.end(), [&](const BusInfo &other) {
        return other.bridge() && other.name != bus.name && other.serial == bus.serial;
    });
    if (usableAsLabel(bus.serial) && !shared)
        return kSerialPrefix + bus.serial;
    return kPortPrefix + bus.port();
}

bool isBridgeName(const std::string &name) {
    return name.rfind(kSerialPrefix, 0) == 0 || name.rfind(kPortPrefix, 0) == 0;
}

std::vector<BusInfo> matching(const std::string &name, const std::vector<BusInfo> &buses) {
    std::vector<BusInfo> found;
    const bool byPort = name.rfind(kPortPrefix, 0) == 0;
    const std::string wanted =
        name.substr(byPort ? sizeof kPortPrefix - 1 : sizeof kSerialPrefix - 1);
    for (const BusInfo &bus : buses) {
        if (bus.bridge() && (byPort ? bus.port() : bus.serial) == wanted)
            found.push_back(bus);
    }
    return found;
}

bool parseBcdDevice(const std::string &text, uint8_t &major, uint8_t &minor) {
    if (text.size() != 4)
        return false;
    unsigned value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        value = value << 4 | digit;
    }
    major = static_cast<uint8_t>(bcdOrRaw(value >> 8));
    minor = static_cast<uint8_t>(bcdOrRaw(value & 0xFF));
    return true;
}

void releaseNibbles(const std::string &text, uint8_t &major, uint8_t &minor) {
    major = minor = 0;
    uint8_t hi = 0, lo = 0;
    if (!parseBcdDevice(text, hi, lo))
        return;
    major = std::min<uint8_t>(hi, 15);
    minor = std::min<uint8_t>(lo, 15);
}

} // namespace vtx::i2cdev
