// SPDX-License-Identifier: MIT
// A bridge's own GPIO lines: the gpiochip its driver registered below the
// same USB device as its I2C bus (hid-mcp2221's four lines GP0-GP3,
// hid-cp2112's eight GPIO.0-GPIO.7), driven through the GPIO character
// device with libgpiod, never through sysfs GPIO and never a gpiochip of
// another device.
#ifndef VTX_GPIO_BRIDGE_LINES_H
#define VTX_GPIO_BRIDGE_LINES_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct gpiod_chip;
struct gpiod_line;

namespace vtx::gpio {

// The node of the gpiochip below the USB device at `usbDevice` (its sysfs
// directory), as <devDir>/gpiochipN; "" when the device has none.
std::string chipOf(const std::string &sysfsRoot, const std::string &usbDevice,
                   const std::string &devDir = "/dev");

// The name people give line `offset` of a bridge whose driver is `driver`:
// GP0.. on an MCP2221, GPIO.0.. on a CP2112, line N otherwise.
std::string lineName(const std::string &driver, int offset);

// The offset of line `name` among `count` lines; -1 when it has none such.
int offsetOf(const std::string &driver, const std::string &name, int count);

// "GP0 to GP3", for a message naming the lines a bridge has.
std::string lineRange(const std::string &driver, int count);

struct LineState {
    std::string name;
    bool output = false;
    int value = -1;       // -1 when it cannot be read (another program holds it)
    std::string consumer; // who holds it, "" when nobody
    int error = 0;        // why the value could not be read (an errno), when it was not held
};

// The lines a program of ours drives on one gpiochip, held until the
// object goes (what a line does after that is the driver's business).
class BridgeLines {
public:
    BridgeLines() = default;
    ~BridgeLines();
    BridgeLines(const BridgeLines &) = delete;
    BridgeLines &operator=(const BridgeLines &) = delete;

    // 0, or a negative errno with `why` set.
    int32_t open(const std::string &chip, std::string &why);
    bool isOpen() const { return chip_ != nullptr; }
    int count() const;
    // Drives line `offset` at `value`, requesting it as an output first if
    // this object does not hold it yet. -ENOENT from the driver: the pin is
    // not in its GPIO function; -EBUSY: another program holds the line.
    int32_t drive(int offset, int value, std::string &why);
    // The level this object drives line `offset` at; -1 when not held.
    int driven(int offset) const;
    // Every line's state as the kernel tells it; lines held here read from
    // what this object drives, others are read as they are when free.
    std::vector<LineState> states(const std::string &driver);

private:
    gpiod_chip *chip_ = nullptr;
    std::map<int, std::pair<gpiod_line *, int>> held_;
};

} // namespace vtx::gpio

#endif
