// SPDX-License-Identifier: MIT
#include "vtx/i2cdev/i2cdev_backend.h"

#include "vtx/adapters.h"
#include "vtx/file_lock.h"
#include "vtx/internal.h"
#include "vtx/reason.h"
#include "vtx/vtx.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// libi2c's header is plain C without a C++ guard.
extern "C" {
#include <i2c/smbus.h>
}

namespace vtx::i2cdev {
namespace {

std::string hexAddress(unsigned device) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", device & 0x3FF);
    return text;
}

const char *const kModuleHint =
    "load the i2c-dev module (sudo modprobe i2c-dev) and check the bus number (ls /dev/i2c-*)";

} // namespace

bool isI2cDevNode(const struct stat &st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) == kI2cDevMajor;
}

bool sameBridge(const BusInfo &scanned, const BusInfo &now) {
    return now.bridge() && now.number == scanned.number && now.usbDevice == scanned.usbDevice &&
           now.serial == scanned.serial && now.driver == scanned.driver;
}

NodeCheck checkNode(const struct stat &st, int expectedMinor) {
    if (!isI2cDevNode(st))
        return NodeCheck::NotI2cDev;
    if (static_cast<int>(minor(st.st_rdev)) != expectedMinor)
        return NodeCheck::OtherBus;
    return NodeCheck::Bus;
}

I2cDevBackend::I2cDevBackend(std::string namedBus, std::string sysfsRoot, std::string devDir,
                             std::ostream &diag)
    : namedBus_(std::move(namedBus)), sysfsRoot_(std::move(sysfsRoot)), devDir_(std::move(devDir)),
      diag_(diag) {}

I2cDevBackend::~I2cDevBackend() {
    for (const OpenBus &b : open_) {
        if (b.fd >= 0)
            ::close(b.fd);
    }
    if (devEvents_ >= 0)
        ::close(devEvents_);
}

void I2cDevBackend::tell(Trouble kind, int err, const std::string &line) {
    // Unclassified failures are told once per reason rather than once in all.
    const int detail = kind == Trouble::Other || kind == Trouble::Access ? err : 0;
    if (quiet_)
        return;
    detail::noteProblem(line);
    if (!told_.insert({static_cast<int>(kind), detail}).second)
        return;
    if (&diag_ == &std::cerr)
        detail::tell(line); // the program's own sink, if it set one
    else
        diag_ << "vtx: " << line << std::endl;
}

int32_t I2cDevBackend::fromErrno(Trouble fallback, const std::string &path, int err,
                                 const std::string &what) {
    const std::string reason = std::strerror(err);
    switch (err) {
    case EACCES:
    case EPERM:
        tell(Trouble::Permission, err, path + ": " + vtx::reason(-err));
        break;
    case ENOENT:
        tell(Trouble::NoNode, err, path + ": " + reason + ": " + kModuleHint);
        break;
    default:
        tell(fallback, err, path + ": " + what + ": " + vtx::reason(-err));
        break;
    }
    return -err;
}

namespace {

// The bridges of `buses` by name, for a message: "usb:A1 (i2c-7, MCP2221)".
std::string bridgeList(const std::vector<BusInfo> &buses) {
    std::string list;
    for (const BusInfo &b : buses) {
        if (b.bridge())
            list += (list.empty() ? "" : ", ") + nameOf(b, buses) + " (" + b.name + ", " +
                    bridgeProduct(b.driver) + ")";
    }
    return list.empty() ? "no USB-to-I2C bridge is plugged in" : "the bridges here: " + list;
}

} // namespace

