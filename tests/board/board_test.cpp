// SPDX-License-Identifier: MIT
// The board's operations on the simulated board, with failures forced into
// single registers: what a load that fails part-way leaves behind, and how
// it says so.
#include <cerrno>

#include "board/operations.h"
#include "vtx/sim_fixture.h"

namespace {

using vtx::test::Call;

class BoardTest : public SimTest {
protected:
    board::Device device{[this](const std::string &m) { complaints.push_back(m); }};
    std::vector<std::string> complaints;
};

const std::vector<regfile::Entry> kFile = {
    {0x00, 0xD4, 1}, {0x01, 0x1F, 2}, {0x02, 0x58, 3}, {0x03, 0xFF, 4}, {0x04, 0x80, 5},
    {0x05, 0x08, 6}, {0x06, 0x10, 7}, {0x07, 0x31, 8}, {0x08, 0x09, 9},
};

// The same with 0x03 at its reset value, which the chip holds already.
std::vector<regfile::Entry> withResetBrightness() {
    std::vector<regfile::Entry> file = kFile;
    file[3].value = 0x00;
    return file;
}

TEST_F(BoardTest, LoadThatFailsPartWaySaysWhatItLeft) {
    struct Row {
        Call call;
        uint8_t reg;
        std::vector<uint8_t> held, notHeld;
        const char *described;
        std::vector<regfile::Entry> file = kFile;
    };
    const Row rows[] = {
        // The write of 0x03 fails: the writing stops, and what was written
        // is read back.
        {Call::I2C_RegisterWrite,
         0x03,
         {0, 1, 2},
         {3, 4, 5, 6, 7, 8},
         "0x00 to 0x02 hold the file's values; 0x03 to 0x08 do not"},
        {Call::I2C_RegisterWrite,
         0x00,
         {},
         {0, 1, 2, 3, 4, 5, 6, 7, 8},
         "no register holds the file's values"},
        // Everything written, one register cannot be read back.
        {Call::I2C_RegisterRead,
         0x05,
         {0, 1, 2, 3, 4, 6, 7, 8},
         {5},
         "0x00 to 0x04 and 0x06 to 0x08 hold the file's values; 0x05 does not"},
        // A register whose write failed is not among those that hold the
        // file's value, even where the chip happens to hold it already.
        {Call::I2C_RegisterWrite,
         0x03,
         {0, 1, 2},
         {3, 4, 5, 6, 7, 8},
         "0x00 to 0x02 hold the file's values; 0x03 to 0x08 do not",
         withResetBrightness()},
    };
    for (const Row &row : rows) {
        SetUp();
        complaints.clear();
        ASSERT_TRUE(device.open());
        vtx::test::forceResultAt(row.call, row.reg, -EIO);
        const board::LoadOutcome out = board::loadSetUp(device, row.file);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.held, row.held);
        EXPECT_EQ(out.notHeld, row.notHeld);
        EXPECT_EQ(board::describeLoad(out), row.described);
        EXPECT_EQ(out.written, row.reg == 0x03 ? 3u : row.reg == 0x00 ? 0u : 9u);
        ASSERT_FALSE(complaints.empty());
        EXPECT_EQ(complaints[0].rfind(chip::registerLabel(row.reg), 0), 0u) << complaints[0];
        for (uint8_t reg : row.held)
            EXPECT_EQ(vtx::sim::chipRegister(reg), row.file[reg].value);
    }
}

TEST_F(BoardTest, SetUpFailureWordsComeFromTheLibrary) {
    vtx::sim::unplug();
    EXPECT_FALSE(device.open());
    ASSERT_EQ(complaints.size(), 1u);
    EXPECT_EQ(complaints[0].rfind("no adapter found (VTX_ADAPTER=sim)", 0), 0u) << complaints[0];
}

} // namespace
