// SPDX-License-Identifier: MIT
// The i2c-tiny-usb requests as the kernel's driver makes them, against the
// simulated board, and the bridge's small parsers.
#include "emulated_bridge/board_bus.h"
#include "emulated_bridge/tiny_usb_device.h"
#include "emulated_bridge/vhci.h"
#include "vtx/sim.h"
#include "vtx/vtx_testing.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace emulated_bridge;

namespace {

constexpr uint8_t kIo = 4, kBegin = 1, kEnd = 2;
constexpr uint8_t kGetStatus = 3;

SetupPacket vendorIn(uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
    return {0xC1, request, value, index, length};
}

SetupPacket vendorOut(uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
    return {0x41, request, value, index, length};
}

class TinyUsbDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        vtx::test::reset();
        std::string serial;
        ASSERT_EQ(board->findControllers(), 1);
        ASSERT_EQ(board->serialNumber(0, serial), 0);
        adapter = board->open(serial);
        ASSERT_EQ(board->powerWriteControl(adapter, 1, 0), 0);
    }
    void TearDown() override { vtx::test::reset(); }

    uint8_t status() {
        const ControlReply r = device.control(vendorIn(kGetStatus, 0, 0, 1), {});
        EXPECT_EQ(r.data.size(), 1u);
        return r.data.empty() ? 0xEE : r.data[0];
    }
    // What i2c_smbus_read_byte_data turns into: a one-byte write of the
    // register, then a one-byte read, each followed by a status query.
    int readByteData(uint16_t address, uint8_t reg) {
        device.control(vendorOut(kIo | kBegin, 0, address, 1), {reg});
        if (status() != kStatusAck)
            return -ENXIO;
        const ControlReply r =
            device.control(vendorIn(kIo | kEnd, 1 /* I2C_M_RD */, address, 1), {});
        if (status() != kStatusAck || r.data.size() != 1)
            return -ENXIO;
        return r.data[0];
    }
    int writeByteData(uint16_t address, uint8_t reg, uint8_t value) {
        device.control(vendorOut(kIo | kBegin | kEnd, 0, address, 2), {reg, value});
        return status() == kStatusAck ? 0 : -ENXIO;
    }

    std::unique_ptr<vtx::Backend> board = vtx::makeSimBackend();
    int32_t adapter = -1;
    Faults faults;
    BoardBus bus{*board, 0, faults, 5};
    TinyUsbDevice device{bus, "XQEB-0042", 0x0120};
};

} // namespace

TEST_F(TinyUsbDeviceTest, DescriptorsNameTheTinyUsbBridgeItsReleaseAndSerial) {
    const ControlReply dev = device.control({0x80, 6, 0x0100, 0, 18}, {});
    ASSERT_EQ(dev.status, 0);
    const std::vector<uint8_t> expected = {18,   1,    0x10, 0x01, 0,    0, 0, 8, 0x40,
                                           0x1C, 0x34, 0x05, 0x20, 0x01, 1, 2, 3, 1};
    EXPECT_EQ(dev.data, expected);

    const ControlReply serial = device.control({0x80, 6, 0x0303, 0x0409, 255}, {});
    const std::vector<uint8_t> utf16 = {20,  3, 'X', 0, 'Q', 0, 'E', 0, 'B', 0,
                                        '-', 0, '0', 0, '0', 0, '4', 0, '2', 0};
    EXPECT_EQ(serial.data, utf16);

    const ControlReply config = device.control({0x80, 6, 0x0200, 0, 255}, {});
    ASSERT_EQ(config.data.size(), 18u);
    EXPECT_EQ(config.data[2], 18);       // total length
    EXPECT_EQ(config.data[9 + 5], 0xFF); // a vendor-specific interface
    EXPECT_EQ(device.control({0x80, 6, 0x0600, 0, 10}, {}).status, -EPIPE); // no qualifier
}

TEST_F(TinyUsbDeviceTest, ProbeRequestsAreAnswered) {
    // What the driver asks when it binds: the delay, then its functions.
    EXPECT_EQ(device.control(vendorOut(2, 10, 0, 0), {}).status, 0);
    const ControlReply func = device.control(vendorIn(1, 0, 0, 4), {});
    ASSERT_EQ(func.data.size(), 4u);
    const uint32_t bits =
        func.data[0] | func.data[1] << 8 | func.data[2] << 16 | func.data[3] << 24;
    EXPECT_EQ(bits & 0x00180000u, 0x00180000u); // SMBus read and write byte data
    EXPECT_EQ(device.control(vendorIn(9, 0, 0, 1), {}).status, -EPIPE);
}

TEST_F(TinyUsbDeviceTest, ByteDataTransfersReachTheChip) {
    EXPECT_EQ(readByteData(0x36, 0x00), 0xC0);
    EXPECT_EQ(readByteData(0x36, 0x0A), 0x46);
    EXPECT_EQ(writeByteData(0x36, 0x05, 0x1F), 0);
    EXPECT_EQ(writeByteData(0x36, 0x03, 0x5A), 0);
    EXPECT_EQ(vtx::sim::chipRegister(0x03), 0x5A);
    EXPECT_EQ(readByteData(0x36, 0x03), 0x5A);
    EXPECT_EQ(bus.registerValue(0x36, 0x03), 0x5A);
}

