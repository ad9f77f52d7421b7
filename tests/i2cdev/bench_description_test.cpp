// SPDX-License-Identifier: MIT
// The bench description: how a bench wires its bridges' GPIO lines, checked
// whole before anything is driven, and the gpiochip that belongs to a
// bridge found in sysfs.
#include "fake_sysfs.h"
#include "vtx/gpio/bench_description.h"
#include "vtx/gpio/bridge_lines.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using vtx::gpio::parse;

TEST(BenchDescription, AGoodFileDescribesEachBridge) {
    const auto d = parse("# the bench\n"
                         "[usb:A1]\n"
                         "supply = !GP2   # active-low load switch\n"
                         "settle-ms = 50\n"
                         "hold = GP0=1 GP3=0\n"
                         "\n"
                         "[usb-port:1-4.2]\n"
                         "supply=GPIO.5\n");
    ASSERT_TRUE(d.ok()) << d.problems.front().reason;
    const auto *a1 = d.find("usb:A1");
    ASSERT_NE(a1, nullptr);
    EXPECT_EQ(a1->supply->name, "GP2");
    EXPECT_TRUE(a1->supply->activeLow);
    EXPECT_EQ(a1->settleMs, 50);
    EXPECT_EQ(a1->hold, (std::vector<std::pair<std::string, int>>{{"GP0", 1}, {"GP3", 0}}));
    const auto *port = d.find("usb-port:1-4.2");
    ASSERT_NE(port, nullptr);
    EXPECT_FALSE(port->supply->activeLow);
    EXPECT_EQ(port->settleMs, 0);
    EXPECT_EQ(d.find("usb:B2"), nullptr);
}

// Each bad line is named by its number; one is enough to refuse the file.
TEST(BenchDescription, EveryBadLineIsNamedWithItsNumber) {
    const struct {
        const char *text;
        int line;
        const char *reason;
    } rows[] = {
        {"supply = GP2\n", 1, "supply before any [bridge] line"},
        {"[usb:A1\n", 1, "a section is a bridge's name in brackets"},
        {"[bogus]\n", 1, "\"bogus\" names no bridge"},
        {"[usb:]\n", 1, "\"usb:\" names no bridge"},
        {"[usb:A1]\n[usb:A1]\n", 2, "bridge usb:A1 is described twice"},
        {"[usb:A1]\nsupply GP2\n", 2, "expected KEY = VALUE"},
        {"[usb:A1]\nvoltage = 5\n", 2, "unknown key \"voltage\""},
        {"[usb:A1]\nsupply = GP2\nsupply = GP1\n", 3, "supply is given twice"},
        {"[usb:A1]\nsupply = PA2\n", 2, "supply line \"PA2\" is no GPIO line's name"},
        {"[usb:A1]\nsupply = !\n", 2, "supply line \"\" is no GPIO line's name"},
        {"[usb:A1]\nsettle-ms = 10001\n", 2, "settle-ms \"10001\" is not a time from 0 to 10000"},
        {"[usb:A1]\nsettle-ms = -1\n", 2, "is not a time"},
        {"[usb:A1]\nhold = GP1=2\n", 2, "hold \"GP1=2\" is not LINE=0 or LINE=1"},
        {"[usb:A1]\nhold =\n", 2, "hold names no line"},
        {"[usb:A1]\nsupply = GP2\nhold = GP2=1\n", 3, "line GP2 is given twice"},
    };
    for (const auto &row : rows) {
        const auto d = parse(row.text);
        ASSERT_FALSE(d.ok()) << row.text;
        EXPECT_EQ(d.problems.front().line, row.line) << row.text;
        EXPECT_NE(d.problems.front().reason.find(row.reason), std::string::npos)
            << row.text << ": " << d.problems.front().reason;
    }
}

// Only the gpiochip below the bridge's own USB device is its own; lines
// are named as the bridge's maker names its pins.
TEST(BenchDescription, TheBridgesOwnGpiochipAndItsLineNames) {
    FakeSysfs sys;
    const std::string hub = "pci0000:00/0000:00:14.0/usb1";
    sys.addUsbBus(7, hub + "/1-2", "A1", "0102", true, "mcp2221");
    sys.addUsbBus(8, hub + "/1-3", "B2", "0102", true, "cp2112");
    namespace fs = std::filesystem;
    const fs::path chip = sys.path("devices/" + hub + "/1-3/1-3:1.0/gpiochip4");
    fs::create_directories(chip);
    fs::create_directories(sys.path("bus/gpio/devices"));
    fs::create_directory_symlink(chip, sys.path("bus/gpio/devices/gpiochip4"));
    EXPECT_EQ(vtx::gpio::chipOf(sys.root(), sys.path("devices/" + hub + "/1-3").string()),
              "/dev/gpiochip4");
    EXPECT_EQ(vtx::gpio::chipOf(sys.root(), sys.path("devices/" + hub + "/1-2").string()), "");

    EXPECT_EQ(vtx::gpio::offsetOf("mcp2221", "GP3", 4), 3);
    EXPECT_EQ(vtx::gpio::offsetOf("mcp2221", "GP4", 4), -1);
    EXPECT_EQ(vtx::gpio::offsetOf("mcp2221", "GPIO.1", 4), -1);
    EXPECT_EQ(vtx::gpio::offsetOf("cp2112", "GPIO.7", 8), 7);
    EXPECT_EQ(vtx::gpio::lineRange("cp2112", 8), "GPIO.0 to GPIO.7");
}

} // namespace
