// SPDX-License-Identifier: MIT
// Runs inside a qemu guest on Debian's own kernel, as the only program of a
// busybox initramfs (see init.sh): the i2c-dev backend and the device link
// against the kernel's i2c-stub module, which emulates a chip at 0x36 on a bus
// that is not USB-attached. XQ_STUB_BUS names that bus's /dev node.
#include "guest_fixture.h"
#include "link/link.h"
#include "vtx/i2cdev/detect.h"
#include "vtx/vtx.h"
#include "vtx/vtx_testing.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint8_t kChip = 0x36;
constexpr uint8_t kNobody = 0x37;

class NamedStubBus : public Guest {
protected:
    void SetUp() override {
        ASSERT_FALSE(stubBus().empty()) << "XQ_STUB_BUS is not set";
        start(stubBus().c_str());
        uint8_t firmware = 0xEE;
        ASSERT_EQ(LinkOpen(&firmware), 0);
        // A bus that is no USB device has no release number to report.
        EXPECT_EQ(firmware, 0x00);
    }
};

class NoBusNamed : public Guest {
protected:
    void SetUp() override { start(nullptr); }
};

} // namespace

TEST_F(NamedStubBus, LinkOpenMakesTheExpectedCallsAndSucceeds) {
    const std::string bus = stubBus();
    const std::vector<std::string> expected = {
        "vtxFindControllers() = 1",
        "vtxGetSerialNumber(0, \"" + bus + "\") = 0",
        "vtxOpen(\"" + bus + "\") = 1",
        "vtxFirmwareVersion_Read(1, 5) = 0 [00 00 00 00 00]",
        "vtxI2C_Control(1, 0, 0, 1) = 0",
        "vtxGPIO_WriteControl(1, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0) = 0",
        "vtxPower_WriteControl(1, 1, 0) = 0",
    };
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(g_hLink, 1);
    EXPECT_STREQ(g_linkSerial, bus.c_str());
    uint8_t firmware2 = 0xEE;
    EXPECT_FALSE(LinkFirmwareVersion(&firmware2));
    EXPECT_EQ(firmware2, 0x00);
}

TEST_F(NamedStubBus, RegistersAreWrittenAndReadBack) {
    // i2c-stub starts every register at 0: read one first so a backend that
    // never reached the bus cannot pass on stale values.
    uint8_t value = 0xEE;
    ASSERT_FALSE(LinkReadRegister(kChip, 0x09, &value));
    EXPECT_EQ(value, 0x00);

    for (uint8_t reg = 0x00; reg <= 0x08; ++reg)
        EXPECT_FALSE(LinkWriteRegister(kChip, reg, static_cast<uint8_t>(0xC0 ^ (reg * 0x11))))
            << "register " << int(reg);
    for (uint8_t reg = 0x00; reg <= 0x08; ++reg) {
        value = 0;
        EXPECT_FALSE(LinkReadRegister(kChip, reg, &value)) << "register " << int(reg);
        EXPECT_EQ(value, static_cast<uint8_t>(0xC0 ^ (reg * 0x11))) << "register " << int(reg);
    }
    // The full byte range survives the trip.
    ASSERT_EQ(vtxI2C_RegisterWrite(g_hLink, kChip, 0x08, 0xFF), 0);
    EXPECT_EQ(vtxI2C_RegisterRead(g_hLink, kChip, 0x08), 0xFF);
}