TEST_F(TinyUsbDeviceTest, ConsecutiveBytesGoToConsecutiveRegisters) {
    device.control(vendorOut(kIo | kBegin | kEnd, 0, 0x36, 3), {0x07, 0x11, 0x22});
    EXPECT_EQ(status(), kStatusAck);
    EXPECT_EQ(vtx::sim::chipRegister(0x07), 0x11);
    EXPECT_EQ(vtx::sim::chipRegister(0x08), 0x22);
    device.control(vendorOut(kIo | kBegin, 0, 0x36, 1), {0x00});
    const ControlReply r = device.control(vendorIn(kIo | kEnd, 1, 0x36, 3), {});
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0xC0, 0x18, 0x38}));
}

TEST_F(TinyUsbDeviceTest, AbsentOrUnpoweredChipLeavesTheAddressUnacknowledged) {
    EXPECT_EQ(readByteData(0x37, 0x00), -ENXIO);
    EXPECT_EQ(writeByteData(0x37, 0x00, 0x12), -ENXIO);
    // A read that is not acknowledged still returns the length asked, as
    // the driver wants, filled with what an idle bus reads.
    const ControlReply r = device.control(vendorIn(kIo | kEnd, 1, 0x37, 2), {});
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(status(), kStatusNak);
    // Ten-bit addresses are not on this bus.
    device.control(vendorOut(kIo | kBegin | kEnd, 0x0010, 0x36, 2), {0x03, 0x77});
    EXPECT_EQ(status(), kStatusNak);
    EXPECT_NE(vtx::sim::chipRegister(0x03), 0x77);

    faults.unpowered = true; // the board's supply switched off
    EXPECT_EQ(readByteData(0x36, 0x00), -ENXIO);
    EXPECT_EQ(bus.registerValue(0x36, 0x00), -1);
    faults.unpowered = false; // and back on: a chip at its reset values
    EXPECT_EQ(bus.registerValue(0x36, 0x03), 0x00);
    EXPECT_EQ(readByteData(0x36, 0x00), 0xC0);
}

TEST_F(TinyUsbDeviceTest, PulledOutAfterTheMessagesAskedFor) {
    // Five messages: two byte-data reads are four, the fifth is a write.
    EXPECT_EQ(readByteData(0x36, 0x00), 0xC0);
    EXPECT_EQ(readByteData(0x36, 0x01), 0x18);
    EXPECT_FALSE(device.unplugged());
    EXPECT_EQ(writeByteData(0x36, 0x03, 0x12), 0);
    EXPECT_TRUE(device.unplugged());
}

TEST_F(TinyUsbDeviceTest, StretchedTransferIsLeftUnanswered) {
    faults.stretching = true;
    const ControlReply r = device.control(vendorOut(kIo | kBegin | kEnd, 0, 0x36, 2), {0x03, 0x77});
    EXPECT_EQ(r.status, ControlReply::kUnanswered);
    EXPECT_NE(vtx::sim::chipRegister(0x03), 0x77);
}

TEST(EmulatedBridgeParsing, ReleaseText) {
    const std::pair<const char *, int> rows[] = {
        {"1.02", 0x0102},  {"1.20", 0x0120}, {"16.00", 0x1600}, {"0.00", 0x0000},
        {"99.99", 0x9999}, {"1.2", -1},      {"102", -1},       {"1.020", -1},
        {"a.02", -1},      {"100.00", -1},   {".02", -1},       {"", -1},
    };
    for (const auto &[text, release] : rows) {
        uint16_t parsed = 0xEEEE;
        EXPECT_EQ(parseRelease(text, parsed), release >= 0) << text;
        if (release >= 0) {
            EXPECT_EQ(parsed, release) << text;
        }
    }
}

namespace {

// A controller's status as vhci-hcd writes it (15 ports a hub on Debian's
// kernel; two are enough here): port 0 used by device 3-1, the rest free.
const std::string kHeader = "hub port sta spd dev      sockfd local_busid\n";
const std::string kUsed0 = "hs  0000 006 002 00010002 000003 3-1\n";
const std::string kFree0 = "hs  0000 004 000 00000000 000000 0-0\n";
const std::string kFree1 = "hs  0001 004 000 00000000 000000 0-0\n";
const std::string kUsed1 = "hs  0001 006 002 00010003 000004 3-2\n";
// Attached, not yet addressed by the kernel.
const std::string kUnaddressed1 = "hs  0001 005 000 00000000 000000 0-0\n";
const std::string kSs = "ss  0002 004 000 00000000 000000 0-0\n"
                        "ss  0003 004 000 00000000 000000 0-0\n";
// A second controller (nr_hcs=2), in its own status file.
const std::string kSecond =
    kHeader + "hs  0004 004 000 00000000 000000 0-0\n" + "ss  0006 004 000 00000000 000000 0-0\n";

} // namespace

