// SPDX-License-Identifier: MIT
// `watch`: the named fields and registers read again and again, each change
// printed once with its time, until the count runs out or Ctrl+C. Nothing is
// ever written.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "board/device.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "watch/watch.h"

namespace cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void onInterrupt(int) {
    g_stop = 1;
}

// Ctrl+C (and a polite kill) ends the watch between two rounds, so that the
// last line is whole and the exit status says whether a read failed.
void catchInterrupt() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Sleeps `ms`, or less when interrupted.
void pause(int ms) {
    timespec left{ms / 1000, (ms % 1000) * 1000000L};
    while (!g_stop && nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace

int runWatch(const std::vector<std::string> &names, int intervalMs, int count, bool json) {
    std::vector<watch::Target> targets;
    for (const std::string &name : names) {
        std::string reason;
        const auto target = watch::parseTarget(name, reason);
        if (!target)
            return complain(kUsageError, reason);
        targets.push_back(*target);
    }
    if (targets.empty())
        targets = watch::everyRegister();

    catchInterrupt();
    // Set-up failures are told as every command tells them; a failed read
    // becomes a line of the watch instead.
    bool watching = false;
    std::string failure;
    board::Device device([&](const std::string &message) {
        if (watching)
            failure = message;
        else
            complain(kDeviceFailure, message);
    });
    if (!device.open())
        return kDeviceFailure;
    watching = true;
    watch::Watcher watcher(targets);
    for (int round = 0; !g_stop && (count <= 0 || round < count); ++round) {
        if (round > 0) {
            pause(intervalMs);
            if (g_stop)
                break;
        }
        const auto events = watcher.poll([&](uint8_t reg, std::string &why) {
            const auto value = device.read(reg);
            if (!value)
                why = failure;
            return value;
        });
        const std::string time = watch::timestamp();
        for (const watch::Event &e : events) {
            const std::string line =
                json ? watch::jsonLine(time, e).dump() : watch::textLine(time, e);
            std::printf("%s\n", line.c_str());
        }
        // A watch into a closed pipe or a full disk stops at once.
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return finishOutput(kSuccess);
    }
    return watcher.anyFailed() ? kDeviceFailure : kSuccess;
}

} // namespace cli