void I2cDevBackend::scan() {
    scanned_ = true;
    // Every bus of ours that was pulled out meanwhile lets go of its
    // descriptor, even one the program no longer uses.
    for (OpenBus &b : open_)
        noticeRemoval(b);
    const std::vector<BusInfo> buses = listBuses(sysfsRoot_);
    if (isBridgeName(namedBus_)) {
        const std::vector<BusInfo> found = matching(namedBus_, buses);
        controllers_ = bridgeControllers(found);
        if (found.empty()) {
            tell(Trouble::NoSuchSerial, 0,
                 "no USB-to-I2C bridge " + namedBus_ + "; " + bridgeList(buses));
        } else if (found.size() > 1) {
            controllers_.clear();
            std::string ports;
            for (const BusInfo &b : found)
                ports +=
                    (ports.empty() ? "" : ", ") + (kPortPrefix + b.port()) + " (" + b.name + ")";
            tell(
                Trouble::NotUnique, 0,
                namedBus_ + " names " + std::to_string(found.size()) +
                    " bridges, which share that serial number; name one by its USB port: " + ports);
        }
        return;
    }
    controllers_ = bridgeControllers(buses);
    if (!controllers_.empty())
        return;
    if (buses.empty()) {
        tell(Trouble::NoBuses, 0,
             "no I2C buses in " + sysfsRoot_ +
                 "/class/i2c-dev: load the i2c-dev module (sudo modprobe i2c-dev)");
        return;
    }
    // Motherboard SMBus, graphics and display buses, and the private buses
    // of other USB gadgets (TV tuners, capture sticks), are never used unasked.
    std::string skipped;
    for (const BusInfo &b : buses)
        skipped += (skipped.empty() ? "" : "; ") + b.name + ": " + whyNotBridge(b);
    tell(Trouble::NoBridge, 0,
         "none of the " + std::to_string(buses.size()) + " I2C buses is a USB-to-I2C bridge (" +
             skipped + "); plug one in, or name a bus with VTX_ADAPTER=/dev/i2c-N");
}

int32_t I2cDevBackend::findControllers() {
    if (!namedBus_.empty() && !isBridgeName(namedBus_))
        return 1;
    scan();
    return static_cast<int32_t>(controllers_.size());
}

int32_t I2cDevBackend::serialNumber(int32_t index, std::string &serial) {
    if (!namedBus_.empty() && !isBridgeName(namedBus_)) {
        if (index != 0)
            return -EINVAL;
        if (namedBus_.size() > VTX_SERIAL_SIZE - 1) {
            tell(Trouble::LabelTooLong, 0,
                 namedBus_ + ": path longer than " + std::to_string(VTX_SERIAL_SIZE - 1) +
                     " characters; name the bus by a shorter path");
            return -ENAMETOOLONG;
        }
        serial = namedBus_;
        return 0;
    }
    if (!scanned_)
        scan();
    if (index < 0 || static_cast<size_t>(index) >= controllers_.size())
        return -EINVAL;
    serial = controllers_[static_cast<size_t>(index)].label;
    return 0;
}

int32_t I2cDevBackend::open(const std::string &serial) {
    if (!namedBus_.empty() && !isBridgeName(namedBus_)) {
        if (serial != namedBus_) {
            tell(Trouble::NoSuchSerial, 0,
                 "no adapter \"" + serial + "\"; the bus in use is " + namedBus_);
            return -ENODEV;
        }
        return openPath(namedBus_, nullptr);
    }
    if (!scanned_)
        scan();
    for (const Controller &c : controllers_) {
        if (c.label == serial)
            return openPath(devDir_ + "/" + c.bus.name, &c.bus);
    }
    tell(Trouble::NoSuchSerial, 0, "no USB I2C adapter with serial number \"" + serial + "\"");
    return -ENODEV;
}

int32_t I2cDevBackend::refuseOtherNode(const std::string &path, const struct stat &st,
                                       int expectedMinor) {
    switch (checkNode(st, expectedMinor)) {
    case NodeCheck::Bus:
        return 0;
    case NodeCheck::NotI2cDev:
        tell(Trouble::NotI2cDev, 0,
             path + ": not an I2C bus device node; name one such as /dev/i2c-1");
        return -ENOTTY;
    case NodeCheck::OtherBus:
        tell(Trouble::OtherBus, 0,
             path + ": is the node of i2c-" + std::to_string(minor(st.st_rdev)) + ", not of i2c-" +
                 std::to_string(expectedMinor) +
                 "; /dev does not match the kernel's buses (a static or copied /dev?): "
                 "name the bus with VTX_ADAPTER=/dev/i2c-N");
        return -ENODEV;
    }
    return -ENOTTY;
}

