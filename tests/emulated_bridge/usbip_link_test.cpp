// SPDX-License-Identifier: MIT
// USB/IP records as vhci-hcd sends them, answered over a socket pair.
#include "emulated_bridge/usbip_link.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

using namespace emulated_bridge;

namespace {

// Answers every IN request with its own setup bytes, repeated to 300 bytes,
// and remembers the OUT data; request 0xEE stalls. Data sent to endpoint 2
// comes back on IN endpoint 1, once.
class EchoDevice : public UsbDevice {
public:
    ControlReply control(const SetupPacket &setup, const std::vector<uint8_t> &out) override {
        lastOut = out;
        lastSetup = setup;
        if (setup.request == 0xEE)
            return ControlReply::stall();
        ControlReply r;
        for (int i = 0; setup.in() && i < 300; ++i)
            r.data.push_back(uint8_t(i));
        return r;
    }
    int32_t transferOut(uint8_t endpoint, const std::vector<uint8_t> &data) override {
        if (endpoint != 2)
            return -EPIPE;
        queued = data;
        return 0;
    }
    bool transferIn(uint8_t endpoint, std::vector<uint8_t> &data) override {
        if (endpoint != 1 || queued.empty())
            return false;
        data.swap(queued);
        queued.clear();
        return true;
    }
    SetupPacket lastSetup;
    std::vector<uint8_t> lastOut;
    std::vector<uint8_t> queued;
};

void put32(std::vector<uint8_t> &b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(uint8_t(v >> shift));
}

uint32_t get32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// A CMD_SUBMIT on endpoint `ep` with the setup bytes and, for OUT, the data.
// Off endpoint 0 the length is the data's, or 64 for IN.
std::vector<uint8_t> submit(uint32_t seqnum, bool in, std::vector<uint8_t> setup,
                            std::vector<uint8_t> data = {}, uint32_t ep = 0) {
    std::vector<uint8_t> b;
    put32(b, kCmdSubmit);
    put32(b, seqnum);
    put32(b, 0x00010002); // devid
    put32(b, in ? 1 : 0);
    put32(b, ep);
    put32(b, 0); // transfer flags
    put32(b, ep == 0 ? uint32_t(setup[6] | setup[7] << 8) : in ? 64 : uint32_t(data.size()));
    put32(b, 0); // start frame
    put32(b, 0); // packets
    put32(b, 0); // interval
    b.insert(b.end(), setup.begin(), setup.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

class UsbipLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        server = std::thread([this] { result = serveUsbip(fds[0], device, stop); });
    }
    void TearDown() override {
        ::close(fds[1]);
        server.join();
        ::close(fds[0]);
    }
    void send(const std::vector<uint8_t> &bytes) {
        ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::vector<uint8_t> receive(size_t size) {
        std::vector<uint8_t> b(size);
        size_t got = 0;
        while (got < size) {
            const ssize_t n = ::read(fds[1], b.data() + got, size - got);
            if (n <= 0)
                break;
            got += size_t(n);
        }
        b.resize(got);
        return b;
    }

    int fds[2] = {-1, -1};
    EchoDevice device;
    std::atomic<bool> stop{false};
    std::thread server;
    int result = 1;
};

} // namespace

TEST_F(UsbipLinkTest, InRequestIsAnsweredWithAtMostTheLengthAsked) {
    send(submit(7, true, {0xC1, 0x03, 0x34, 0x12, 0x36, 0x00, 0x40, 0x00}));
    const auto reply = receive(kUsbipHeaderSize + 64);
    ASSERT_EQ(reply.size(), kUsbipHeaderSize + 64);
    EXPECT_EQ(get32(reply, 0), kRetSubmit);
    EXPECT_EQ(get32(reply, 4), 7u);   // seqnum
    EXPECT_EQ(get32(reply, 20), 0u);  // status
    EXPECT_EQ(get32(reply, 24), 64u); // actual length, not the 300 offered
    EXPECT_EQ(reply[kUsbipHeaderSize + 63], 63);
    EXPECT_EQ(device.lastSetup.requestType, 0xC1);
    EXPECT_EQ(device.lastSetup.value, 0x1234);
    EXPECT_EQ(device.lastSetup.index, 0x0036);
    EXPECT_EQ(device.lastSetup.length, 64);
}

TEST_F(UsbipLinkTest, OutDataReachesTheDeviceAndIsCountedDone) {
    send(submit(8, false, {0x41, 0x05, 0x00, 0x00, 0x36, 0x00, 0x02, 0x00}, {0x05, 0x1F}));
    const auto reply = receive(kUsbipHeaderSize);
    ASSERT_EQ(reply.size(), kUsbipHeaderSize);
    EXPECT_EQ(get32(reply, 0), kRetSubmit);
    EXPECT_EQ(get32(reply, 4), 8u);
    EXPECT_EQ(get32(reply, 24), 2u);
    EXPECT_EQ(device.lastOut, (std::vector<uint8_t>{0x05, 0x1F}));
}

TEST_F(UsbipLinkTest, StallAndAnEndpointTheDeviceLacksAnswerEpipeWithoutData) {
    send(submit(9, true, {0xC1, 0xEE, 0, 0, 0, 0, 0x10, 0}));
    auto reply = receive(kUsbipHeaderSize);
    EXPECT_EQ(int32_t(get32(reply, 20)), -EPIPE);
    EXPECT_EQ(get32(reply, 24), 0u);
    send(submit(10, false, std::vector<uint8_t>(8, 0), {0x01}, 3)); // no such endpoint
    reply = receive(kUsbipHeaderSize);
    EXPECT_EQ(get32(reply, 4), 10u);
    EXPECT_EQ(int32_t(get32(reply, 20)), -EPIPE);
    // Nothing else follows: the next record starts right after.
    send(submit(11, true, {0xC1, 0x03, 0, 0, 0, 0, 0x01, 0}));
    reply = receive(kUsbipHeaderSize + 1);
    EXPECT_EQ(get32(reply, 4), 11u);
}

TEST_F(UsbipLinkTest, UnlinkOfAFinishedRequestIsAnsweredInTurn) {
    std::vector<uint8_t> unlink;
    put32(unlink, kCmdUnlink);
    put32(unlink, 12);
    for (int i = 0; i < 3; ++i)
        put32(unlink, 0);
    put32(unlink, 9); // the request to unlink
    unlink.resize(kUsbipHeaderSize, 0);
    send(unlink);
    const auto reply = receive(kUsbipHeaderSize);
    EXPECT_EQ(get32(reply, 0), kRetUnlink);
    EXPECT_EQ(get32(reply, 4), 12u);
    EXPECT_EQ(get32(reply, 20), 0u);
}

TEST_F(UsbipLinkTest, InterruptInWaitsForTheDevicesDataAndIsAnsweredInTurn) {
    send(submit(20, true, std::vector<uint8_t>(8, 0), {}, 1)); // waits: nothing to send
    send(submit(21, false, std::vector<uint8_t>(8, 0), {0x10, 0x01}, 2));
    auto reply = receive(kUsbipHeaderSize);
    EXPECT_EQ(get32(reply, 4), 21u); // the OUT transfer is answered first
    EXPECT_EQ(get32(reply, 24), 2u);
    reply = receive(kUsbipHeaderSize + 2);
    EXPECT_EQ(get32(reply, 4), 20u); // then the IN transfer, with the data
    EXPECT_EQ(get32(reply, 24), 2u);
    EXPECT_EQ(reply[kUsbipHeaderSize], 0x10);
}

TEST_F(UsbipLinkTest, UnlinkOfAWaitingRequestCancelsItForGood) {
    send(submit(30, true, std::vector<uint8_t>(8, 0), {}, 1));
    std::vector<uint8_t> unlink;
    put32(unlink, kCmdUnlink);
    put32(unlink, 31);
    for (int i = 0; i < 3; ++i)
        put32(unlink, 0);
    put32(unlink, 30);
    unlink.resize(kUsbipHeaderSize, 0);
    send(unlink);
    auto reply = receive(kUsbipHeaderSize);
    EXPECT_EQ(get32(reply, 0), kRetUnlink);
    EXPECT_EQ(get32(reply, 4), 31u);
    EXPECT_EQ(int32_t(get32(reply, 20)), -ECONNRESET);
    // Data that comes later is not handed to the cancelled request.
    send(submit(32, false, std::vector<uint8_t>(8, 0), {0x16}, 2));
    send(submit(33, true, {0xC1, 0x03, 0, 0, 0, 0, 0x01, 0}));
    reply = receive(kUsbipHeaderSize);
    EXPECT_EQ(get32(reply, 4), 32u);
    reply = receive(kUsbipHeaderSize + 1);
    EXPECT_EQ(get32(reply, 4), 33u);
}

TEST_F(UsbipLinkTest, UnknownRecordEndsTheConnectionAsAProtocolError) {
    std::vector<uint8_t> bogus;
    put32(bogus, 0x77);
    bogus.resize(kUsbipHeaderSize, 0);
    send(bogus);
    server.join();
    server = std::thread([] {});
    EXPECT_EQ(result, -EPROTO);
}

TEST_F(UsbipLinkTest, PeerClosingEndsServingQuietly) {
    ::shutdown(fds[1], SHUT_WR);
    server.join();
    server = std::thread([] {});
    EXPECT_EQ(result, 0);
}
