// SPDX-License-Identifier: MIT
// The emulated bridge on the kernel's own USB stack: plugged in through
// vhci-hcd, bound by the kernel's i2c-tiny-usb driver, with i2c-stub's bus
// beside it. Nothing but the kernel stands between the library and the
// simulated board.
#include "bridge_process.h"
#include "guest_fixture.h"
#include "tests/support/sim_session.h"
#include "vtx/i2cdev/detect.h"
#include "vtx/i2cdev/i2cdev_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

extern "C" {
#include <i2c/smbus.h>
}

namespace {

const char *const kSerial = "XQEB-0042";
// Release 1.20: its minor half does not fit a nibble and shows as 15.
const char *const kRelease = "1.20";
constexpr uint8_t kChip = 0x36;
// The registers the panel reads back, in its order.
const uint8_t kReadback[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                             0x07, 0x08, 0x09, 0x0A, 0x0B, 0x12};

int busNumberOf(const std::string &node) {
    return std::atoi(node.c_str() + node.rfind('-') + 1);
}

class UsbBridge : public Guest {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(bridge.start(kSerial, kRelease, error)) << error;
        start(nullptr); // VTX_ADAPTER unset: find the bridge on its own
    }
    // The bridge's chip registers, as it printed them when it was stopped.
    std::vector<std::string> stopBridge() {
        std::vector<std::string> dump;
        EXPECT_EQ(bridge.stop(dump), 0);
        return dump;
    }

    BridgeProcess bridge;
};

} // namespace

TEST_F(UsbBridge, OnlyTheBridgeIsFoundNeverTheStub) {
    bool sawStub = false, sawBridge = false;
    for (const auto &b : vtx::i2cdev::listBuses("/sys")) {
        if ("/dev/" + b.name == stubBus()) {
            sawStub = true;
            EXPECT_FALSE(b.bridge());
            EXPECT_EQ(vtx::i2cdev::whyNotBridge(b), "not on USB");
        } else if ("/dev/" + b.name == bridge.bus()) {
            sawBridge = true;
            EXPECT_TRUE(b.bridge());
            // The name the kernel registers its driver under.
            EXPECT_EQ(b.driver, "i2c-tiny-usb");
            EXPECT_EQ(b.serial, kSerial);
            EXPECT_NE(b.usbDevice.find("/vhci_hcd.0/usb"), std::string::npos) << b.usbDevice;
        }
    }
    EXPECT_TRUE(sawStub) << stubBus();
    EXPECT_TRUE(sawBridge) << bridge.bus();

    ASSERT_EQ(vtxFindControllers(), 1);
    char serial[VTX_SERIAL_SIZE] = {};
    ASSERT_EQ(vtxGetSerialNumber(0, serial), 0);
    EXPECT_STREQ(serial, kSerial);
}

TEST_F(UsbBridge, PanelStartUpRunsThroughTheKernelDriverIntoTheChip) {
    uint8_t firmware = 0xEE, firmware2 = 0xEE;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    // The version line shows "USB RFW:1.15; FFW:0.0".
    EXPECT_EQ(firmware, 0x1F);
    EXPECT_FALSE(LinkFirmwareVersion(&firmware2));
    EXPECT_EQ(firmware2, 0x00);

    for (uint8_t reg : kReadback) {
        uint8_t value = 0xEE;
        EXPECT_FALSE(LinkReadRegister(kChip, reg, &value)) << int(reg);
    }
    // The first paint's two slider writes, then a user's change.
    EXPECT_FALSE(LinkWriteRegister(kChip, 0x05, 0x1F));
    EXPECT_FALSE(LinkWriteRegister(kChip, 0x06, 0x1F));
    EXPECT_FALSE(LinkWriteRegister(kChip, 0x00, 0xC4));

    std::vector<std::string> expected = {
        "vtxFindControllers() = 1",
        "vtxGetSerialNumber(0, \"XQEB-0042\") = 0",
        "vtxOpen(\"XQEB-0042\") = 1",
        "vtxFirmwareVersion_Read(1, 5) = 0 [01 0F 00 00 00]",
        "vtxI2C_Control(1, 0, 0, 1) = 0",
        "vtxGPIO_WriteControl(1, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0) = 0",
        "vtxPower_WriteControl(1, 1, 0) = 0",
    };
    expected.insert(expected.end(), sim_session::kFreshReadback.begin(),
                    sim_session::kFreshReadback.end());
    expected.push_back("vtxI2C_RegisterWrite(1, 0x36, 0x05, 0x1F) = 0");
    expected.push_back("vtxI2C_RegisterWrite(1, 0x36, 0x06, 0x1F) = 0");
    expected.push_back("vtxI2C_RegisterWrite(1, 0x36, 0x00, 0xC4) = 0");
    EXPECT_EQ(calls, expected);

    const std::vector<std::string> dump = stopBridge();
    for (const char *line : {"0x00 0xC4", "0x05 0x1F", "0x06 0x1F", "0x0A 0x46"})
        EXPECT_NE(std::find(dump.begin(), dump.end(), line), dump.end()) << line;
}

