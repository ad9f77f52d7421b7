// SPDX-License-Identifier: MIT
// The emulated bridges on the kernel's own USB stack: plugged in through
// vhci-hcd, bound by the kernel's own driver of each (i2c-tiny-usb, and
// through usbhid hid-mcp2221, hid-cp2112 and hid-ft260), with i2c-stub's bus
// beside them. Nothing but the kernel stands between the library and the
// simulated board.
#include "bridge_process.h"
#include "guest_fixture.h"
#include "tests/support/sim_session.h"
#include "vtx/i2cdev/detect.h"
#include "vtx/i2cdev/i2cdev_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Each bridge the emulation offers; the name its kernel driver has in sysfs;
// what the driver returns (read in its source) when the board is
// unpowered (nothing acknowledges) and when a transfer is stretched past its
// timeout; and a GPIO line of the bridge, nullptr when its driver gives the
// kernel none.
struct BridgeCase {
    const char *option;
    const char *driver;
    int nack;
    int stretched;
    const char *line;
};
const BridgeCase kBridges[] = {
    // A NACKed address is STATUS_ADDRESS_NAK; a control transfer that times
    // out is "failure writing data".
    {"tiny-usb", "i2c-tiny-usb", ENXIO, EIO, nullptr},
    // The engine's address-NACK state; no input report within 4 s.
    {"mcp2221", "mcp2221", ENXIO, ETIMEDOUT, "GP2"},
    // Transfer status "error, NACK or timeout"; busy ten polls in a row.
    {"cp2112", "cp2112", ETIMEDOUT, ETIMEDOUT, "GPIO.2"},
    // Status "error"; controller busy a hundred polls in a row.
    {"ft260", "ft260", EIO, EIO, nullptr},
};

void PrintTo(const BridgeCase &c, std::ostream *out) {
    *out << c.option;
}

std::string caseName(const ::testing::TestParamInfo<BridgeCase> &info) {
    std::string name;
    for (const char *c = info.param.option; *c; ++c) {
        if (*c != '-')
            name += *c;
    }
    return name;
}

// One bridge of each kind serves every row of its suite in turn, plugged in
// at the first and pulled out at the last: on this kernel an MCP2221 takes
// about 25 s to bind (its driver's start-up requests time out, as the HID
// core holds input reports back until the probe ends).
class UsbBridge : public Guest, public ::testing::WithParamInterface<BridgeCase> {
protected:
    void SetUp() override {
        if (!shared_ || kind_ != GetParam().option) {
            shared_.reset(new BridgeProcess);
            kind_ = GetParam().option;
            std::string error;
            if (!shared_->start(kSerial, kRelease, error, {"--bridge", kind_})) {
                shared_.reset();
                FAIL() << error;
            }
        }
        start(nullptr); // VTX_ADAPTER unset: find the bridge on its own
    }
    static void TearDownTestSuite() { shared_.reset(); }
    BridgeProcess &bridge() { return *shared_; }
    // Pulled out: the next row plugs in a new one.
    static void forget() { shared_.reset(); }

    // Reads through a descriptor of the bridge's own, beside the library.
    int bareRead(uint8_t reg) { return ::bareRead(bridge().bus(), reg); }

private:
    static std::unique_ptr<BridgeProcess> shared_;
    static std::string kind_;
};
std::unique_ptr<BridgeProcess> UsbBridge::shared_;
std::string UsbBridge::kind_;

// One suite per bridge, so that each runs its rows before the next plugs in.
INSTANTIATE_TEST_SUITE_P(TinyUsb, UsbBridge, ::testing::Values(kBridges[0]), caseName);
INSTANTIATE_TEST_SUITE_P(Mcp2221, UsbBridge, ::testing::Values(kBridges[1]), caseName);
INSTANTIATE_TEST_SUITE_P(Cp2112, UsbBridge, ::testing::Values(kBridges[2]), caseName);
INSTANTIATE_TEST_SUITE_P(Ft260, UsbBridge, ::testing::Values(kBridges[3]), caseName);

// What is about the library and the kernel's USB side rather than about a
// bridge's protocol, on an i2c-tiny-usb plugged in for each case.
class TinyUsbBridge : public Guest {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(bridge.start(kSerial, kRelease, error)) << error;
        start(nullptr);
    }
    std::vector<std::string> stopBridge() {
        std::vector<std::string> dump;
        EXPECT_EQ(bridge.stop(dump), 0);
        return dump;
    }

    BridgeProcess bridge;
};

} // namespace

TEST_P(UsbBridge, OnlyThatBridgeIsFoundNeverTheStub) {
    bool sawStub = false, sawBridge = false;
    for (const auto &b : vtx::i2cdev::listBuses("/sys")) {
        if ("/dev/" + b.name == stubBus()) {
            sawStub = true;
            EXPECT_FALSE(b.bridge());
            EXPECT_EQ(vtx::i2cdev::whyNotBridge(b), "not on USB");
        } else if ("/dev/" + b.name == bridge().bus()) {
            sawBridge = true;
            EXPECT_TRUE(b.bridge());
            // The name the kernel registers its driver under.
            EXPECT_EQ(b.driver, GetParam().driver);
            EXPECT_EQ(b.serial, kSerial);
            EXPECT_NE(b.usbDevice.find("/vhci_hcd.0/usb"), std::string::npos) << b.usbDevice;
        }
    }
    EXPECT_TRUE(sawStub) << stubBus();
    EXPECT_TRUE(sawBridge) << bridge().bus();

    ASSERT_EQ(vtxFindControllers(), 1);
    char serial[VTX_SERIAL_SIZE] = {};
    ASSERT_EQ(vtxGetSerialNumber(0, serial), 0);
    EXPECT_STREQ(serial, kSerial);
}

