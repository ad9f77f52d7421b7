// SPDX-License-Identifier: MIT
// Writes the package's udev rule from the list of bridge drivers that
// automatic detection accepts, so that the buses udev opens to the i2c group
// and to the person at the seat are exactly the buses the panel picks on its
// own. Run at build time: udev-rule FILE.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "vtx/i2cdev/detect.h"

namespace {

const char kHeader[] =
    "# SPDX-License-Identifier: MIT\n"
    "# Made at build time from the USB-to-I2C bridge drivers that the panel's\n"
    "# automatic detection accepts (vtx/i2cdev/detect.cpp): edit that list, not\n"
    "# this file.\n"
    "#\n"
    "# I2C bus device nodes (/dev/i2c-N, made by the i2c-dev module) belong to\n"
    "# root alone by default. A bus whose adapter one of these drivers drives goes\n"
    "# to the i2c group, for remote and headless use, and is tagged uaccess, so\n"
    "# that the person at the seat may open it without joining the group. Every\n"
    "# other bus stays root's: the motherboard's SMBus, the graphics and display\n"
    "# buses, and the private buses of other USB devices (a webcam's, a TV\n"
    "# tuner's). The panel never needs them, and a stray write there can damage\n"
    "# the machine.\n";

// udev reads * ? [ ] | as patterns and " ends the value.
bool plainName(const std::string &name) {
    return !name.empty() && name.find_first_of("*?[]|\"\\\n") == std::string::npos;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: udev-rule FILE\n";
        return 2;
    }
    std::string rule = kHeader;
    for (const std::string &driver : vtx::i2cdev::bridgeDrivers()) {
        if (!plainName(driver)) {
            std::cerr << "udev-rule: driver name \"" << driver
                      << "\" cannot be matched literally\n";
            return 1;
        }
        rule += "SUBSYSTEM==\"i2c-dev\", KERNEL==\"i2c-[0-9]*\", DRIVERS==\"" + driver +
                "\", GROUP=\"i2c\", MODE=\"0660\", TAG+=\"uaccess\"\n";
    }
    std::ofstream out(argv[1], std::ios::trunc);
    out << rule;
    out.close();
    if (!out) {
        std::cerr << "udev-rule: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
