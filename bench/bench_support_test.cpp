// SPDX-License-Identifier: MIT
// The helpers the figures rest on: a wrong count or median here would make
// every figure in the table wrong without anything looking amiss.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

#include "bench/bench_support.h"
#include "tests/support/sim_session.h"

namespace {

TEST(BenchStatsTest, MedianOfOddAndEvenCountsAndUnsortedInput) {
    EXPECT_EQ(bench::Median({}), 0);
    EXPECT_EQ(bench::Median({7}), 7);
    EXPECT_EQ(bench::Median({9, 1, 5}), 5);
    EXPECT_EQ(bench::Median({4, 1, 3, 2}), 2.5);
}

TEST(BenchStatsTest, PercentileIsNearestRankAndStaysInRange) {
    const std::vector<double> samples = {10, 1, 9, 2, 8, 3, 7, 4, 6, 5};
    EXPECT_EQ(bench::Percentile(samples, 90), 9);
    EXPECT_EQ(bench::Percentile(samples, 100), 10);
    EXPECT_EQ(bench::Percentile(samples, 0), 1);
    EXPECT_EQ(bench::Percentile({3}, 90), 3);
    EXPECT_EQ(bench::Percentile({}, 50), 0);
}

TEST(BenchTraceTest, CallsAreGroupedAsSetUpReadsAndWrites) {
    std::vector<std::string> lines = sim_session::kSetUpCalls;
    lines.insert(lines.end(), {
                                  "vtxI2C_RegisterRead(1, 0x36, 0x00) = 192",
                                  "vtxI2C_RegisterWrite(1, 0x36, 0x00, 0xC4) = 0",
                                  // A read must not pass for the write it resembles, nor a prefix
                                  // for a call.
                                  "vtxI2C_RegisterReadX(1) = 0",
                                  "",
                              });
    const bench::CallCounts c = bench::CountCalls(lines);
    EXPECT_EQ(c.setup, 7);
    EXPECT_EQ(c.reads, 1);
    EXPECT_EQ(c.writes, 1);
    EXPECT_EQ(c.other, 2);
    EXPECT_EQ(c.total(), 11);
}

TEST(BenchTraceTest, WritesGiveRegisterAndValueOtherLinesNothing) {
    int reg = -1;
    int value = -1;
    ASSERT_TRUE(bench::ParseWrite("vtxI2C_RegisterWrite(1, 0x36, 0x05, 0x1F) = 0", &reg, &value));
    EXPECT_EQ(reg, 0x05);
    EXPECT_EQ(value, 0x1F);
    // A failed write is still a write on the bus.
    ASSERT_TRUE(bench::ParseWrite("vtxI2C_RegisterWrite(1, 0x36, 0x0F, 0x01) = -6", &reg, &value));
    EXPECT_EQ(reg, 0x0F);
    reg = value = -1;
    EXPECT_FALSE(bench::ParseWrite("vtxI2C_RegisterRead(1, 0x36, 0x05) = 31", &reg, &value));
    EXPECT_FALSE(bench::ParseWrite("vtxI2C_RegisterWrite(1, 0x36, 0x05", &reg, &value));
    EXPECT_EQ(reg, -1);
}

TEST(BenchTraceTest, LinesInRangeSplitsAtByteOffsetsAndDropsPartialLines) {
    const std::string text = "a()\nbb()\nccc()\n";
    EXPECT_EQ(bench::LinesInRange(text, 0, 4), (std::vector<std::string>{"a()"}));
    EXPECT_EQ(bench::LinesInRange(text, 4, -1), (std::vector<std::string>{"bb()", "ccc()"}));
    EXPECT_TRUE(bench::LinesInRange(text, 4, 4).empty());
    // A range that ends inside a line leaves that line to the next range.
    EXPECT_EQ(bench::LinesInRange(text, 0, 6), (std::vector<std::string>{"a()"}));
    // An offset past the end (the file grew after the size was taken).
    EXPECT_EQ(bench::LinesInRange(text, 9, 100), (std::vector<std::string>{"ccc()"}));
    EXPECT_TRUE(bench::LinesInRange("no newline", 0, -1).empty());
}

TEST(BenchRowTest, CountsAgainstTheMinimumAndRowsAreTabSeparated) {
    EXPECT_EQ(bench::CountVerdict(2, 2), bench::Verdict::Met);
    EXPECT_EQ(bench::CountVerdict(3, 2), bench::Verdict::Excess);
    EXPECT_EQ(bench::CountVerdict(1, 2), bench::Verdict::Short);
    EXPECT_EQ(bench::Row("bus", "reads", "13", "13", bench::Verdict::Met),
              "ROW\tbus\treads\t13\t13\tmet");
    EXPECT_EQ(bench::Fixed(1.15, 2), "1.15");
}

} // namespace

TEST(ChildEnvironment, DropsEveryEntryWithAGivenPrefixAndAddsTheSettings) {
    ::setenv("XQ_BENCH_PROBE", "1", 1);
    ::setenv("VTX_TRACE", "/tmp/trace", 1);
    const std::vector<std::string> env =
        bench::ChildEnvironment({"VTX_TRACE=", "XQ_BENCH_"}, {"VTX_ADAPTER=sim"});
    auto has = [&](const std::string &prefix) {
        return std::any_of(env.begin(), env.end(),
                           [&](const std::string &e) { return e.rfind(prefix, 0) == 0; });
    };
    EXPECT_FALSE(has("VTX_TRACE="));
    EXPECT_FALSE(has("XQ_BENCH_PROBE="));
    EXPECT_TRUE(has("PATH="));
    EXPECT_EQ(env.back(), "VTX_ADAPTER=sim");
    ::unsetenv("XQ_BENCH_PROBE");
    ::unsetenv("VTX_TRACE");
}