int32_t I2cDevBackend::openPath(const std::string &path, const BusInfo *scanned) {
    // An unplugged bus that came back on the same number is a new adapter.
    for (size_t i = 0; i < open_.size(); ++i) {
        if (open_[i].path == path && !open_[i].gone)
            return static_cast<int32_t>(i);
    }
    OpenBus b;
    if (const int32_t r = openNode(path, scanned, b); r < 0)
        return r;
    if (b.info.usb()) {
        // From now on device events say when to look whether it is still there.
        watchDevices();
        drainEvents();
        b.seen = devGeneration_;
    }
    if (!isBridgeName(namedBus_) && !namedBus_.empty()) {
        b.name.clear(); // a path names a bus number, whatever is on it later
    } else if (isBridgeName(namedBus_)) {
        b.name = namedBus_;
    } else {
        b.name = nameOf(b.info, listBuses(sysfsRoot_));
    }
    open_.push_back(b);
    return static_cast<int32_t>(open_.size() - 1);
}

int32_t I2cDevBackend::openNode(const std::string &path, const BusInfo *scanned, OpenBus &b) {
    // Only an i2c-dev node is ever opened, and only the bus that was scanned
    // or named: a mistyped name must not lead to I2C ioctls on some other
    // device, and a static /dev or a bus number reused since the scan must
    // not lead to another bus.
    int expectedMinor = scanned ? scanned->number : -1;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return fromErrno(Trouble::Other, path, errno, "cannot open");
    if (expectedMinor < 0 && isI2cDevNode(st))
        expectedMinor = static_cast<int>(minor(st.st_rdev));
    if (const int32_t r = refuseOtherNode(path, st, expectedMinor); r < 0)
        return r;

    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fromErrno(Trouble::Other, path, errno, "cannot open");
    // The name may have been pointed elsewhere between the check and the open.
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return fromErrno(Trouble::Other, path, err, "cannot open");
    }
    if (const int32_t r = refuseOtherNode(path, st, expectedMinor); r < 0) {
        ::close(fd);
        return r;
    }
    // The right number may by now belong to another adapter: the bridge
    // unplugged since the scan and something else plugged in. An open node
    // keeps its adapter registered, so what sysfs shows for the bus now is
    // what this descriptor reaches.
    if (scanned && !sameBridge(*scanned, describeBus(sysfsRoot_, scanned->name))) {
        ::close(fd);
        tell(Trouble::BusChanged, 0,
             path + ": " + scanned->name +
                 " is no longer the adapter found at start (unplugged or replaced since); "
                 "start again to find it");
        return -ENODEV;
    }

    unsigned long funcs = 0;
    if (::ioctl(fd, I2C_FUNCS, &funcs) < 0) {
        const int err = errno;
        ::close(fd);
        return fromErrno(Trouble::Other, path, err, "cannot query the adapter's functions");
    }
    // The chip is driven with SMBus read/write byte data and nothing else.
    const bool canRead = funcs & I2C_FUNC_SMBUS_READ_BYTE_DATA;
    const bool canWrite = funcs & I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
    if (!canRead || !canWrite) {
        ::close(fd);
        tell(Trouble::NoByteData, 0,
             path + ": the adapter cannot do SMBus " +
                 (canRead    ? "write"
                  : canWrite ? "read"
                             : "read and write") +
                 " byte data transfers; use another adapter");
        return -EOPNOTSUPP;
    }

    b.path = path;
    b.fd = fd;
    b.address = -1;
    b.gone = false;
    // A named bus may still be a USB adapter; its version is then known.
    b.info =
        scanned ? *scanned : describeBus(sysfsRoot_, "i2c-" + std::to_string(minor(st.st_rdev)));
    b.usbDevice = b.info.usbDevice;
    b.driver = b.info.driver;
    return 0;
}