TEST_F(NamedStubBus, AbsentChipFailsWithTheKernelsReasonAndOneClearMessage) {
    testing::internal::CaptureStderr();
    const int32_t read = vtxI2C_RegisterRead(g_hLink, kNobody, 0x00);
    const int32_t write = vtxI2C_RegisterWrite(g_hLink, kNobody, 0x00, 0x12);
    const std::string messages = testing::internal::GetCapturedStderr();

    // i2c-stub answers an address with no chip with ENODEV; real adapters
    // give ENXIO or EREMOTEIO. Whatever it was, it comes back unchanged.
    EXPECT_EQ(read, -ENODEV);
    EXPECT_EQ(write, -ENODEV);
    const std::string line = stubBus() + ": no chip answers at address 0x37";
    const size_t first = messages.find(line);
    ASSERT_NE(first, std::string::npos) << messages;
    EXPECT_NE(messages.find("check the wiring, the address and that the board is powered"),
              std::string::npos)
        << messages;
    EXPECT_EQ(messages.find(line, first + 1), std::string::npos) << "told twice:\n" << messages;

    // Switching back to the chip's address works after the failure.
    ASSERT_FALSE(LinkWriteRegister(kChip, 0x03, 0x5C));
    uint8_t value = 0;
    EXPECT_FALSE(LinkReadRegister(kChip, 0x03, &value));
    EXPECT_EQ(value, 0x5C);
}

// Two programs on one bus, each setting its own bits of one register with a
// pause between its read and its write: under vtxLock (a flock on the bus's
// node) neither write undoes the other's.
TEST_F(NamedStubBus, HeldReadModifyWritesOfTwoProcessesLoseNoBit) {
    ASSERT_FALSE(LinkWriteRegister(kChip, 0x00, 0x00));
    auto setBits = [](int first) {
        const pid_t pid = fork();
        if (pid != 0)
            return pid;
        // A program of its own: its own open of the bus, its own lock.
        vtx::test::reset();
        uint8_t firmware = 0;
        if (LinkOpen(&firmware) != 0)
            _exit(2);
        for (int bit = first; bit < first + 4; ++bit) {
            if (vtxLock(g_hLink, 5000) != 0)
                _exit(3);
            const int32_t value = vtxI2C_RegisterRead(g_hLink, kChip, 0x00);
            usleep(20000);
            if (value < 0 ||
                vtxI2C_RegisterWrite(g_hLink, kChip, 0x00, static_cast<uint8_t>(value | 1 << bit)))
                _exit(4);
            vtxUnlock(g_hLink);
        }
        _exit(0);
    };
    const pid_t a = setBits(0), b = setBits(4);
    for (const pid_t pid : {a, b}) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(vtxI2C_RegisterRead(g_hLink, kChip, 0x00), 0xFF);
}

TEST_F(NamedStubBus, FailedReadLeavesTheCallersByteAlone) {
    uint8_t value = 0xA7;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(LinkReadRegister(kNobody, 0x01, &value));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(value, 0xA7);
    EXPECT_TRUE(LinkWriteRegister(kNobody, 0x01, 0x00));
}

TEST_F(NoBusNamed, TheStubBusIsNotUsbSoNoControllerIsFound) {
    // The stub bus is there, and sysfs shows it as no USB device.
    const auto buses = vtx::i2cdev::listBuses("/sys");
    ASSERT_FALSE(buses.empty()) << "the guest has no I2C bus at all";
    bool sawStub = false;
    for (const auto &b : buses) {
        EXPECT_FALSE(b.usb()) << b.name;
        sawStub = sawStub || "/dev/" + b.name == stubBus();
    }
    EXPECT_TRUE(sawStub) << stubBus() << " not among the buses sysfs lists";

    testing::internal::CaptureStderr();
    EXPECT_EQ(vtxFindControllers(), 0);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("is a USB-to-I2C bridge ("), std::string::npos) << messages;
    EXPECT_NE(messages.find(stubBus().substr(5) + ": not on USB"), std::string::npos) << messages;

    // With nothing opened, the link fails at the version read and touches
    // nothing else.
    calls.clear();
    uint8_t firmware = 0xEE;
    EXPECT_EQ(LinkOpen(&firmware), 2);
    EXPECT_EQ(firmware, 0xEE);
    EXPECT_EQ(g_hLink, 0);
    EXPECT_EQ(calls.back(), "vtxFirmwareVersion_Read(0, 5) = -9");
}