TEST_P(UsbBridge, PanelStartUpRunsThroughTheKernelDriverIntoTheChip) {
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

    // The chip holds what was written, read past the library.
    EXPECT_EQ(bareRead(0x00), 0xC4);
    EXPECT_EQ(bareRead(0x05), 0x1F);
    EXPECT_EQ(bareRead(0x06), 0x1F);
    EXPECT_EQ(bareRead(0x0A), 0x46);
}

TEST_P(UsbBridge, UnpoweredBoardFailsAsDocumentedThenPowerBackSucceeds) {
    uint8_t firmware = 0;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    bridge().signal(SIGUSR1); // the board's supply off
    testing::internal::CaptureStderr();
    EXPECT_EQ(vtxI2C_RegisterRead(g_hLink, kChip, 0x0A), -GetParam().nack);
    uint8_t value = 0xA7;
    EXPECT_TRUE(LinkReadRegister(kChip, 0x0A, &value));
    EXPECT_EQ(value, 0xA7);
    EXPECT_TRUE(LinkWriteRegister(kChip, 0x00, 0xC4));
    testing::internal::GetCapturedStderr();

    // The command: every register "--", the documented reason, status 1.
    CommandRun run = runCommand("dump");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("0x0A --"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("0x0A 0x46"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("no chip answers at address 0x36"), std::string::npos) << run.err;

    // Power back: the next access succeeds, on a chip started afresh.
    bridge().signal(SIGUSR1);
    run = runCommand("dump");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("0x0A 0x46"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("--"), std::string::npos) << run.out;
    EXPECT_FALSE(LinkReadRegister(kChip, 0x00, &value));
    EXPECT_EQ(value, 0xC0);
}

TEST_P(UsbBridge, SupplyLineDescribedIsDrivenOrAClearErrorWithoutGpio) {
    const std::string line = GetParam().line ? GetParam().line : "GP2";
    setenv("VTX_SUPPLY", line.c_str(), 1);
    const CommandRun run = runCommand("dump");
    unsetenv("VTX_SUPPLY");
    if (GetParam().line) {
        EXPECT_EQ(run.status, 0) << run.err;
        return;
    }
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.err.find("has no GPIO lines its driver gives the kernel, so " + line +
                           " cannot switch the board"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("0x0A"), std::string::npos) << run.out;
}

TEST_P(UsbBridge, StretchedTransferFailsAtTheDriversTimeoutThenRecovers) {
    uint8_t firmware = 0;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    bridge().signal(SIGUSR2); // transfers never finish
    testing::internal::CaptureStderr();
    EXPECT_EQ(vtxI2C_RegisterRead(g_hLink, kChip, 0x0A), -GetParam().stretched);
    testing::internal::GetCapturedStderr();
    bridge().signal(SIGUSR2);
    uint8_t value = 0;
    EXPECT_FALSE(LinkReadRegister(kChip, 0x0A, &value));
    EXPECT_EQ(value, 0x46);
}

TEST_F(TinyUsbBridge, NodeOfAnotherBusIsRefusedOnARealKernel) {
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

TEST_F(TinyUsbBridge, BusNumberHandedToAnotherBridgeSinceTheScanIsRefused) {
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

TEST_P(UsbBridge, UdevRuleHandsTheGroupTheBridgeAndNotTheStub) {
    const std::string bridgeLog = udevTest(bridge().bus().substr(5));
    if (bridgeLog.empty())
        GTEST_SKIP() << "no udevadm in the guest (tests/kernel/ci-setup.sh fetches it)";
    const std::string stubLog = udevTest(stubBus().substr(5));
    // The guest's /etc/group has i2c as group 998 (see run-kernel-test.sh).
    EXPECT_NE(
        bridgeLog.find("Setting permissions " + bridge().bus() + ", uid=0, gid=998, mode=0660"),
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

// Last of each suite: the bridge does not come back.
TEST_P(UsbBridge, PulledOutMidSessionFailsEveryAccessWithoutHanging) {
    uint8_t firmware = 0, value = 0;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    ASSERT_FALSE(LinkReadRegister(kChip, 0x0A, &value));
    bridge().signal(SIGHUP);
    EXPECT_EQ(bridge().wait(10), 0);
    testing::internal::CaptureStderr();
    for (uint8_t reg : kReadback)
        EXPECT_TRUE(LinkReadRegister(kChip, reg, &value)) << int(reg);
    EXPECT_TRUE(LinkWriteRegister(kChip, 0x00, 0xC4));
    const int32_t code = vtxI2C_RegisterRead(g_hLink, kChip, 0x0A);
    testing::internal::GetCapturedStderr();
    std::printf("%s pulled out: the driver returns %d\n", GetParam().option, code);
    EXPECT_LT(code, 0);
    // Closing the bus lets the kernel finish unplugging it.
    vtx::test::reset();
    forget();
}