TEST_F(UsbBridge, NodeOfAnotherBusIsRefusedOnARealKernel) {
    // A static /dev whose i2c-N of the bridge is really the stub's node.
    char dir[] = "/tmp/xq-dev.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string node = std::string(dir) + "/" + bridge.bus().substr(5);
    ASSERT_EQ(::mknod(node.c_str(), S_IFCHR | 0600, makedev(89, busNumberOf(stubBus()))), 0);

    std::ostringstream diag;
    {
        vtx::i2cdev::I2cDevBackend b("", "/sys", dir, diag);
        ASSERT_EQ(b.findControllers(), 1);
        EXPECT_EQ(b.open(kSerial), -ENODEV);
    }
    EXPECT_NE(diag.str().find("is the node of i2c-" + std::to_string(busNumberOf(stubBus())) +
                              ", not of " + bridge.bus().substr(5)),
              std::string::npos)
        << diag.str();

    // The right node in the same place is opened and reaches the chip.
    ASSERT_EQ(::unlink(node.c_str()), 0);
    ASSERT_EQ(::mknod(node.c_str(), S_IFCHR | 0600, makedev(89, bridge.busNumber())), 0);
    vtx::i2cdev::I2cDevBackend b("", "/sys", dir, diag);
    ASSERT_EQ(b.findControllers(), 1);
    const int32_t adapter = b.open(kSerial);
    ASSERT_GE(adapter, 0) << diag.str();
    EXPECT_EQ(b.registerRead(adapter, kChip, 0x0A), 0x46);
    ::unlink(node.c_str());
    ::rmdir(dir);
}

TEST_F(UsbBridge, BusNumberHandedToAnotherBridgeSinceTheScanIsRefused) {
    std::ostringstream diag;
    vtx::i2cdev::I2cDevBackend b("", "/sys", "/dev", diag);
    ASSERT_EQ(b.findControllers(), 1);
    const std::string scannedBus = bridge.bus();

    // Unplugged, and another bridge plugged in on the same port.
    stopBridge();
    BridgeProcess other;
    std::string error;
    ASSERT_TRUE(other.start("XQEB-0099", "1.02", error)) << error;
    if (other.bus() != scannedBus)
        GTEST_SKIP() << "the kernel numbered the second bridge " << other.bus();

    EXPECT_EQ(b.open(kSerial), -ENODEV);
    EXPECT_NE(diag.str().find(scannedBus + ": " + scannedBus.substr(5) +
                              " is no longer the adapter found at start"),
              std::string::npos)
        << diag.str();
}

// A figure, not a verdict: the panel's readback through the library against
// the same reads made straight on the bus, the floor i2c-tools sits on.
TEST_F(UsbBridge, ReadbackCostAgainstBareSmbusReads) {
    uint8_t firmware = 0;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    vtx::test::setTraceSink(nullptr);
    const int fd = ::open(bridge.bus().c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ioctl(fd, I2C_SLAVE, kChip), 0);

    using Clock = std::chrono::steady_clock;
    std::vector<double> viaVtx, bare, ratios;
    bool allRead = true;
    constexpr int kPairs = 61;
    for (int pair = 0; pair < kPairs; ++pair) {
        // One run of each, back to back, the order alternating: the ratio of
        // a pair is little moved by the host's load drifting between pairs.
        double us[2] = {};
        for (int side = 0; side < 2; ++side) {
            const bool vtxSide = (side == 0) == (pair % 2 == 0);
            const auto t0 = Clock::now();
            for (uint8_t reg : kReadback) {
                if (vtxSide) {
                    uint8_t value = 0;
                    allRead &= !LinkReadRegister(kChip, reg, &value);
                } else {
                    allRead &= i2c_smbus_read_byte_data(fd, reg) >= 0;
                }
            }
            us[vtxSide ? 0 : 1] =
                std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        }
        viaVtx.push_back(us[0]);
        bare.push_back(us[1]);
        ratios.push_back(us[0] / us[1]);
    }
    ::close(fd);
    EXPECT_TRUE(allRead);
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("BENCH emulated bridge, 13 readback reads, %d pairs: vtx median %.0f us, bare "
                "i2c_smbus_read_byte_data median %.0f us, ratio (median of pairs) %.3f "
                "(target <= 1.10)\n",
                kPairs, median(viaVtx), median(bare), median(ratios));
}

namespace {

// What `udevadm test` makes of the device of /sys/class/i2c-dev/<bus>: its
// log, standard output and error together. Empty when the guest has no
// udevadm.
std::string udevTest(const std::string &bus) {
    const char *const udevadm = "/udev/udevadm";
    if (::access(udevadm, X_OK) != 0)
        return {};
    const std::string command = std::string("LD_LIBRARY_PATH=/udev/lib ") + udevadm +
                                " test --action=add /sys/class/i2c-dev/" + bus + " 2>&1";
    std::string output;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char chunk[512];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;)
            output.append(chunk, n);
        ::pclose(p);
    }
    return output;
}

} // namespace

TEST_F(UsbBridge, UdevRuleHandsTheGroupTheBridgeAndNotTheStub) {
    const std::string bridgeLog = udevTest(bridge.bus().substr(5));
    if (bridgeLog.empty())
        GTEST_SKIP() << "no udevadm in the guest (tests/kernel/ci-setup.sh fetches it)";
    const std::string stubLog = udevTest(stubBus().substr(5));
    // The guest's /etc/group has i2c as group 998 (see run-kernel-test.sh).
    EXPECT_NE(bridgeLog.find("Setting permissions " + bridge.bus() + ", uid=0, gid=998, mode=0660"),
              std::string::npos)
        << bridgeLog;
    // The person at the seat gets it too, without joining the group.
    EXPECT_NE(bridgeLog.find("uaccess"), std::string::npos) << bridgeLog;
    EXPECT_EQ(stubLog.find("uaccess"), std::string::npos) << stubLog;
    // The rule was read, and the stub's node stayed root's alone.
    EXPECT_NE(stubLog.find("Reading rules file: /etc/udev/rules.d/60-xq4620-panel-i2c.rules"),
              std::string::npos)
        << stubLog;
    EXPECT_EQ(stubLog.find("gid=998"), std::string::npos) << stubLog;
    EXPECT_NE(stubLog.find(stubBus() + ", uid=0, gid=0, mode=0600"), std::string::npos) << stubLog;
}