void I2cDevBackend::watchDevices() {
    if (devEvents_ >= 0)
        return;
    devEvents_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (devEvents_ >= 0 &&
        ::inotify_add_watch(devEvents_, devDir_.c_str(),
                            IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_DELETE) < 0) {
        ::close(devEvents_);
        devEvents_ = -1;
    }
}

void I2cDevBackend::drainEvents() {
    if (devEvents_ >= 0) {
        alignas(inotify_event) char events[4096];
        while (::read(devEvents_, events, sizeof events) > 0)
            ++devGeneration_;
    } else {
        // Without inotify every look is a fresh one.
        ++devGeneration_;
    }
}

bool I2cDevBackend::devicesChanged(OpenBus &b) {
    drainEvents();
    if (b.seen == devGeneration_)
        return false;
    b.seen = devGeneration_;
    return true;
}

bool I2cDevBackend::goneAfter(OpenBus &b, int32_t result) {
    if (b.gone)
        return true;
    // An unplugged HID bridge says ENODEV; an i2c-tiny-usb says EIO, and
    // its bus is then gone from sysfs (or another adapter's).
    if (!b.info.usb() ||
        (result != -ENODEV && sameBridge(b.info, describeBus(sysfsRoot_, b.info.name))))
        return false;
    markGone(b);
    return true;
}

void I2cDevBackend::markGone(OpenBus &b) {
    b.lines.reset(); // the gpiochip went with it
    watchDevices();
    // The kernel finishes removing the bus only when every descriptor of it
    // is closed.
    ::close(b.fd);
    b.fd = -1;
    b.gone = true;
    b.address = -1;
    // The bus may still be on its way out of sysfs: the first look is at the
    // next event (its node going is one).
    drainEvents();
    b.seen = devGeneration_;
    told_.erase({static_cast<int>(Trouble::Unplugged), 0});
}

void I2cDevBackend::noticeRemoval(OpenBus &b) {
    if (!b.gone && b.info.usb() && devicesChanged(b) &&
        !sameBridge(b.info, describeBus(sysfsRoot_, b.info.name)))
        markGone(b);
}

bool I2cDevBackend::reopen(OpenBus &b) {
    if (b.name.empty() || !detail::reopenUnplugged() || !devicesChanged(b))
        return false;
    const std::vector<BusInfo> found = matching(b.name, listBuses(sysfsRoot_));
    if (found.size() != 1)
        return false;
    OpenBus again;
    // A node udev has not made (or opened to us) yet is no news: the next
    // event brings it.
    quiet_ = true;
    const int32_t opened = openNode(devDir_ + "/" + found[0].name, &found[0], again);
    quiet_ = false;
    if (opened < 0)
        return false;
    const bool held = b.held;
    b.fd = again.fd;
    b.path = again.path;
    b.info = again.info;
    b.usbDevice = again.usbDevice;
    b.driver = again.driver;
    b.address = -1;
    b.gone = false;
    b.held = false;
    b.busy = false;
    // A hold taken before the unplug holds the new bus too.
    if (held && detail::lockWithin(b.fd, detail::kCallWaitMs, b.path) == 0)
        b.held = true;
    detail::tell(b.name + ": the adapter is back, on " + b.path);
    // The board's set-up, as the program made it.
    const int32_t adapter = static_cast<int32_t>(&b - open_.data());
    if (b.setUp[0])
        i2cControl(adapter, b.i2c[0], b.i2c[1], b.i2c[2]);
    if (b.setUp[1])
        gpioWriteControl(adapter, b.gpio);
    if (b.setUp[2])
        powerWriteControl(adapter, b.power[0], b.power[1]);
    return true;
}

