// SPDX-License-Identifier: MIT
// Bus detection on fake sysfs trees: only USB-to-I2C bridges may be picked
// without the user naming a bus.
#include "fake_sysfs.h"
#include "vtx/adapters.h"
#include "vtx/i2cdev/detect.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace vtx::i2cdev;

namespace {

const std::string kHub = "pci0000:00/0000:00:14.0/usb1";

std::vector<Controller> detect(const FakeSysfs &sys) {
    return bridgeControllers(listBuses(sys.root()));
}

} // namespace

TEST(I2cDevDetect, UsbAdapterWithSerialIsListedBySerial) {
    FakeSysfs sys;
    sys.addUsbBus(7, kHub + "/1-2", "MCP0042");
    const auto list = detect(sys);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].label, "MCP0042");
    EXPECT_EQ(list[0].bus.name, "i2c-7");
    // The nearest USB device, not the root hub above it.
    EXPECT_EQ(list[0].bus.usbDevice, sys.path("devices/" + kHub + "/1-2").string());
}

TEST(I2cDevDetect, UsbAdapterWithoutSerialIsListedByBusName) {
    FakeSysfs sys;
    sys.addUsbBus(7, kHub + "/1-2", "");
    const auto list = detect(sys);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].label, "i2c-7");
}

TEST(I2cDevDetect, HidBridgeBelowTheUsbInterfaceCounts) {
    FakeSysfs sys;
    sys.addUsbBus(3, kHub + "/1-4", "CP2112A", "0100", true, "cp2112");
    const auto list = detect(sys);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].label, "CP2112A");
}

TEST(I2cDevDetect, OnlyABridgeDriverMakesAUsbBusCount) {
    struct Row {
        const char *driver;
        bool viaHid; // bound to a child of the USB interface rather than to it
        bool counted;
    };
    const Row rows[] = {
        {"i2c-tiny-usb", false, true},
        {"i2c-diolan-u2c", false, true},
        {"RobotFuzz Open Source InterFace, OSIF", false, true},
        {"cp2112", true, true},
        {"mcp2221", true, true},
        {"ft260", true, true},
        {"viperboard-i2c", true, true},
        {"dln2-i2c", true, true},
        {"em28xx", false, false},        // capture stick: its bus is for its own chips
        {"hid-generic", true, false},    // a HID device no bridge driver took
        {"", false, false},              // nothing bound yet
        {"i2c-tiny-usbx", false, false}, // names match whole
    };
    for (const Row &r : rows) {
        FakeSysfs sys;
        sys.addUsbBus(4, kHub + "/1-2", "S", "0100", r.viaHid, r.driver);
        const auto buses = listBuses(sys.root());
        ASSERT_EQ(buses.size(), 1u) << r.driver;
        EXPECT_EQ(buses[0].driver, *r.driver ? r.driver : "usb");
        EXPECT_EQ(detect(sys).size(), r.counted ? 1u : 0u) << r.driver;
    }
}

// The package's udev rule, made at build time, opens exactly the buses of the
// drivers detection counts: to the i2c group and, through uaccess, to the
// person at the seat. Every rule line names one driver; none matches more.
TEST(I2cDevDetect, TheUdevRuleNamesTheDriversDetectionCountsAndNoOthers) {
    std::ifstream in(XQ_UDEV_RULE);
    ASSERT_TRUE(in) << XQ_UDEV_RULE;
    std::vector<std::string> drivers;
    const std::string key = "DRIVERS==\"";
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        for (const char *part : {"SUBSYSTEM==\"i2c-dev\", KERNEL==\"i2c-[0-9]*\", ",
                                 ", GROUP=\"i2c\", MODE=\"0660\", TAG+=\"uaccess\""})
            EXPECT_NE(line.find(part), std::string::npos) << line;
        const size_t at = line.find(key);
        ASSERT_NE(at, std::string::npos) << "a rule for every bus: " << line;
        const size_t from = at + key.size();
        drivers.push_back(line.substr(from, line.find('"', from) - from));
    }
    EXPECT_EQ(drivers, vtx::i2cdev::bridgeDrivers());
}

