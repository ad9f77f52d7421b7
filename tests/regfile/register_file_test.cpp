// SPDX-License-Identifier: MIT
// Register files: what a file may say, each refusal with its line, and a set-up
// carried from one chip through a file to another.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "regfile/register_file.h"
#include "vtx/sim.h"
#include "vtx/vtx.h"
#include "vtx/vtx_testing.h"

namespace {

using Entries = std::vector<regfile::Entry>;
using Problems = std::vector<std::string>; // as described, "line N: reason"

Problems described(const regfile::Contents &c) {
    Problems out;
    for (const auto &p : c.problems)
        out.push_back(regfile::describe(p));
    return out;
}

TEST(RegisterFile, GoodFilesGiveTheirRegistersInAddressOrder) {
    struct Row {
        const char *text;
        Entries entries;
    };
    const Row rows[] = {
        {"0x00 0xC4\n", {{0x00, 0xC4, 1}}},
        {"# header\n\n0x02 0x38  # Boost Control\n0x01 0x18\n", {{0x01, 0x18, 4}, {0x02, 0x38, 3}}},
        {"  3\t80  \r\n0X08 0Xff", {{0x03, 0x80, 1}, {0x08, 0xFF, 2}}},
        {"0x05 1F#no space before the comment\n", {{0x05, 0x1F, 1}}},
        {"0x00 0xC0\n0x01 0x18\n0x02 0x38\n0x03 0x00\n0x04 0x00\n0x05 0x1F\n0x06 0x1F\n"
         "0x07 0x00\n0x08 0x00\n",
         {{0, 0xC0, 1},
          {1, 0x18, 2},
          {2, 0x38, 3},
          {3, 0, 4},
          {4, 0, 5},
          {5, 0x1F, 6},
          {6, 0x1F, 7},
          {7, 0, 8},
          {8, 0, 9}}},
    };
    for (const Row &row : rows) {
        const auto c = regfile::parse(row.text);
        EXPECT_TRUE(c.ok()) << row.text << ::testing::PrintToString(described(c));
        EXPECT_EQ(c.entries, row.entries) << row.text;
    }
}

TEST(RegisterFile, BadFilesAreRefusedWholeWithEveryLineAndReason) {
    struct Row {
        const char *text;
        Problems problems;
    };
    const Row rows[] = {
        {"0x09 0x00\n", {"line 1: register 0x09 (Interrupt Status) is read-only"}},
        {"0x00 0xC0\n0x0A 0x46\n", {"line 2: register 0x0A (Part Number, High) is read-only"}},
        {"0x0F 0x01\n",
         {"line 1: register 0x0F (Software Reset) is write-only and not part of a set-up"}},
        {"0x13 0x00\n", {"line 1: register 0x13 is not one of the chip's registers"}},
        {"0x00 0xC0\n# again\n0x00 0xC4\n",
         {"line 3: register 0x00 (Control) is already set on line 1"}},
        {"0x03 0x100\n", {"line 1: value \"0x100\" does not fit in a byte (00 to FF)"}},
        {"0x03 1FF\n", {"line 1: value \"1FF\" does not fit in a byte (00 to FF)"}},
        {"0x100 0x00\n", {"line 1: register \"0x100\" does not fit in a byte (00 to FF)"}},
        {"0x03 -1\n", {"line 1: value \"-1\" is not a hex number"}},
        {"0x03 +1\n", {"line 1: value \"+1\" is not a hex number"}},
        {"0x03 bright\n", {"line 1: value \"bright\" is not a hex number"}},
        {"reg 0x00\n", {"line 1: register \"reg\" is not a hex number"}},
        {"0x03 0x\n", {"line 1: value \"0x\" is not a hex number"}},
        {"0x03\n", {"line 1: a register without a value (expected \"0xRR 0xVV\")"}},
        {"0x03 0x80 0x81\n", {"line 1: text after the value (expected \"0xRR 0xVV\")"}},
        {"0x03 0x8\x01\n", {"line 1: value \"0x8\\x01\" is not a hex number"}},
        {"", {"the file sets no register"}},
        {"# only a comment\n\n", {"the file sets no register"}},
        // Every bad line is named, not only the first; good lines give nothing.
        {"0x00 0xC4\n0x09 0x00\n0x03 zz\n0x04 0x10\n0x04 0x20\n",
         {"line 2: register 0x09 (Interrupt Status) is read-only",
          "line 3: value \"zz\" is not a hex number",
          "line 5: register 0x04 (Brightness, Bank B) is already set on line 4"}},
    };
    for (const Row &row : rows) {
        const auto c = regfile::parse(row.text);
        EXPECT_FALSE(c.ok()) << row.text;
        EXPECT_EQ(described(c), row.problems) << row.text;
        EXPECT_TRUE(c.entries.empty()) << "nothing of a refused file is used: " << row.text;
    }
}

TEST(RegisterFile, WrittenFileNamesTheWriterAndTheFieldsThatAreSet) {
    const std::string text = regfile::format(
        {{0x07, 0x31, 0}, {0x00, 0xC4, 0}, {0x03, 0x80, 0}, {0x01, 0x00, 0}}, "xq4620 1.0.0");
    EXPECT_EQ(text, "# XQ4620 register file written by xq4620 1.0.0\n"
                    "# One register a line: address and value in hex. '#' starts a comment.\n"
                    "0x00 0xC4  # Control: sleep, led-a-en\n"
                    "0x01 0x00  # Configuration\n"
                    "0x03 0x80  # Brightness, Bank A: brightness-a=128\n"
                    "0x07 0x31  # Ramp Times, On and Off: ramp-on=8 s, ramp-off=261 ms\n");
}

class RegisterFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/regfile-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    static std::string slurp(const std::string &path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir;
};

TEST_F(RegisterFileOnDisk, UnreadableFilesSayWhy) {
    EXPECT_EQ(described(regfile::read(dir + "/missing")), Problems{"No such file or directory"});
    EXPECT_EQ(described(regfile::read(dir)), Problems{"Is a directory"});
    std::ofstream(dir + "/huge") << std::string(2 << 20, '#');
    EXPECT_EQ(described(regfile::read(dir + "/huge")),
              Problems{"larger than a register file can be (1 MiB)"});
}

TEST_F(RegisterFileOnDisk, AFailedWriteLeavesTheOldFileWhole) {
    const std::string path = dir + "/setup.txt";
    std::string error;
    ASSERT_TRUE(regfile::write(path, "0x00 0xC4\n", error)) << error;
    EXPECT_EQ(slurp(path), "0x00 0xC4\n");
    // A disk that fills up half way: the file size limit stops the write.
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 16;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool wrote = regfile::write(path, std::string(64, '#') + "\n0x00 0x00\n", error);
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(error, "File too large");
    EXPECT_EQ(slurp(path), "0x00 0xC4\n");
    EXPECT_EQ(std::system(("test $(ls '" + dir + "' | wc -l) = 1").c_str()), 0)
        << "no half-written file is left beside it";
    EXPECT_FALSE(regfile::write(dir + "/no/such/dir/file", "x", error));
    EXPECT_EQ(error, "No such file or directory");
}

// A set-up carried from one chip through a file to a chip fresh from reset.
TEST_F(RegisterFileOnDisk, RoundTripChipFileChip) {
    setenv("VTX_ADAPTER", "sim", 1);
    vtx::test::reset();
    char serial[VTX_SERIAL_SIZE];
    vtxFindControllers();
    vtxGetSerialNumber(0, serial);
    const int32_t h = vtxOpen(serial);
    ASSERT_EQ(vtxPower_WriteControl(h, 1, 0), 0);
    const uint8_t setup[] = {0x97, 0x1F, 0x7F, 0x80, 0xFF, 0x00, 0x11, 0x3F, 0x2A};
    for (uint8_t reg = 0; reg < 9; ++reg)
        ASSERT_EQ(vtxI2C_RegisterWrite(h, 0x36, reg, setup[reg]), 0);

    Entries saved;
    for (uint8_t reg = 0; reg < 9; ++reg)
        saved.push_back({reg, static_cast<uint8_t>(vtxI2C_RegisterRead(h, 0x36, reg)), 0});
    std::string error;
    ASSERT_TRUE(regfile::write(dir + "/chip.txt", regfile::format(saved, "test"), error));

    ASSERT_EQ(vtxI2C_RegisterWrite(h, 0x36, 0x0F, 0x01), 0); // software reset
    ASSERT_EQ(vtx::sim::chipRegister(0x00), 0xC0);
    const auto loaded = regfile::read(dir + "/chip.txt");
    ASSERT_TRUE(loaded.ok()) << ::testing::PrintToString(described(loaded));
    for (const auto &e : loaded.entries)
        ASSERT_EQ(vtxI2C_RegisterWrite(h, 0x36, e.reg, e.value), 0);
    for (uint8_t reg = 0; reg < 9; ++reg)
        EXPECT_EQ(vtx::sim::chipRegister(reg), setup[reg]) << int(reg);
    vtx::test::reset();
}

} // namespace