I2cDevBackend::OpenBus *I2cDevBackend::live(int32_t adapter, int32_t &error) {
    OpenBus *b = bus(adapter);
    if (!b) {
        error = -EBADF;
        return nullptr;
    }
    // A bridge pulled out since the last call is noticed before it is
    // used, and its descriptor let go.
    noticeRemoval(*b);
    if (b->gone && !reopen(*b)) {
        const std::string line =
            b->path + ": the adapter was unplugged; " +
            (!reopens(adapter)
                 ? std::string("plug it back in and open it again")
                 : "plug it back in: " + b->name + " is opened again as soon as it is back");
        tell(Trouble::Unplugged, 0, line);
        error = -ENODEV;
        return nullptr;
    }
    return b;
}

std::string I2cDevBackend::where(int32_t adapter) const {
    if (adapter < 0 || static_cast<size_t>(adapter) >= open_.size())
        return {};
    return open_[static_cast<size_t>(adapter)].path;
}

bool I2cDevBackend::unplugged(int32_t adapter) const {
    return adapter >= 0 && static_cast<size_t>(adapter) < open_.size() &&
           open_[static_cast<size_t>(adapter)].gone;
}

bool I2cDevBackend::reopens(int32_t adapter) const {
    return adapter >= 0 && static_cast<size_t>(adapter) < open_.size() &&
           !open_[static_cast<size_t>(adapter)].name.empty() && detail::reopenUnplugged();
}

int I2cDevBackend::replugEvents(int32_t adapter) const {
    return unplugged(adapter) ? devEvents_ : -1;
}

I2cDevBackend::OpenBus *I2cDevBackend::bus(int32_t adapter) {
    if (adapter < 0 || static_cast<size_t>(adapter) >= open_.size())
        return nullptr;
    return &open_[static_cast<size_t>(adapter)];
}

int32_t I2cDevBackend::firmwareVersion(int32_t adapter, uint8_t *buffer, int32_t length) {
    int32_t error = 0;
    if (!live(adapter, error))
        return error;
    if (!buffer || length < 4)
        return -EINVAL;
    // The USB device release number stands in for a firmware version; i2c-dev
    // has no second firmware.
    uint8_t major = 0, minor = 0;
    const std::string &usb = bus(adapter)->usbDevice;
    std::string text;
    if (!usb.empty() && readAttribute(usb + "/bcdDevice", text))
        releaseNibbles(text, major, minor); // leaves 0.0 on odd text
    buffer[0] = major;
    buffer[1] = minor;
    buffer[2] = 0;
    buffer[3] = 0;
    return 0;
}

// i2c-dev leaves bus speed to the adapter's driver. The GPIO and supply
// set-up drive the bridge's own lines as the bench describes its wiring
// (vtx/gpio/bench_description.h); without a description they do nothing,
// and the board is powered on its own. What was asked is kept, to be asked
// again of a bridge plugged back in.
int32_t I2cDevBackend::i2cControl(int32_t adapter, int32_t speed, int32_t pullups, int32_t enable) {
    int32_t error = 0;
    OpenBus *b = live(adapter, error);
    if (!b)
        return error;
    b->setUp[0] = true;
    b->i2c[0] = speed;
    b->i2c[1] = pullups;
    b->i2c[2] = enable;
    return 0;
}

std::string I2cDevBackend::bridgeOf(const OpenBus &b) const {
    const std::string product = bridgeProduct(b.driver);
    return (b.name.empty() ? b.path : b.name) + (product.empty() ? "" : " (" + product + ")");
}

std::optional<gpio::Wiring> I2cDevBackend::wiringOf(const OpenBus &b, std::string &problem) const {
    std::vector<std::string> names = {b.name};
    if (b.info.bridge()) {
        if (!b.info.serial.empty())
            names.push_back(kSerialPrefix + b.info.serial);
        names.push_back(kPortPrefix + b.info.port());
    }
    names.push_back(b.path);
    // The first name the bench file has a section for.
    std::optional<gpio::Wiring> found;
    for (const std::string &name : names) {
        if (name.empty())
            continue;
        const auto wiring = gpio::wiringFor(name, problem);
        if (!wiring)
            return std::nullopt;
        if (!found || (found->empty() && !wiring->empty()))
            found = wiring;
    }
    return found;
}

