// SPDX-License-Identifier: MIT
// Which I2C buses may be used without the user naming one, worked out from
// sysfs alone: nothing here opens a device, so tests run it on fake trees.
#ifndef VTX_I2CDEV_DETECT_H
#define VTX_I2CDEV_DETECT_H

#include <cstdint>
#include <string>
#include <vector>

namespace vtx::i2cdev {

// One bus of <sysfsRoot>/class/i2c-dev.
struct BusInfo {
    int number = -1;       // N of "i2c-N"
    std::string name;      // "i2c-N", also the node's name under /dev
    std::string usbDevice; // sysfs directory of the USB device above it, "" if none
    std::string serial;    // that USB device's serial number, "" if it has none
    std::string driver;    // driver of the nearest device above the adapter that has one

    bool usb() const { return !usbDevice.empty(); }
    // The USB port path the device sits in ("1-2.3"), "" when not on USB.
    std::string port() const;
    // On USB and driven by a USB-to-I2C bridge driver: the only kind of bus
    // ever used without the user naming it.
    bool bridge() const;
};

// The kernel drivers of USB-to-I2C bridges, by the name they register in
// sysfs (/sys/bus/*/drivers/NAME).
const std::vector<std::string> &bridgeDrivers();

// What people call the bridge a driver serves ("MCP2221" for mcp2221); ""
// for a driver that is no bridge's.
std::string bridgeProduct(const std::string &driver);

// Why `bus` is not picked on its own ("on USB, but its driver em28xx is no
// USB-to-I2C bridge"); "" for a bridge.
std::string whyNotBridge(const BusInfo &bus);

// A bridge bus as the library lists it.
struct Controller {
    std::string label; // what serialNumber() reports and open() takes back
    BusInfo bus;
};

// N for "i2c-N", -1 for anything else.
int busNumber(const std::string &name);

// Every bus under <sysfsRoot>/class/i2c-dev, ordered by bus number. An empty
// list when the class directory is missing (i2c-dev not loaded).
std::vector<BusInfo> listBuses(const std::string &sysfsRoot);

// The sysfs facts of one bus ("i2c-7"); number -1 when sysfs has no such bus.
BusInfo describeBus(const std::string &sysfsRoot, const std::string &busName);

// The bridge buses of `buses`, in the same order, each labelled by its USB
// serial number, or by its bus name where the serial is missing, unusable as
// text, or shared with another listed adapter (two adapters of one make may
// carry the same serial, and a label must pick out exactly one bus).
std::vector<Controller> bridgeControllers(const std::vector<BusInfo> &buses);

// The name that picks out bridge `bus` among `buses` (vtx/adapters.h):
// usb:SERIAL when its serial is usable text that no other bridge there
// shares, else usb-port:PORT; /dev/i2c-N for a bus that is no bridge.
std::string nameOf(const BusInfo &bus, const std::vector<BusInfo> &buses);

// Whether `name` is a usb: or usb-port: name.
bool isBridgeName(const std::string &name);

// The bridges of `buses` that the usb: or usb-port: `name` matches.
std::vector<BusInfo> matching(const std::string &name, const std::vector<BusInfo> &buses);

// The USB bcdDevice attribute ("0102\n" is release 1.02) as major and minor.
// Each byte is read as two decimal digits; a byte that is not BCD is taken
// as it is. False when the text is not four hex digits.
bool parseBcdDevice(const std::string &text, uint8_t &major, uint8_t &minor);

// The USB release number (bcdDevice text) as the two halves of the packed
// firmware byte the panel shows: each is capped at 15, since a nibble holds
// no more ("0120", release 1.20, gives 1 and 15). 0 and 0 for odd text.
void releaseNibbles(const std::string &text, uint8_t &major, uint8_t &minor);

// The first line of a sysfs attribute file, trailing blanks cut; false when
// it cannot be read.
bool readAttribute(const std::string &path, std::string &value);

} // namespace vtx::i2cdev

#endif
