// SPDX-License-Identifier: MIT
// Error codes into words: each row is a code a bridge driver really returns
// (or the library itself), and what the person at the bench must read.
#include <cerrno>
#include <climits>
#include <gtest/gtest.h>
#include <string>

#include "sim_fixture.h"
#include "vtx/reason.h"

namespace {

struct Row {
    const char *driver;
    int32_t result;
    int device;
    const char *starts; // the sentence begins with this
    const char *never;  // and does not contain this ("" for no check)
};

const char kNoChip[] = "no chip answers at address 0x36";
const char kUnplugged[] = "the adapter was unplugged: plug it back in and restart the program";

const Row kRows[] = {
    // An address nobody acknowledges, the board unpowered.
    {"i2c-tiny-usb", -ENXIO, 0x36, kNoChip, "timed out"},
    {"mcp2221", -ENXIO, 0x36, kNoChip, ""},
    {"cp2112", -ETIMEDOUT, 0x36, kNoChip, ""},
    {"ft260", -EIO, 0x36, kNoChip, ""},
    {"", -EREMOTEIO, 0x36, kNoChip, ""},
    {"", -ENODEV, 0x37, "no chip answers at address 0x37", ""}, // i2c-stub
    {"", -ENXIO, -1, "no chip answers: check the wiring", "0x"},
    // A transfer stretched past the driver's timeout.
    {"mcp2221", -ETIMEDOUT, 0x36, "the transfer to address 0x36 timed out", "no chip"},
    {"ft260", -ETIMEDOUT, 0x36, "the transfer to address 0x36 timed out", "no chip"},
    {"i2c-tiny-usb", -EIO, 0x36,
     "the adapter did not complete the transfer to address 0x36 (timed out or unplugged)",
     "no chip"},
    // The adapter pulled out while in use.
    {"mcp2221", -ENODEV, 0x36, kUnplugged, "no chip"},
    {"cp2112", -ENODEV, 0x36, kUnplugged, "no chip"},
    {"ft260", -ENODEV, 0x36, kUnplugged, "no chip"},
    {"sim", -ENODEV, 0x36, kUnplugged, "no chip"},
    {"cp2112", -ESHUTDOWN, 0x36, "the adapter was unplugged or shut down", ""},
    {"mcp2221", -EPROTO, 0x36, "the transfer to address 0x36 broke off", ""},
    // The rest a bus or the library gives.
    {"mcp2221", -EAGAIN, 0x36, "the bus was busy", ""},
    {"", -EIO, 0x36, "the transfer to address 0x36 failed (I/O error)", "no chip"},
    {"", -EIO, -1, "the transfer failed (I/O error)", "0x"},
    {"", -EBUSY, 0x36, "the chip at address 0x36 is busy: a kernel driver", ""},
    {"", -EOPNOTSUPP, -1, "the adapter cannot do SMBus byte-data transfers", ""},
    {"", -EACCES, -1, "permission denied: at a desktop, the package's udev rule", ""},
    {"", -ENOSPC, -1, "No space left on device", ""},
    {"", 5, -1, "unexpected result 5", ""},
    {"", INT32_MIN, -1, "unexpected result -2147483648", ""},
};

TEST(Reason, EachDriversCodeReadsAsWhatItMeans) {
    for (const Row &row : kRows) {
        const std::string text = vtx::reason(row.result, row.device, row.driver);
        const std::string where = std::string(row.driver) + " " + std::to_string(row.result);
        EXPECT_EQ(text.rfind(row.starts, 0), 0u) << where << ": " << text;
        if (*row.never) {
            EXPECT_EQ(text.find(row.never), std::string::npos) << where << ": " << text;
        }
    }
}

// The library keeps the sentence of the last failure for the command and the
// panel, with the chip and the adapter it knows.
TEST_F(SimTest, LastErrorGivesTheFailedCallsSentence) {
    char text[256] = "stale";
    EXPECT_EQ(vtxLastError(text, sizeof text), 0);
    EXPECT_STREQ(text, "");

    const int32_t h = openBoard(false); // unpowered: the chip does not answer
    EXPECT_EQ(read(h, 0x00), -ENXIO);
    EXPECT_EQ(vtxLastError(text, sizeof text), -ENXIO);
    EXPECT_EQ(std::string(text).rfind(kNoChip, 0), 0u) << text;
    char shortText[8];
    vtxLastError(shortText, sizeof shortText);
    EXPECT_STREQ(shortText, "no chip");

    vtx::sim::unplug();
    EXPECT_EQ(read(h, 0x00), -ENODEV);
    EXPECT_EQ(vtxLastError(text, sizeof text), -ENODEV);
    EXPECT_STREQ(text, kUnplugged);
}

TEST_F(SimTest, LastErrorOfAFailedStartIsWhyNoAdapterWasFound) {
    restart("bogus");
    testing::internal::CaptureStderr();
    EXPECT_EQ(vtxFindControllers(), 0);
    const std::string told = testing::internal::GetCapturedStderr();
    uint8_t version[8];
    // The panel goes on to read the version through a handle it never got.
    EXPECT_EQ(vtxFirmwareVersion_Read(0, version, 5), -EBADF);
    char text[256];
    EXPECT_EQ(vtxLastError(text, sizeof text), -EBADF);
    EXPECT_EQ("vtx: " + std::string(text) + "\n", told);
}

} // namespace
