// SPDX-License-Identifier: MIT
#include "bench/bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <unistd.h>

extern char **environ;

namespace bench {

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double Median(std::vector<double> samples) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const std::size_t mid = samples.size() / 2;
    if (samples.size() % 2)
        return samples[mid];
    return (samples[mid - 1] + samples[mid]) / 2;
}

double Percentile(std::vector<double> samples, double percent) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const double rank = std::ceil(percent / 100 * static_cast<double>(samples.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

namespace {

bool StartsWith(const std::string &line, const char *prefix) {
    return line.rfind(prefix, 0) == 0;
}

} // namespace

CallCounts CountCalls(const std::vector<std::string> &lines) {
    static const char *const kSetup[] = {
        "vtxFindControllers(",      "vtxGetSerialNumber(", "vtxOpen(",
        "vtxFirmwareVersion_Read(", "vtxI2C_Control(",     "vtxGPIO_WriteControl(",
        "vtxPower_WriteControl(",
    };
    CallCounts counts;
    for (const std::string &line : lines) {
        if (StartsWith(line, "vtxI2C_RegisterRead("))
            ++counts.reads;
        else if (StartsWith(line, "vtxI2C_RegisterWrite("))
            ++counts.writes;
        else if (std::any_of(std::begin(kSetup), std::end(kSetup),
                             [&line](const char *call) { return StartsWith(line, call); }))
            ++counts.setup;
        else
            ++counts.other;
    }
    return counts;
}

bool ParseWrite(const std::string &line, int *reg, int *value) {
    int handle = 0;
    unsigned device = 0;
    unsigned r = 0;
    unsigned v = 0;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "vtxI2C_RegisterWrite(%d, 0x%x, 0x%x, 0x%x)%n", &handle, &device,
                    &r, &v, &consumed) != 4 ||
        consumed == 0)
        return false;
    *reg = static_cast<int>(r);
    *value = static_cast<int>(v);
    return true;
}

std::vector<std::string> LinesInRange(const std::string &text, int64_t begin, int64_t end) {
    std::vector<std::string> lines;
    const std::size_t stop =
        end < 0 ? text.size() : std::min(text.size(), static_cast<std::size_t>(end));
    std::size_t pos = begin < 0 ? 0 : static_cast<std::size_t>(begin);
    while (pos < stop) {
        const std::size_t newline = text.find('\n', pos);
        // A line still being written when the range was taken is not whole.
        if (newline == std::string::npos || newline >= stop)
            break;
        lines.push_back(text.substr(pos, newline - pos));
        pos = newline + 1;
    }
    return lines;
}

const char *VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Met:
        return "met";
    case Verdict::Missed:
        return "MISSED";
    case Verdict::Excess:
        return "EXCESS";
    case Verdict::Short:
        return "SHORT";
    case Verdict::Info:
        return "-";
    case Verdict::Error:
        return "ERROR";
    }
    return "?";
}

std::string Row(const std::string &section, const std::string &figure, const std::string &measured,
                const std::string &target, Verdict verdict) {
    return "ROW\t" + section + '\t' + figure + '\t' + measured + '\t' + target + '\t' +
           VerdictText(verdict);
}

Verdict CountVerdict(int measured, int minimum) {
    if (measured > minimum)
        return Verdict::Excess;
    if (measured < minimum)
        return Verdict::Short;
    return Verdict::Met;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::vector<std::string> ChildEnvironment(const std::vector<std::string> &dropped,
                                          const std::vector<std::string> &settings) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        bool drop = false;
        for (const std::string &prefix : dropped)
            drop = drop || entry.rfind(prefix, 0) == 0;
        if (!drop)
            env.push_back(entry);
    }
    env.insert(env.end(), settings.begin(), settings.end());
    return env;
}

} // namespace bench
