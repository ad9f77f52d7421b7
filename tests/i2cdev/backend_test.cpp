// SPDX-License-Identifier: MIT
// The i2c-dev backend up to the point where a real device node is needed
// (register access on a real kernel is covered by the kernel test group).
#include "fake_sysfs.h"
#include "vtx/i2cdev/i2cdev_backend.h"
#include "vtx/vtx.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using vtx::i2cdev::checkNode;
using vtx::i2cdev::I2cDevBackend;
using vtx::i2cdev::NodeCheck;

namespace {

const std::string kHub = "pci0000:00/0000:00:14.0/usb1";

size_t countOf(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class I2cDevBackendTest : public ::testing::Test {
protected:
    I2cDevBackend detecting() { return I2cDevBackend("", sys.root(), dev(), diag); }
    I2cDevBackend named(const std::string &path) {
        return I2cDevBackend(path, sys.root(), dev(), diag);
    }
    std::string dev() const { return sys.path("dev").string(); }

    FakeSysfs sys;
    std::ostringstream diag;
};

} // namespace

TEST_F(I2cDevBackendTest, DetectedAdaptersAreCountedAndNamedInOrder) {
    sys.addPciBus(0, "pci0000:00/0000:00:1f.4");
    sys.addUsbBus(12, kHub + "/1-3", "");
    sys.addUsbBus(7, kHub + "/1-2", "MCP0042");
    I2cDevBackend b = detecting();
    ASSERT_EQ(b.findControllers(), 2);
    std::string serial;
    ASSERT_EQ(b.serialNumber(0, serial), 0);
    EXPECT_EQ(serial, "MCP0042");
    ASSERT_EQ(b.serialNumber(1, serial), 0);
    EXPECT_EQ(serial, "i2c-12");
    EXPECT_EQ(b.serialNumber(2, serial), -EINVAL);
    EXPECT_EQ(b.serialNumber(-1, serial), -EINVAL);
    EXPECT_TRUE(diag.str().empty());
}

TEST_F(I2cDevBackendTest, NoBridgeFindsNothingAndSaysWhatWasSkippedOnce) {
    sys.addPciBus(0, "pci0000:00/0000:00:1f.4");
    sys.addTunerBus(1, kHub + "/1-1");
    sys.addUsbBus(2, kHub + "/1-2", "", "0100", false, "em28xx");
    I2cDevBackend b = detecting();
    EXPECT_EQ(b.findControllers(), 0);
    EXPECT_EQ(b.findControllers(), 0);
    EXPECT_EQ(b.open("i2c-1"), -ENODEV); // a skipped bus cannot be opened by name
    EXPECT_EQ(countOf(diag.str(), "vtx: none of the 3 I2C buses is a USB-to-I2C bridge ("
                                  "i2c-0: driver i801_smbus, not on USB; "
                                  "i2c-1: on USB, but its driver usb is no USB-to-I2C bridge; "
                                  "i2c-2: on USB, but its driver em28xx is no USB-to-I2C bridge); "
                                  "plug one in, or name a bus with VTX_ADAPTER=/dev/i2c-N\n"),
              1u)
        << diag.str();
}

TEST_F(I2cDevBackendTest, NoI2cDevModuleIsNamedAsTheCause) {
    std::filesystem::remove(sys.path("class/i2c-dev"));
    I2cDevBackend b = detecting();
    EXPECT_EQ(b.findControllers(), 0);
    EXPECT_NE(diag.str().find("modprobe i2c-dev"), std::string::npos) << diag.str();
}

TEST_F(I2cDevBackendTest, DetectedBusWithoutDeviceNodeFailsWithENOENTOnce) {
    sys.addUsbBus(7, kHub + "/1-2", "MCP0042");
    I2cDevBackend b = detecting();
    ASSERT_EQ(b.findControllers(), 1);
    EXPECT_EQ(b.open("MCP0042"), -ENOENT);
    EXPECT_EQ(b.open("MCP0042"), -ENOENT);
    const std::string path = dev() + "/i2c-7";
    EXPECT_EQ(countOf(diag.str(), path + ": No such file or directory: load the i2c-dev"), 1u)
        << diag.str();
}

TEST_F(I2cDevBackendTest, OnlyAnI2cDevCharacterDeviceIsOpened) {
    sys.addUsbBus(7, kHub + "/1-2", "MCP0042");
    sys.write("dev/i2c-7", ""); // a plain file where the node should be
    I2cDevBackend b = detecting();
    ASSERT_EQ(b.findControllers(), 1);
    EXPECT_EQ(b.open("MCP0042"), -ENOTTY);
    // A character device of another driver is refused the same way.
    I2cDevBackend other = named("/dev/null");
    EXPECT_EQ(other.open("/dev/null"), -ENOTTY);
    EXPECT_NE(diag.str().find("/dev/null: not an I2C bus device node"), std::string::npos)
        << diag.str();
}

TEST_F(I2cDevBackendTest, NodeMustBeTheI2cDevNodeOfTheBusScanned) {
    struct Row {
        mode_t type;
        unsigned major, minor;
        int expected;
        NodeCheck check;
    };
    const Row rows[] = {
        {S_IFCHR, 89, 7, 7, NodeCheck::Bus},
        {S_IFCHR, 89, 0, 0, NodeCheck::Bus},
        {S_IFCHR, 89, 3, 7, NodeCheck::OtherBus}, // static /dev, or number reused
        {S_IFCHR, 89, 7, -1, NodeCheck::OtherBus},
        {S_IFCHR, 1, 3, 3, NodeCheck::NotI2cDev}, // /dev/null
        {S_IFBLK, 89, 7, 7, NodeCheck::NotI2cDev},
        {S_IFREG, 0, 0, 0, NodeCheck::NotI2cDev},
        {S_IFLNK, 89, 7, 7, NodeCheck::NotI2cDev},
    };
    for (const Row &r : rows) {
        struct stat st = {};
        st.st_mode = r.type | 0660;
        st.st_rdev = makedev(r.major, r.minor);
        EXPECT_EQ(checkNode(st, r.expected), r.check)
            << r.major << ":" << r.minor << " for bus " << r.expected;
    }
}

TEST_F(I2cDevBackendTest, NodeOfAnotherBusIsRefusedWithoutBeingOpened) {
    sys.addUsbBus(7, kHub + "/1-2", "MCP0042");
    std::filesystem::create_directories(dev());
    // A /dev that no longer matches the kernel: i2c-7's name, i2c-3's node.
    if (::mknod((dev() + "/i2c-7").c_str(), S_IFCHR | 0600, makedev(89, 3)) != 0)
        GTEST_SKIP() << "cannot make device nodes here: " << std::strerror(errno);
    I2cDevBackend b = detecting();
    ASSERT_EQ(b.findControllers(), 1);
    EXPECT_EQ(b.open("MCP0042"), -ENODEV);
    EXPECT_EQ(b.open("MCP0042"), -ENODEV);
    EXPECT_EQ(countOf(diag.str(), dev() + "/i2c-7: is the node of i2c-3, not of i2c-7; "), 1u)
        << diag.str();
    EXPECT_NE(diag.str().find("VTX_ADAPTER=/dev/i2c-N"), std::string::npos) << diag.str();
}

TEST_F(I2cDevBackendTest, ABusIsTheSameBridgeOnlyWhileNothingAboutItChanged) {
    using vtx::i2cdev::describeBus;
    sys.addUsbBus(7, kHub + "/1-2", "MCP0042");
    const auto scanned = describeBus(sys.root(), "i2c-7");
    ASSERT_TRUE(scanned.bridge());
    EXPECT_TRUE(vtx::i2cdev::sameBridge(scanned, describeBus(sys.root(), "i2c-7")));

    // Unplugged, and the number handed to the next adapter plugged in.
    struct Row {
        const char *what;
        std::function<void(FakeSysfs &)> replug;
    };
    const Row rows[] = {
        {"gone", [](FakeSysfs &) {}},
        {"another bridge, same port",
         [](FakeSysfs &f) { f.addUsbBus(7, kHub + "/1-2", "MCP0099"); }},
        {"same serial, other port", [](FakeSysfs &f) { f.addUsbBus(7, kHub + "/1-3", "MCP0042"); }},
        {"a tuner", [](FakeSysfs &f) { f.addTunerBus(7, kHub + "/1-2"); }},
    };
    for (const Row &r : rows) {
        FakeSysfs after;
        r.replug(after);
        // Compared as paths below the same root, as a real /sys would be.
        auto now = describeBus(after.root(), "i2c-7");
        if (!now.usbDevice.empty())
            now.usbDevice = sys.root() + now.usbDevice.substr(after.root().size());
        EXPECT_FALSE(vtx::i2cdev::sameBridge(scanned, now)) << r.what;
    }
}

TEST_F(I2cDevBackendTest, OpenWithUnknownSerialFails) {
    sys.addUsbBus(7, kHub + "/1-2", "MCP0042");
    I2cDevBackend b = detecting();
    ASSERT_EQ(b.findControllers(), 1);
    EXPECT_EQ(b.open("MCP9999"), -ENODEV);
    EXPECT_EQ(b.open(""), -ENODEV);
}

TEST_F(I2cDevBackendTest, NamedBusIsTheOneControllerWhateverSysfsHolds) {
    sys.addUsbBus(7, kHub + "/1-2", "MCP0042"); // present but not asked for
    const std::string path = dev() + "/i2c-1";
    I2cDevBackend b = named(path);
    EXPECT_EQ(b.findControllers(), 1);
    std::string serial;
    ASSERT_EQ(b.serialNumber(0, serial), 0);
    EXPECT_EQ(serial, path);
    EXPECT_EQ(b.serialNumber(1, serial), -EINVAL);
    EXPECT_EQ(b.open("MCP0042"), -ENODEV);
    EXPECT_EQ(b.open(path), -ENOENT);
}

TEST_F(I2cDevBackendTest, NamedPathTooLongForTheSerialBufferIsRefused) {
    I2cDevBackend b = named("/dev/" + std::string(VTX_SERIAL_SIZE, 'x'));
    std::string serial = "untouched";
    EXPECT_EQ(b.serialNumber(0, serial), -ENAMETOOLONG);
    EXPECT_EQ(serial, "untouched");
}

TEST_F(I2cDevBackendTest, CallsOnAnAdapterNeverOpenedFailWithEBADF) {
    I2cDevBackend b = named("/dev/i2c-1");
    uint8_t version[8] = {};
    EXPECT_EQ(b.firmwareVersion(0, version, 5), -EBADF);
    EXPECT_EQ(b.i2cControl(0, 0, 0, 1), -EBADF);
    EXPECT_EQ(b.gpioWriteControl(0, {}), -EBADF);
    EXPECT_EQ(b.powerWriteControl(0, 1, 0), -EBADF);
    EXPECT_EQ(b.registerWrite(0, 0x36, 0, 0), -EBADF);
    EXPECT_EQ(b.registerRead(-1, 0x36, 0), -EBADF);
}

// A bridge by the name that lasts: its serial, or its USB port; anything
// else is refused with the bridges that are there.
TEST_F(I2cDevBackendTest, BridgeNamesPickOutExactlyOneBridge) {
    sys.addPciBus(0, "pci0000:00/0000:00:1f.4");
    sys.addUsbBus(7, kHub + "/1-2", "A1");
    sys.addUsbBus(8, kHub + "/1-3", "SAME", "0102", true, "mcp2221");
    sys.addUsbBus(9, kHub + "/1-4.2", "SAME", "0102", true, "cp2112");
    const struct {
        const char *name;
        int found;
        const char *label; // what the one found is opened by
        const char *told;  // part of the line that says why none was
    } rows[] = {
        {"usb:A1", 1, "A1", ""},
        {"usb-port:1-4.2", 1, "SAME", ""},
        {"usb-port:1-4", 0, "",
         "no USB-to-I2C bridge usb-port:1-4; the bridges here: usb:A1 "
         "(i2c-7, i2c-tiny-usb), usb-port:1-3 (i2c-8, MCP2221), "
         "usb-port:1-4.2 (i2c-9, CP2112)"},
        {"usb:B2", 0, "", "no USB-to-I2C bridge usb:B2"},
        {"usb:SAME", 0, "",
         "usb:SAME names 2 bridges, which share that serial number; name one "
         "by its USB port: usb-port:1-3 (i2c-8), usb-port:1-4.2 (i2c-9)"},
    };
    for (const auto &row : rows) {
        diag.str("");
        I2cDevBackend b(row.name, sys.root(), dev(), diag);
        ASSERT_EQ(b.findControllers(), row.found) << row.name << ": " << diag.str();
        std::string label;
        if (row.found) {
            ASSERT_EQ(b.serialNumber(0, label), 0);
            EXPECT_EQ(label, row.label) << row.name;
        }
        EXPECT_NE(diag.str().find(row.told), std::string::npos) << row.name << ": " << diag.str();
    }
}