TEST(I2cDevDetect, TunerOnALowerBusNumberIsSkippedForTheBridge) {
    FakeSysfs sys;
    sys.addTunerBus(0, kHub + "/1-1");
    sys.addUsbBus(2, kHub + "/1-3", "", "0100", false, "em28xx");
    sys.addUsbBus(5, kHub + "/1-2", "BRIDGE");
    const auto buses = listBuses(sys.root());
    ASSERT_EQ(buses.size(), 3u);
    EXPECT_TRUE(buses[0].usb());
    EXPECT_EQ(buses[0].driver, "usb"); // the generic driver of the whole device
    EXPECT_EQ(whyNotBridge(buses[0]), "on USB, but its driver usb is no USB-to-I2C bridge");
    EXPECT_EQ(whyNotBridge(buses[1]), "on USB, but its driver em28xx is no USB-to-I2C bridge");
    EXPECT_EQ(whyNotBridge(buses[2]), "");
    const auto list = detect(sys);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].bus.name, "i2c-5");
}

TEST(I2cDevDetect, ABridgeDriverOffUsbDoesNotCount) {
    FakeSysfs sys;
    sys.addPciBus(1, "pci0000:00/0000:00:1f.4", "i2c-tiny-usb");
    sys.addPciBus(2, "pci0000:00/0000:00:1f.5", "");
    EXPECT_TRUE(detect(sys).empty());
    const auto buses = listBuses(sys.root());
    ASSERT_EQ(buses.size(), 2u);
    EXPECT_EQ(whyNotBridge(buses[0]), "driver i2c-tiny-usb, not on USB");
    EXPECT_EQ(whyNotBridge(buses[1]), "not on USB");
}

TEST(I2cDevDetect, TwoAdaptersAreOrderedByBusNumberNotByName) {
    FakeSysfs sys;
    sys.addUsbBus(10, kHub + "/1-3", "B");
    sys.addUsbBus(9, kHub + "/1-2", "A");
    const auto list = detect(sys);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].bus.name, "i2c-9");
    EXPECT_EQ(list[1].bus.name, "i2c-10");
}

TEST(I2cDevDetect, MotherboardAndGraphicsBusesAreNeverListed) {
    FakeSysfs sys;
    sys.addPciBus(0, "pci0000:00/0000:00:1f.4");              // SMBus controller
    sys.addPciBus(1, "pci0000:00/0000:00:02.0");              // integrated graphics
    sys.addPciBus(2, "pci0000:00/0000:00:01.0/0000:01:00.0"); // graphics card
    sys.addUsbBus(5, kHub + "/1-2", "X");
    EXPECT_EQ(listBuses(sys.root()).size(), 4u);
    const auto list = detect(sys);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].bus.name, "i2c-5");
}

TEST(I2cDevDetect, BrokenDeviceLinksAreSkippedNotFollowed) {
    FakeSysfs sys;
    sys.addBusWithoutDevice(0);
    sys.addBusWithDanglingDevice(1);
    // A link leaving the tree must not reach a USB device outside it.
    FakeSysfs outside;
    outside.write("usbdev/idVendor", "04d8\n");
    outside.write("usbdev/idProduct", "00dd\n");
    std::filesystem::create_directories(outside.path("usbdev/i2c-2"));
    sys.addBusLinkedTo(2, outside.path("usbdev/i2c-2"));
    EXPECT_TRUE(detect(sys).empty());
    const auto buses = listBuses(sys.root());
    ASSERT_EQ(buses.size(), 3u);
    for (const BusInfo &b : buses)
        EXPECT_FALSE(b.usb()) << b.name;
}

TEST(I2cDevDetect, MissingClassDirectoryMeansNoBuses) {
    FakeSysfs sys;
    std::filesystem::remove(sys.path("class/i2c-dev"));
    EXPECT_TRUE(listBuses(sys.root()).empty());
    EXPECT_TRUE(listBuses(sys.root() + "/nonexistent").empty());
}

TEST(I2cDevDetect, SharedSerialFallsBackToBusNamesSoEachLabelOpensOneBus) {
    FakeSysfs sys;
    sys.addUsbBus(4, kHub + "/1-2", "0001");
    sys.addUsbBus(6, kHub + "/1-3", "0001");
    sys.addUsbBus(8, kHub + "/1-4", "i2c-9"); // collides with the next bus's name
    sys.addUsbBus(9, kHub + "/1-5", "");
    const auto list = detect(sys);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].label, "i2c-4");
    EXPECT_EQ(list[1].label, "i2c-6");
    EXPECT_EQ(list[2].label, "i2c-8");
    EXPECT_EQ(list[3].label, "i2c-9");
}