TEST(EmulatedBridgeParsing, FreePortsAreTheUnusedOnesOfTheHubForTheSpeed) {
    const struct {
        std::string status;
        int speed;
        std::vector<int> free;
    } rows[] = {
        {kHeader + kFree0 + kFree1 + kSs, kFullSpeed, {0, 1}},
        {kHeader + kUsed0 + kFree1 + kSs, kFullSpeed, {1}},
        {kHeader + kUsed0 + kUnaddressed1 + kSs, kFullSpeed, {}},
        // A SuperSpeed device goes to the USB 3 hub, never to a USB 2 port.
        {kHeader + kFree0 + kFree1 + kSs, kSuperSpeed, {2, 3}},
        {kHeader + kUsed0 + kUsed1 + kSs + kSecond, kFullSpeed, {4}},
        {"", kFullSpeed, {}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(freePorts(row.status, row.speed), row.free) << row.status;

    const std::string status = kHeader + kUsed0 + kUnaddressed1 + kSs;
    EXPECT_EQ(deviceOnPort(status, 0), "3-1");
    EXPECT_EQ(deviceOnPort(status, 1), "");
    EXPECT_EQ(deviceOnPort(status, 9), "");
}

TEST(EmulatedBridgeParsing, PortTakenOrStillHoldingItsOldDeviceIsLeftForTheNextFreeOne) {
    const auto settled = [](const std::string &, int) { return false; };
    // Another bridge takes port 0 between this one's read and its attach.
    std::string status = kHeader + kFree0 + kFree1 + kSs;
    std::vector<int> tried;
    const auto attach = [&](int p) {
        tried.push_back(p);
        if (p == 0) {
            status = kHeader + kUsed0 + kFree1 + kSs;
            return -EBUSY;
        }
        return 0;
    };
    EXPECT_EQ(attachToFreePort([&] { return status; }, kFullSpeed, attach, settled), 1);
    EXPECT_EQ(tried, (std::vector<int>{0, 1}));

    // Port 0's hub has not removed its last device yet; once every free
    // port is in that state, it is waited for, up to the limit.
    tried.clear();
    status = kHeader + kFree0 + kFree1 + kSs;
    int looks = 0;
    const auto port0Settling = [&](const std::string &, int p) { return p == 0; };
    const auto allSettlingTwice = [&](const std::string &, int) { return ++looks <= 4; };
    const auto succeed = [&](int p) {
        tried.push_back(p);
        return 0;
    };
    EXPECT_EQ(attachToFreePort([&] { return status; }, kFullSpeed, succeed, port0Settling), 1);
    EXPECT_EQ(attachToFreePort([&] { return status; }, kFullSpeed, succeed, allSettlingTwice), 0);
    EXPECT_EQ(tried, (std::vector<int>{1, 0}));
    EXPECT_EQ(attachToFreePort([&] { return status; }, kFullSpeed, succeed,
                               [](const std::string &, int) { return true; }, 0),
              -EAGAIN);

    // Every port taken, or another failure: said, not retried.
    status = kHeader + kUsed0 + kUsed1 + kSs;
    EXPECT_EQ(attachToFreePort([&] { return status; }, kFullSpeed, succeed, settled), -ENOSPC);
    tried.clear();
    status = kHeader + kFree0 + kFree1 + kSs;
    EXPECT_EQ(attachToFreePort([&] { return status; }, kFullSpeed,
                               [&](int p) {
                                   tried.push_back(p);
                                   return -EINVAL;
                               },
                               settled),
              -EINVAL);
    EXPECT_EQ(tried, (std::vector<int>{0}));
}

TEST(EmulatedBridgeParsing, PortsOldDeviceIsLookedForInItsControllersHubForTheSpeed) {
    // Two controllers: vhci_hcd.0 with root hubs usb3 (USB 2) and usb4
    // (USB 3), vhci_hcd.1 with usb5 and usb6; devices 3-2 and 5-1 still there.
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("xq-vhci-" + std::to_string(::getpid()));
    const auto hub = [&](const std::string &controller, int bus, const char *speed) {
        const fs::path dir = root / controller / ("usb" + std::to_string(bus));
        fs::create_directories(dir);
        std::ofstream(dir / "speed") << speed << "\n";
        return dir;
    };
    fs::create_directories(hub("vhci_hcd.0", 3, "480") / "3-2");
    hub("vhci_hcd.0", 4, "5000");
    fs::create_directories(hub("vhci_hcd.1", 5, "480") / "5-1");
    fs::create_directories(hub("vhci_hcd.1", 6, "5000") / "6-2");
    const std::string vhciDir = (root / "vhci_hcd.0").string();

    const std::string status = kHeader + kFree0 + kFree1 + kSs + kSecond;
    const struct {
        int port, speed;
        bool holds;
    } rows[] = {
        {0, kFullSpeed, false}, {1, kFullSpeed, true},   {2, kSuperSpeed, false},
        {4, kFullSpeed, true},  {6, kSuperSpeed, false}, {9, kFullSpeed, false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(hubHoldsDevice(vhciDir, status, row.port, row.speed), row.holds) << row.port;
    fs::remove_all(root);
}
