// SPDX-License-Identifier: MIT
// The front end: handle and argument checks, the trace, the backend choice.
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <fstream>
#include <functional>
#include <sstream>

#include "sim_fixture.h"
#include "tests/support/sim_session.h"

namespace {

using Lines = std::vector<std::string>;

TEST_F(SimTest, HandlesNotHandedOutGiveEbadf) {
    const std::function<int32_t(int32_t)> withHandle[] = {
        [](int32_t h) {
            uint8_t b[8];
            return vtxFirmwareVersion_Read(h, b, 5);
        },
        [](int32_t h) { return vtxI2C_Control(h, 0, 0, 1); },
        [](int32_t h) { return vtxGPIO_WriteControl(h, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0); },
        [](int32_t h) { return vtxPower_WriteControl(h, 1, 0); },
        [](int32_t h) { return write(h, 0x00, 0xC4); },
        [](int32_t h) { return read(h, 0x00); },
        [](int32_t h) { return vtxLock(h, 0); },
        [](int32_t h) { return vtxUnlock(h); },
    };
    for (int32_t h : {1, 0, -1, INT32_MIN}) // 1: not yet opened
        for (const auto &call : withHandle)
            EXPECT_EQ(call(h), -EBADF) << h;
    const int32_t h = openBoard();
    for (const auto &call : withHandle)
        EXPECT_EQ(call(h + 1), -EBADF);
}

TEST_F(SimTest, BadArgumentsAreRefusedWithoutTouchingBuffers) {
    const int32_t h = openBoard();
    char serial[VTX_SERIAL_SIZE] = "stale";
    EXPECT_EQ(vtxGetSerialNumber(0, nullptr), -EINVAL);
    for (int32_t index : {-1, INT32_MIN, 1}) {
        EXPECT_LT(vtxGetSerialNumber(index, serial), 0) << index;
        EXPECT_STREQ(serial, "") << "a failed query leaves no stale text";
    }
    EXPECT_EQ(vtxOpen(nullptr), -EINVAL);
    const std::string tooLong(300, 'S');
    for (const char *unknown : {"", "SIM-0002", "SIM-0001 ", tooLong.c_str()})
        EXPECT_LT(vtxOpen(unknown), 0) << unknown;
    EXPECT_EQ(vtxOpen("SIM-0001"), h) << "opening again gives the same handle";

    std::array<uint8_t, 80> canary, buffer;
    canary.fill(0xEE);
    EXPECT_EQ(vtxFirmwareVersion_Read(h, nullptr, 5), -EINVAL);
    for (int32_t length : {INT32_MIN, 0, 3, 65}) {
        buffer = canary;
        EXPECT_EQ(vtxFirmwareVersion_Read(h, buffer.data(), length), -EINVAL) << length;
        EXPECT_EQ(buffer, canary) << length;
    }
    for (int32_t length : {4, 64}) { // within length: reply then zeros; past it: untouched
        buffer = canary;
        ASSERT_EQ(vtxFirmwareVersion_Read(h, buffer.data(), length), 0);
        EXPECT_EQ(buffer[3], 3);
        EXPECT_EQ(std::count(buffer.begin() + 4, buffer.begin() + length, 0), length - 4);
        EXPECT_EQ(buffer[length], 0xEE);
    }
    EXPECT_EQ(vtxI2C_RegisterRead(h, 0x80, 0x00), -EINVAL) << "7-bit addresses only";
    EXPECT_EQ(vtxI2C_RegisterWrite(h, 0x136, 0x00, 0x00), -EINVAL);
}

TEST_F(SimTest, TraceShowsEachCallInItsExactForm) {
    const int32_t h = openBoard();
    read(h, 0x00);
    write(h, 0x00, 0xC4);
    Lines expected = sim_session::kSetUpCalls;
    expected.push_back("vtxI2C_RegisterRead(1, 0x36, 0x00) = 192");
    expected.push_back("vtxI2C_RegisterWrite(1, 0x36, 0x00, 0xC4) = 0");
    EXPECT_EQ(calls, expected);
}

TEST_F(SimTest, TraceFileIsAppendedAndFlushedPerCall) {
    const std::string path = ::testing::TempDir() + "vtx_trace_test.log";
    std::ofstream(path) << "earlier\n";
    setenv("VTX_TRACE", path.c_str(), 1);
    restart("sim");
    uint8_t buffer[8];
    vtxOpen(nullptr);
    vtxOpen("a\"b\\c\n\x7F");
    vtxFirmwareVersion_Read(7, buffer, 5);
    vtxI2C_RegisterWrite(7, 0x136, 0xFF, 0x01);
    std::stringstream text; // read while the library still holds the file open
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), "earlier\n"
                          "vtxOpen(NULL) = -22\n"
                          "vtxOpen(\"a\\\"b\\\\c\\x0A\\x7F\") = -19\n"
                          "vtxFirmwareVersion_Read(7, 5) = -9\n"
                          "vtxI2C_RegisterWrite(7, 0x136, 0xFF, 0x01) = -9\n");
    EXPECT_EQ(calls.size(), 4u) << "the sink gets the same lines";
    unsetenv("VTX_TRACE");
    std::remove(path.c_str());
}

// Each case: calls go on as normal, and one line on stderr says why.
TEST_F(SimTest, BadTraceFileOrAdapterNameCostsOneLineOnStderr) {
    const struct {
        const char *trace, *adapter, *mention;
        int32_t found;
    } cases[] = {
        {"/nonexistent-dir/trace.log", "sim", "/nonexistent-dir/trace.log", 1},
        {nullptr, "usb", "sim, sim:NAME, a /dev/i2c-N path, usb:SERIAL, usb-port:PORT, or leave",
         0},
        {nullptr, "usb-port:1-", "\"usb-port:1-\": a USB port path is", 0},
        {nullptr, "sim:", "\"\" is not a board name", 0},
        {nullptr, "sim:../../etc/x", "\"../../etc/x\" is not a board name", 0},
        {nullptr, "sim:.hidden", "\".hidden\" is not a board name", 0},
        {nullptr, "dev/i2c-1", "dev/i2c-1", 0},
    };
    for (const auto &c : cases) {
        c.trace ? setenv("VTX_TRACE", c.trace, 1) : unsetenv("VTX_TRACE");
        ::testing::internal::CaptureStderr();
        restart(c.adapter);
        EXPECT_EQ(vtxFindControllers(), c.found);
        EXPECT_EQ(vtxFindControllers(), c.found);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(c.mention), std::string::npos) << err;
        unsetenv("VTX_TRACE");
    }
}

TEST_F(SimTest, BackendIsChosenOnceByTheFirstCallThatNeedsOne) {
    char serial[VTX_SERIAL_SIZE];
    EXPECT_EQ(vtxGetSerialNumber(0, serial), 0);
    EXPECT_STREQ(serial, "SIM-0001");
    setenv("VTX_ADAPTER", "bogus", 1);
    EXPECT_EQ(vtxFindControllers(), 1);
    // The bus backend's findings depend on the machine; it only has to hold up.
    for (const char *adapter : {static_cast<const char *>(nullptr), "", "/dev/i2c-9999"}) {
        restart(adapter);
        vtxFindControllers();
        vtxGetSerialNumber(0, serial);
        vtxOpen("SIM-0001");
        EXPECT_EQ(calls.size(), 3u);
    }
}

} // namespace