// Every bus listed by the name that opens it; a bridge whose serial is
// shared is named by its port; with several bridges none is automatic.
TEST(I2cDevDetect, ListingNamesEveryBusAndMarksTheAutomaticOne) {
    FakeSysfs sys;
    sys.addPciBus(0, "pci0000:00/0000:00:1f.4");
    sys.addUsbBus(4, kHub + "/1-2", "A1", "0102", true, "mcp2221");
    const std::string dev = sys.path("dev").string();
    auto list = vtx::listAdapters(sys.root(), dev);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, dev + "/i2c-0");
    EXPECT_FALSE(list[0].automatic);
    EXPECT_EQ(list[1].name, "usb:A1");
    EXPECT_EQ(list[1].product, "MCP2221");
    EXPECT_EQ(list[1].port, "1-2");
    EXPECT_TRUE(list[1].automatic);
    EXPECT_FALSE(list[1].mayOpen); // no node in the fake /dev

    sys.addUsbBus(6, kHub + "/1-3", "A1", "0102", true, "cp2112");
    list = vtx::listAdapters(sys.root(), dev);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].name, "usb-port:1-2");
    EXPECT_EQ(list[2].name, "usb-port:1-3");
    EXPECT_FALSE(list[1].automatic || list[2].automatic);
    EXPECT_EQ(vtx::severalBridges(list),
              "2 USB-to-I2C bridges: usb-port:1-2 (i2c-4, MCP2221), usb-port:1-3 (i2c-6, "
              "CP2112); name one with --adapter or VTX_ADAPTER");
}

TEST(I2cDevDetect, SerialThatCannotTravelAsTextFallsBackToBusName) {
    FakeSysfs sys;
    sys.addUsbBus(1, kHub + "/1-2", std::string(64, 'S'));
    sys.addUsbBus(2, kHub + "/1-3", "AB\x01");
    sys.addUsbBus(3, kHub + "/1-4", std::string(63, 'S'));
    const auto list = detect(sys);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].label, "i2c-1");
    EXPECT_EQ(list[1].label, "i2c-2");
    EXPECT_EQ(list[2].label, std::string(63, 'S'));
}

TEST(I2cDevDetect, BusNumberParsing) {
    const std::pair<const char *, int> rows[] = {
        {"i2c-0", 0},   {"i2c-17", 17}, {"i2c-", -1},        {"i2c-1a", -1},
        {"i2c--1", -1}, {"xi2c-1", -1}, {"i2c-1234567", -1}, {"I2C-1", -1},
    };
    for (const auto &[text, number] : rows)
        EXPECT_EQ(busNumber(text), number) << text;
}

TEST(I2cDevDetect, BcdDeviceParsing) {
    struct Row {
        const char *text;
        bool ok;
        int major, minor;
    };
    const Row rows[] = {
        {"0102", true, 1, 2},    {"0110", true, 1, 10},      {"1234", true, 12, 34},
        {"00a5", true, 0, 0xA5}, {"0A0B", true, 0x0A, 0x0B}, {"010", false, 0, 0},
        {"01x2", false, 0, 0},   {"", false, 0, 0},          {"01020", false, 0, 0},
    };
    for (const Row &r : rows) {
        uint8_t major = 0, minor = 0;
        EXPECT_EQ(parseBcdDevice(r.text, major, minor), r.ok) << r.text;
        EXPECT_EQ(major, r.major) << r.text;
        EXPECT_EQ(minor, r.minor) << r.text;
    }
}

TEST(I2cDevDetect, ReleaseNumberBecomesTwoNibblesEachCappedAt15) {
    struct Row {
        const char *text;
        int major, minor; // what the panel shows as "major.minor"
    };
    const Row rows[] = {
        {"0102", 1, 2},   {"0100", 1, 0},  {"0110", 1, 10}, {"0115", 1, 15},  {"0116", 1, 15},
        {"0120", 1, 15},  {"1500", 15, 0}, {"1600", 15, 0}, {"9999", 15, 15}, {"00a5", 0, 15},
        {"0F0F", 15, 15}, {"0000", 0, 0},  {"01x2", 0, 0},  {"", 0, 0},
    };
    for (const Row &r : rows) {
        uint8_t major = 0xEE, minor = 0xEE;
        releaseNibbles(r.text, major, minor);
        EXPECT_EQ(major, r.major) << r.text;
        EXPECT_EQ(minor, r.minor) << r.text;
    }
}
