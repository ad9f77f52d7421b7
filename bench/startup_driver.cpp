// SPDX-License-Identifier: MIT
// Start-up against the floor: runs the bench build of the panel and the bare
// dialog alternately, times each from just before it was spawned to its
// first completed paint, takes each one's peak RSS from wait4, and counts
// the panel's library calls around its first paint from its trace.
//
//   bench_startup --floor PATH --panel PATH [--runs N]
//
// Prints the table rows (bench_support.h) and the single runs.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_support.h"


namespace {

constexpr int kChildTimeoutMs = 30000;
constexpr int kLingerMs = 300;
constexpr double kRatioTarget = 1.15;

struct RunResult {
    bool ok = false;
    std::string error;
    double firstPaintMs = 0; // spawn to first completed paint
    double preMainMs = 0;    // spawn to main (exec, loader, static init)
    double paintMs = 0;      // first paint start to completion
    long maxRssKiB = 0;
    int64_t traceBytesStart = -1;
    int64_t traceBytesDone = -1;
};

// What a child must not inherit: anything that would change what is measured.
const std::vector<std::string> kDroppedEnvironment = {
    "QT_QPA_PLATFORM=", "VTX_ADAPTER=", "VTX_TRACE=", "XDG_RUNTIME_DIR=", "XQ_BENCH_"};

bool Field(const std::string &line, const char *name, int64_t *value) {
    const std::string key = std::string(" ") + name + "=";
    const std::size_t at = line.find(key);
    if (at == std::string::npos)
        return false;
    *value = std::strtoll(line.c_str() + at + key.size(), nullptr, 10);
    return true;
}

RunResult RunOnce(const std::string &program, const std::vector<std::string> &settings,
                  const std::string &stderrPath) {
    RunResult result;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        result.error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);