int32_t I2cDevBackend::loadWiring(OpenBus &b) {
    std::string problem;
    b.wiring = wiringOf(b, problem);
    if (b.wiring)
        return 0;
    tell(Trouble::Bench, 0, problem);
    return -EINVAL;
}

int32_t I2cDevBackend::lineOf(OpenBus &b, const std::string &name, int &offset) {
    if (!b.lines) {
        const std::string chip = gpio::chipOf(sysfsRoot_, b.usbDevice);
        if (chip.empty()) {
            tell(Trouble::Bench, 0,
                 bridgeOf(b) + " has no GPIO lines its driver gives the kernel, so " + name +
                     " cannot switch the board; take its lines out of " + gpio::defaultPath() +
                     " (and VTX_SUPPLY), or use a bridge with GPIO (MCP2221, CP2112)");
            return -EOPNOTSUPP;
        }
        auto lines = std::make_shared<gpio::BridgeLines>();
        std::string why;
        if (const int32_t r = lines->open(chip, why); r < 0) {
            tell(Trouble::Bench, -r, bridgeOf(b) + ": its GPIO lines: " + why);
            return r;
        }
        b.lines = lines;
    }
    offset = gpio::offsetOf(b.driver, name, b.lines->count());
    if (offset < 0) {
        tell(Trouble::Bench, 0,
             bridgeOf(b) + " has no line " + name + "; its lines are " +
                 gpio::lineRange(b.driver, b.lines->count()));
        return -EINVAL;
    }
    return 0;
}

int32_t I2cDevBackend::drive(OpenBus &b, const std::string &name, int offset, int value) {
    std::string why;
    const int32_t r = b.lines->drive(offset, value, why);
    if (r == -ENOENT)
        tell(Trouble::Bench, ENOENT,
             name + " of " + bridgeOf(b) +
                 " is not a GPIO pin: the bridge's flash gives it another function; set it to "
                 "GPIO with the bridge maker's configuration utility");
    else if (r == -EBUSY)
        tell(Trouble::Bench, EBUSY, name + " of " + bridgeOf(b) + " is held by another program");
    else if (r < 0)
        tell(Trouble::Bench, -r, name + " of " + bridgeOf(b) + ": " + why);
    return r;
}

int32_t I2cDevBackend::gpioWriteControl(int32_t adapter, const GpioConfig &cfg) {
    int32_t error = 0;
    OpenBus *b = live(adapter, error);
    if (!b)
        return error;
    b->setUp[1] = true;
    b->gpio = cfg;
    if (const int32_t r = loadWiring(*b); r < 0)
        return r;
    // The fixed lines at their levels; the supply line is only looked up
    // here, so that a wrong one fails the set-up before anything is powered.
    int offset = -1;
    if (b->wiring->supply) {
        if (const int32_t r = lineOf(*b, b->wiring->supply->name, offset); r < 0)
            return r;
    }
    for (const auto &[name, level] : b->wiring->hold) {
        if (int32_t r = lineOf(*b, name, offset); r < 0 || (r = drive(*b, name, offset, level)) < 0)
            return r;
    }
    return 0;
}

int32_t I2cDevBackend::powerWriteControl(int32_t adapter, int32_t supplyOn, int32_t voltage) {
    int32_t error = 0;
    OpenBus *b = live(adapter, error);
    if (!b)
        return error;
    b->setUp[2] = true;
    b->power[0] = supplyOn;
    b->power[1] = voltage;
    if (!b->wiring || !b->wiring->supply)
        return 0;
    const gpio::Line &supply = *b->wiring->supply;
    int offset = -1;
    if (const int32_t r = lineOf(*b, supply.name, offset); r < 0)
        return r;
    const bool on = supplyOn != 0;
    if (const int32_t r = drive(*b, supply.name, offset, on != supply.activeLow ? 1 : 0); r < 0)
        return r;
    // The board's time to come up before its first access.
    if (on && b->wiring->settleMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(b->wiring->settleMs));
    return 0;
}

