// The i2c-dev backend up to the point where a real device node is needed
// (register access on a real kernel is covered by the kernel test group).
#include "fake_sysfs.h"
#include "vtx/i2cdev/i2cdev_backend.h"
#include "vtx/vtx.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

using vtx::i2cdev::I2cDevBackend;

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

TEST_F(I2cDevBackendTest, NoUsbAdapterFindsNothingAndSaysWhyOnce) {
    sys.addPciBus(0, "pci0000:00/0000:00:1f.4");
    I2cDevBackend b = detecting();
    EXPECT_EQ(b.findControllers(), 0);
    EXPECT_EQ(b.findControllers(), 0);
    EXPECT_EQ(b.open("i2c-0"), -ENODEV); // a listed-nowhere bus cannot be opened by name
    EXPECT_EQ(countOf(diag.str(), "is a USB adapter"), 1u) << diag.str();
    EXPECT_NE(diag.str().find("VTX_ADAPTER=/dev/i2c-N"), std::string::npos);
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