    const std::vector<std::string> env = bench::ChildEnvironment(kDroppedEnvironment, settings);
    std::vector<char *> envp;
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(program.c_str()), nullptr};

    pid_t pid = 0;
    // Process start, as far as the user is concerned: the moment it is asked
    // for. Everything after (exec, loading Qt, static initialisers) counts.
    const int64_t spawnNs = bench::MonotonicNs();
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        result.error = program + ": " + std::strerror(spawned);
        return result;
    }

    std::string output;
    bool timedOut = false;
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        const int ready = poll(&p, 1, kChildTimeoutMs);
        if (ready == 0) {
            timedOut = true;
            kill(pid, SIGKILL); // our own child, by its id
            break;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[4096];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.maxRssKiB = usage.ru_maxrss;

    const std::size_t at = output.find("xq-bench first-paint");
    if (timedOut) {
        result.error = program + ": no first paint within 30 s";
        return result;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || at == std::string::npos) {
        result.error =
            program + ": exited without reporting a first paint (stderr in " + stderrPath + ")";
        return result;
    }
    const std::string line = output.substr(at, output.find('\n', at) - at);
    int64_t mainNs = 0;
    int64_t startNs = 0;
    int64_t doneNs = 0;
    if (!Field(line, "main_ns", &mainNs) || !Field(line, "paint_start_ns", &startNs) ||
        !Field(line, "paint_done_ns", &doneNs) ||
        !Field(line, "trace_bytes_start", &result.traceBytesStart) ||
        !Field(line, "trace_bytes_done", &result.traceBytesDone)) {
        result.error = program + ": unreadable report: " + line;
        return result;
    }
    result.firstPaintMs = static_cast<double>(doneNs - spawnNs) / 1e6;
    result.preMainMs = static_cast<double>(mainNs - spawnNs) / 1e6;
    result.paintMs = static_cast<double>(doneNs - startNs) / 1e6;
    result.ok = true;
    return result;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Series {
    std::vector<double> firstPaintMs, preMainMs, paintMs, rssMiB;
    void Add(const RunResult &r) {
        firstPaintMs.push_back(r.firstPaintMs);
        preMainMs.push_back(r.preMainMs);
        paintMs.push_back(r.paintMs);
        rssMiB.push_back(static_cast<double>(r.maxRssKiB) / 1024);
    }
};

void PrintRow(const std::string &row) {
    std::printf("%s\n", row.c_str());
}

int Fail(const std::string &what) {
    std::fprintf(stderr, "bench_startup: %s\n", what.c_str());
    PrintRow(bench::Row("start-up", "start-up runs", what, "-", bench::Verdict::Error));
    return 1;
}

// Library calls of one start-up, split at the first paint: before it (set-up
// and readback, window still hidden), during it (the sliders' first report)
// and in the rest of a short idle run after it.
int StartupTraffic(const std::string &panel, const std::vector<std::string> &base,
                   const std::string &workDir) {
    const std::string trace = workDir + "/startup.trace";
    std::vector<std::string> settings = base;
    settings.push_back("VTX_TRACE=" + trace);
    settings.push_back("XQ_BENCH_LINGER_MS=" + std::to_string(kLingerMs));
    std::remove(trace.c_str());
    const RunResult r = RunOnce(panel, settings, workDir + "/traffic.stderr");
    if (!r.ok)
        return Fail(r.error);
    if (r.traceBytesStart < 0 || r.traceBytesDone < 0)
        return Fail("the panel wrote no trace to " + trace);
    const std::string text = ReadFile(trace);
    const bench::CallCounts before =
        bench::CountCalls(bench::LinesInRange(text, 0, r.traceBytesStart));
    const std::vector<std::string> paintLines =
        bench::LinesInRange(text, r.traceBytesStart, r.traceBytesDone);
    const bench::CallCounts paint = bench::CountCalls(paintLines);
    const bench::CallCounts after =
        bench::CountCalls(bench::LinesInRange(text, r.traceBytesDone, -1));

    const auto count = [](const std::string &figure, int measured, int minimum) {
        PrintRow(bench::Row("bus", figure, std::to_string(measured), std::to_string(minimum),
                            bench::CountVerdict(measured, minimum)));
    };
    count("start-up, before first paint: set-up calls", before.setup, 7);
    count("start-up, before first paint: register reads", before.reads, 13);
    count("start-up, before first paint: register writes", before.writes, 0);
    count("start-up, first paint: register writes", paint.writes, 2);
    count("start-up, first paint: other calls", paint.total() - paint.writes, 0);
    count("start-up, " + std::to_string(kLingerMs) + " ms after first paint: calls", after.total(),
          0);

    // The first paint's writes are the two Max Current sliders' 31.
    std::vector<std::string> writes;
    for (const std::string &line : paintLines) {
        int reg = 0;
        int value = 0;
        if (bench::ParseWrite(line, &reg, &value)) {
            char text[16];
            std::snprintf(text, sizeof text, "%02X=%02X", reg, value);
            writes.push_back(text);
        }
    }
    std::string shown;
    for (const std::string &w : writes)
        shown += (shown.empty() ? "" : " ") + w;
    const bool expected = writes == std::vector<std::string>{"05=1F", "06=1F"};
    PrintRow(bench::Row("bus", "start-up, first paint: what is written",
                        shown.empty() ? "nothing" : shown, "05=1F 06=1F",
                        expected ? bench::Verdict::Met : bench::Verdict::Missed));
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::string floor;
    std::string panel;
    int runs = 15;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--floor")
            floor = argv[i + 1];
        else if (option == "--panel")
            panel = argv[i + 1];
        else if (option == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    if (floor.empty() || panel.empty()) {
        std::fprintf(stderr, "usage: bench_startup --floor PATH --panel PATH [--runs N]\n");
        return 2;
    }

    // Qt's offscreen platform wants a private runtime directory.
    char work[] = "/tmp/xq-bench-XXXXXX";
    if (!mkdtemp(work))
        return Fail(std::string("mkdtemp: ") + std::strerror(errno));
    const std::string workDir = work;
    const std::vector<std::string> base = {
        "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + workDir,
        "VTX_ADAPTER=sim", // the floor has no device link and ignores it
        "XQ_BENCH_FIRST_PAINT=1"};

    // One unmeasured run each fills the page cache and the font cache.
    for (const std::string &program : {floor, panel}) {
        const RunResult warm = RunOnce(program, base, workDir + "/warm.stderr");
        if (!warm.ok)
            return Fail(warm.error);
    }

    Series floorRuns;
    Series panelRuns;
    for (int i = 0; i < runs; ++i) {
        // Alternate which program goes first, so that neither always runs
        // right after the other (ABBA).
        const bool floorFirst = i % 2 == 0;
        for (int k = 0; k < 2; ++k) {
            const bool isFloor = (k == 0) == floorFirst;
            const RunResult r = RunOnce(isFloor ? floor : panel, base,
                                        workDir + (isFloor ? "/floor.stderr" : "/panel.stderr"));
            if (!r.ok)
                return Fail(r.error);
            (isFloor ? floorRuns : panelRuns).Add(r);
            std::printf("run %2d %-5s first paint %7.2f ms (pre-main %6.2f, paint %6.2f)  "
                        "peak RSS %7.2f MiB\n",
                        i + 1, isFloor ? "floor" : "panel", r.firstPaintMs, r.preMainMs, r.paintMs,
                        static_cast<double>(r.maxRssKiB) / 1024);
        }
    }

    const double timeRatio =
        bench::Median(panelRuns.firstPaintMs) / bench::Median(floorRuns.firstPaintMs);
    const double rssRatio = bench::Median(panelRuns.rssMiB) / bench::Median(floorRuns.rssMiB);
    const std::string n = std::to_string(runs) + " runs each";
    const auto both = [](const std::vector<double> &floorSide, const std::vector<double> &panelSide,
                         const char *unit) {
        return bench::Fixed(bench::Median(floorSide), 1) + " / " +
               bench::Fixed(bench::Median(panelSide), 1) + " " + unit;
    };
    const auto info = [](const std::string &figure, const std::string &measured) {
        PrintRow(bench::Row("start-up", figure, measured, "-", bench::Verdict::Info));
    };
    info("spawn -> first completed paint, floor / panel (" + n + ")",
         both(floorRuns.firstPaintMs, panelRuns.firstPaintMs, "ms"));
    const auto fastest = [](const std::vector<double> &runs) {
        return *std::min_element(runs.begin(), runs.end());
    };
    info("  fastest run, floor / panel", bench::Fixed(fastest(floorRuns.firstPaintMs), 1) + " / " +
                                             bench::Fixed(fastest(panelRuns.firstPaintMs), 1) +
                                             " ms");
    info("  of which spawn -> main", both(floorRuns.preMainMs, panelRuns.preMainMs, "ms"));
    info("  of which the first paint", both(floorRuns.paintMs, panelRuns.paintMs, "ms"));
    PrintRow(bench::Row("start-up", "start-up time, panel / floor", bench::Fixed(timeRatio, 3),
                        "<= " + bench::Fixed(kRatioTarget, 2),
                        timeRatio <= kRatioTarget ? bench::Verdict::Met : bench::Verdict::Missed));
    info("peak RSS, floor / panel", both(floorRuns.rssMiB, panelRuns.rssMiB, "MiB"));
    PrintRow(bench::Row("start-up", "peak RSS, panel / floor", bench::Fixed(rssRatio, 3),
                        "<= " + bench::Fixed(kRatioTarget, 2),
                        rssRatio <= kRatioTarget ? bench::Verdict::Met : bench::Verdict::Missed));

    const int traffic = StartupTraffic(panel, base, workDir);
    for (const char *name :
         {"/warm.stderr", "/floor.stderr", "/panel.stderr", "/traffic.stderr", "/startup.trace"})
        std::remove((workDir + name).c_str());
    rmdir(workDir.c_str());
    return traffic;
}