int32_t I2cDevBackend::supplyState(int32_t adapter) {
    int32_t error = 0;
    OpenBus *b = live(adapter, error);
    if (!b)
        return error;
    // The GPIO set-up was not made: look now.
    if (const int32_t r = b->wiring ? 0 : loadWiring(*b); r < 0)
        return r;
    if (!b->wiring->supply)
        return -ENODATA;
    int offset = -1;
    if (const int32_t r = lineOf(*b, b->wiring->supply->name, offset); r < 0)
        return r;
    // Driven by us, or read as it is (as another program left it).
    int level = b->lines->driven(offset);
    if (level < 0) {
        const gpio::LineState s = b->lines->states(b->driver)[static_cast<size_t>(offset)];
        level = s.value;
        const std::string &name = b->wiring->supply->name;
        if (level < 0 && s.error == ENOENT) {
            tell(Trouble::Bench, ENOENT,
                 name + " of " + bridgeOf(*b) +
                     " is not a GPIO pin: the bridge's flash gives it another function; set it "
                     "to GPIO with the bridge maker's configuration utility");
            return -ENOENT;
        }
        if (level < 0 && !s.consumer.empty()) {
            tell(Trouble::Bench, EBUSY,
                 name + " of " + bridgeOf(*b) + " cannot be read: another program holds it (" +
                     s.consumer + ")");
            return -EBUSY;
        }
        if (level < 0) {
            const int err = s.error ? s.error : EIO;
            tell(Trouble::Bench, err,
                 name + " of " + bridgeOf(*b) + " cannot be read: " + std::strerror(err));
            return -err;
        }
    }
    return (level == 1) != b->wiring->supply->activeLow;
}

int32_t I2cDevBackend::lineStates(int32_t adapter, std::vector<gpio::LineState> &states) {
    int32_t error = 0;
    OpenBus *b = live(adapter, error);
    if (!b)
        return error;
    int offset = -1;
    if (const int32_t r = lineOf(*b, gpio::lineName(b->driver, 0), offset); r < 0 && !b->lines)
        return r;
    states = b->lines->states(b->driver);
    return 0;
}

int32_t I2cDevBackend::setLine(int32_t adapter, const std::string &name, int value, bool force) {
    int32_t error = 0;
    OpenBus *b = live(adapter, error);
    if (!b)
        return error;
    if (!force && b->wiring && b->wiring->supply && b->wiring->supply->name == name) {
        tell(Trouble::Bench, EPERM,
             name + " switches the board's supply: use xq4620 power, or --force");
        return -EPERM;
    }
    int offset = -1;
    if (const int32_t r = lineOf(*b, name, offset); r < 0)
        return r;
    return drive(*b, name, offset, value);
}

std::string I2cDevBackend::driver(int32_t adapter) const {
    if (adapter < 0 || static_cast<size_t>(adapter) >= open_.size())
        return {};
    return open_[static_cast<size_t>(adapter)].driver;
}

int32_t I2cDevBackend::failed(OpenBus &b, uint16_t device, int32_t result) {
    const std::string path = b.path;
    if (goneAfter(b, result)) {
        int32_t error = 0;
        live(static_cast<int32_t>(&b - open_.data()), error); // says so
        return -ENODEV;
    }
    // Each code is told once, in the words its driver means by it.
    tell(Trouble::Access, -result, path + ": " + vtx::reason(result, device, b.driver));
    return result;
}

