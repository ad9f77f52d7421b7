// SPDX-License-Identifier: MIT
// The command's figures: start-up of `xq4620 dump` against the bare floor
// program, each timed from just before it is spawned to its exit, and the
// library calls of dump, set and load counted from the trace of a real run.
//
//   bench_cli --floor PATH --command PATH [--runs N]
//
// Prints the table rows (bench_support.h) and the single runs.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_support.h"

namespace {

constexpr double kRatioTarget = 1.5;

// Milliseconds from spawn to reaped exit; negative when the run failed.
double RunOnce(const std::vector<std::string> &args, const std::vector<std::string> &settings) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> withBoard = {"VTX_ADAPTER=sim"};
    withBoard.insert(withBoard.end(), settings.begin(), settings.end());
    std::vector<std::string> env =
        bench::ChildEnvironment({"VTX_ADAPTER=", "VTX_TRACE="}, withBoard);
    std::vector<char *> envp, argv;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argsCopy = args;
    for (std::string &a : argsCopy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int64_t start = bench::MonotonicNs();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "bench_cli: %s: %s\n", argv[0], std::strerror(spawned));
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const int64_t end = bench::MonotonicNs();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_cli: %s failed\n", argv[0]);
        return -1;
    }
    return static_cast<double>(end - start) / 1e6;
}

std::vector<std::string> TraceOf(const std::vector<std::string> &args, const std::string &dir) {
    const std::string trace = dir + "/trace";
    std::remove(trace.c_str());
    if (RunOnce(args, {"VTX_TRACE=" + trace}) < 0)
        return {};
    std::ifstream in(trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void Row(const std::string &figure, const std::string &measured, const std::string &target,
         bench::Verdict verdict) {
    std::printf("%s\n", bench::Row("command", figure, measured, target, verdict).c_str());
}

void Count(const std::string &figure, int measured, int minimum) {
    Row(figure, std::to_string(measured), std::to_string(minimum),
        bench::CountVerdict(measured, minimum));
}

} // namespace

int main(int argc, char **argv) {
    std::string floor, command;
    int runs = 21;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--floor")
            floor = argv[i + 1];
        else if (key == "--command")
            command = argv[i + 1];
        else if (key == "--runs")
            runs = std::atoi(argv[i + 1]);
    }
    if (floor.empty() || command.empty() || runs < 1) {
        std::fprintf(stderr, "usage: bench_cli --floor PATH --command PATH [--runs N]\n");
        return 2;
    }

    // Start-up: one unmeasured run each for the caches, then ABBA pairs.
    const std::vector<std::string> dump = {command, "dump"}, bare = {floor};
    RunOnce(dump, {});
    RunOnce(bare, {});
    std::vector<double> commandMs, floorMs;
    for (int i = 0; i < runs; ++i) {
        const bool commandFirst = i % 2 == 0;
        const double a = RunOnce(commandFirst ? dump : bare, {});
        const double b = RunOnce(commandFirst ? bare : dump, {});
        if (a < 0 || b < 0) {
            Row("xq4620 dump: spawn to exit", "a run failed", "-", bench::Verdict::Error);
            return 1;
        }
        (commandFirst ? commandMs : floorMs).push_back(a);
        (commandFirst ? floorMs : commandMs).push_back(b);
        std::fprintf(stderr, "run %d: xq4620 dump %.2f ms, floor %.2f ms\n", i + 1,
                     commandFirst ? a : b, commandFirst ? b : a);
    }
    const double c = bench::Median(commandMs), f = bench::Median(floorMs);
    const double ratio = c / f;
    Row("xq4620 dump: spawn to exit, median of " + std::to_string(runs),
        bench::Fixed(c, 2) + " ms (floor " + bench::Fixed(f, 2) + " ms), " +
            bench::Fixed(ratio, 2) + "x",
        "<= " + bench::Fixed(kRatioTarget, 1) + "x floor",
        ratio <= kRatioTarget ? bench::Verdict::Met : bench::Verdict::Missed);

    // Bus traffic of single runs, against the fewest the design allows.
    char pattern[] = "/tmp/bench-cli-XXXXXX";
    if (!mkdtemp(pattern)) {
        Row("bus traffic", "no temporary directory", "-", bench::Verdict::Error);
        return 1;
    }
    const std::string dir = pattern;
    constexpr int kSetUp = 7;
    bench::CallCounts n = bench::CountCalls(TraceOf(dump, dir));
    Count("dump: set-up calls", n.setup, kSetUp);
    Count("dump: register reads", n.reads, 13);
    // Every command holds the board for its work: vtxLock and vtxUnlock.
    Count("dump: hold and other calls", n.writes + n.other, 2);

    // Two fields of Control and one of Boost Control: two registers touched.
    n = bench::CountCalls(TraceOf({command, "set", "led-a-en=1", "linear-a=1", "ovp=32V"}, dir));
    Count("set, 3 fields in 2 registers: reads", n.reads, 2);
    Count("set, 3 fields in 2 registers: writes", n.writes, 2);

    const std::string file = dir + "/full.txt";
    std::ofstream(file) << "0x00 0xC4\n0x01 0x18\n0x02 0x58\n0x03 0x80\n0x04 0x40\n"
                           "0x05 0x10\n0x06 0x10\n0x07 0x31\n0x08 0x09\n";
    n = bench::CountCalls(TraceOf({command, "load", file}, dir));
    Count("load of a full file: writes", n.writes, 9);
    Count("load of a full file: verifying reads", n.reads, 9);
    Count("load of a full file: set-up, hold and other calls", n.setup + n.other, kSetUp + 2);
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
