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

    bool usb() const { return !usbDevice.empty(); }
};

// A USB-attached bus as the library lists it.
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

// The USB-attached buses of `buses`, in the same order, each labelled by its
// USB serial number, or by its bus name where the serial is missing, unusable
// as text, or shared with another listed adapter (two adapters of one make
// may carry the same serial, and a label must pick out exactly one bus).
std::vector<Controller> usbControllers(const std::vector<BusInfo> &buses);

// The USB bcdDevice attribute ("0102\n" is release 1.02) as major and minor.
// Each byte is read as two decimal digits; a byte that is not BCD is taken
// as it is. False when the text is not four hex digits.
bool parseBcdDevice(const std::string &text, uint8_t &major, uint8_t &minor);

// The first line of a sysfs attribute file, trailing blanks cut; false when
// it cannot be read.
bool readAttribute(const std::string &path, std::string &value);

} // namespace vtx::i2cdev

#endif