int32_t I2cDevBackend::selectAddress(OpenBus &b, uint16_t device) {
    if (b.address == device)
        return 0;
    if (::ioctl(b.fd, I2C_SLAVE, static_cast<unsigned long>(device)) < 0) {
        const int err = errno;
        b.address = -1;
        if (err != EBUSY)
            return failed(b, device, -err);
        // i2c-dev refuses an address that a kernel driver has bound.
        tell(Trouble::AddressBusy, err,
             b.path + ": address " + hexAddress(device) +
                 " is claimed by a kernel driver: unbind that driver first");
        return -err;
    }
    b.address = device;
    return 0;
}

I2cDevBackend::OpenBus *I2cDevBackend::busFor(int32_t adapter, uint16_t device, int32_t &error) {
    OpenBus *b = live(adapter, error);
    if (!b)
        return nullptr;
    if (device > 0x7F) {
        error = -EINVAL;
        return nullptr;
    }
    if (const int32_t r = selectAddress(*b, device); r < 0) {
        error = r;
        return nullptr;
    }
    return b;
}

template <typename F> int32_t I2cDevBackend::transfer(OpenBus &b, F &&io) {
    if (b.held)
        return io();
    // After one call gave up, the next ones try once until one gets the bus.
    const int32_t locked = detail::lockWithin(b.fd, b.busy ? 0 : detail::kCallWaitMs, b.path);
    b.busy = locked == -EBUSY;
    if (locked < 0)
        return locked;
    const int32_t r = io();
    if (!b.gone) // else its descriptor, and the lock with it, is gone
        detail::unlockFile(b.fd);
    return r;
}

int32_t I2cDevBackend::registerWrite(int32_t adapter, uint16_t device, uint8_t reg, uint8_t value) {
    int32_t error = 0;
    OpenBus *b = busFor(adapter, device, error);
    if (!b)
        return error;
    return transfer(*b, [&] {
        const int32_t r = i2c_smbus_write_byte_data(b->fd, reg, value);
        return r < 0 ? failed(*b, device, r) : 0;
    });
}

int32_t I2cDevBackend::registerRead(int32_t adapter, uint16_t device, uint8_t reg) {
    int32_t error = 0;
    OpenBus *b = busFor(adapter, device, error);
    if (!b)
        return error;
    return transfer(*b, [&] {
        const int32_t r = i2c_smbus_read_byte_data(b->fd, reg);
        return r < 0 ? failed(*b, device, r) : (r & 0xFF);
    });
}

int32_t I2cDevBackend::lock(int32_t adapter, int32_t timeoutMs) {
    int32_t error = 0;
    OpenBus *b = live(adapter, error);
    if (!b)
        return error;
    if (const int32_t r = detail::lockWithin(b->fd, timeoutMs, b->path); r < 0)
        return r;
    b->held = true;
    b->busy = false;
    return 0;
}

int32_t I2cDevBackend::unlock(int32_t adapter) {
    OpenBus *b = bus(adapter);
    if (!b)
        return -EBADF;
    if (b->held) {
        b->held = false;
        if (b->fd >= 0)
            detail::unlockFile(b->fd);
    }
    return 0;
}

void I2cDevBackend::afterFork() {
    for (OpenBus &b : open_) {
        if (b.gone)
            continue;
        // A new open file of the same node, in the parent's descriptor's
        // place: its lock is the child's own. Should the node be gone, the
        // old descriptor stays, and the calls on it fail as they would.
        const int fd = ::open(b.path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0) {
            ::dup3(fd, b.fd, O_CLOEXEC);
            ::close(fd);
        }
        b.address = -1;
        b.held = false;
        b.busy = false;
    }
}

} // namespace vtx::i2cdev

namespace vtx {

std::unique_ptr<Backend> makeI2cDevBackend(const std::string &namedBus,
                                           const std::string &sysfsRoot) {
    return std::make_unique<i2cdev::I2cDevBackend>(namedBus, sysfsRoot, "/dev", std::cerr);
}

} // namespace vtx
