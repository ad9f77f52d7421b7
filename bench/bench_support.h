// SPDX-License-Identifier: MIT
// Plain helpers shared by the benchmark programs: statistics, reading the
// adapter library's trace, and the rows the run script turns into its table.
#ifndef BENCH_BENCH_SUPPORT_H
#define BENCH_BENCH_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Nanoseconds on CLOCK_MONOTONIC, which every process on the machine shares.
int64_t MonotonicNs();

// Median and nearest-rank percentile (0..100); both 0 for no samples.
double Median(std::vector<double> samples);
double Percentile(std::vector<double> samples, double percent);

// Library calls as the trace names them, grouped the way the panel uses them:
// adapter set-up (find, serial, open, firmware, bus, GPIO, power), register
// reads and register writes.
struct CallCounts {
    int setup = 0;
    int reads = 0;
    int writes = 0;
    int other = 0; // a line that is not a library call
    int total() const { return setup + reads + writes + other; }
};
CallCounts CountCalls(const std::vector<std::string> &lines);

// "vtxI2C_RegisterWrite(1, 0x36, 0x05, 0x1F) = 0" gives register 0x05 and
// value 0x1F; any other line gives false.
bool ParseWrite(const std::string &line, int *reg, int *value);

// The complete lines of `text` that lie in the byte range [begin, end); a
// negative end means the end of the text. A trace is flushed line by line,
// so a byte offset taken between two calls falls on a line boundary.
std::vector<std::string> LinesInRange(const std::string &text, int64_t begin, int64_t end);

// One line of the run script's table: a tab-separated "ROW" record with the
// section, the figure, what was measured, the target and the verdict.
enum class Verdict { Met, Missed, Excess, Short, Info, Error };
const char *VerdictText(Verdict verdict);
std::string Row(const std::string &section, const std::string &figure, const std::string &measured,
                const std::string &target, Verdict verdict);

// A bus count against the least the panel's design allows: equal is met,
// more is an excess, fewer means a change never reached the chip.
Verdict CountVerdict(int measured, int minimum);

// The environment of a child process: this process's own, less every entry
// that starts with one of `dropped` (such as "VTX_TRACE="), plus `settings`.
std::vector<std::string> ChildEnvironment(const std::vector<std::string> &dropped,
                                          const std::vector<std::string> &settings);

// "%.*f" without the locale's say.
std::string Fixed(double value, int decimals);

} // namespace bench

#endif
