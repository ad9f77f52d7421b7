// SPDX-License-Identifier: MIT
// `watch`: the named fields and registers read again and again, each change
// printed once with its time, until the count runs out, the reader of its
// output goes away, or Ctrl+C. Nothing is ever written.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "board/device.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "vtx/adapters.h"
#include "vtx/interrupt.h"
#include "vtx/vtx.h"
#include "watch/watch.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_signal = 0;

void onSignal(int signal) {
    g_signal = signal;
}

// Ctrl+C and a polite kill end the watch at once, whatever it is waiting
// for: the pause between rounds, a board another program holds, a reader
// that does not read. A reader that went away (`watch | head -n 1`) has
// all it wanted: EPIPE ends the watch quietly, with status 0, where
// SIGPIPE would kill it.
void catchSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// Whether standard output's reader is gone: a pipe nobody reads any more
// (POLLERR), a terminal hung up (POLLHUP), a descriptor closed under us.
bool gone(short revents) {
    return revents & (POLLERR | POLLHUP | POLLNVAL);
}

// The library asks this while it waits for a board another program holds.
bool stopping() {
    return g_signal != 0;
}

enum class Woken { OnTime, Signal, ReaderGone };

// Waits until `due`, or less when a signal comes or the reader goes. The
// signals are blocked but while ppoll sleeps, so that one arriving just
// before the sleep still ends it.
Woken waitUntil(Clock::time_point due) {
    sigset_t blocked, before;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &before);
    Woken woken = Woken::OnTime;
    for (;;) {
        if (g_signal) {
            woken = Woken::Signal;
            break;
        }
        const auto now = Clock::now();
        if (now >= due)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(due - now).count();
        const timespec timeout{static_cast<time_t>(left / 1000000000),
                               static_cast<long>(left % 1000000000)};
        pollfd out{STDOUT_FILENO, 0, 0};
        if (::ppoll(&out, 1, &timeout, &before) == 1 && gone(out.revents)) {
            woken = Woken::ReaderGone;
            break;
        }
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return woken;
}

enum class Written { Whole, Stopped, ReaderGone, Failed };

// `text` whole onto standard output, unbuffered: a line is out when its
// round ends. A signal while the reader does not read stops it.
Written writeOut(const std::string &text, int &error) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR && !g_signal)
            continue;
        if (errno == EINTR)
            return Written::Stopped;
        if (errno == EPIPE)
            return Written::ReaderGone;
        error = errno;
        return Written::Failed;
    }
    return Written::Whole;
}

// The library's sentence when its last failure was a shared board whose
// state file is gone; "" otherwise. Such a board is nobody's any more:
// whatever another program now writes goes to a new file we cannot see.
std::string removedBoard() {
    char text[512];
    return vtxLastError(text, sizeof text) == -ESTALE ? std::string(text) : std::string();
}

// A change of the adapter itself: "TIME adapter unplugged", "TIME adapter
// back on /dev/i2c-9"; in JSON {"time", "adapter": "unplugged"} or
// {"time", "adapter": "back", "node"}.
std::string adapterLine(const std::string &time, const std::string &node, bool json) {
    if (json) {
        nlohmann::ordered_json line = {{"time", time},
                                       {"adapter", node.empty() ? "unplugged" : "back"}};
        if (!node.empty())
            line["node"] = node;
        return line.dump() + "\n";
    }
    return time + (node.empty() ? " adapter unplugged\n" : " adapter back on " + node + "\n");
}

// Until a device event may have brought the bridge back, a signal comes or
// the reader goes; without using the processor meanwhile.
Woken awaitReplug(int32_t handle) {
    for (;;) {
        const int32_t r = vtx::awaitReplug(handle, 1000);
        if (g_signal)
            return Woken::Signal;
        if (r != -ETIMEDOUT)
            return Woken::OnTime;
        pollfd out{STDOUT_FILENO, 0, 0};
        if (::poll(&out, 1, 0) == 1 && gone(out.revents))
            return Woken::ReaderGone;
    }
}

int watchRounds(std::vector<watch::Target> targets, int intervalMs, int count, bool json) {
    // Set-up failures are told as every command tells them; a failed read
    // becomes a line of the watch instead. Nothing is said of a wait that
    // was given up because we are stopping.
    bool watching = false;
    std::string failure;
    board::Device device([&](const std::string &message) {
        if (stopping())
            return;
        if (watching)
            failure = message;
        else
            complain(kDeviceFailure, message);
    });
    if (!device.open())
        return openFailure(device);
    watching = true;
    watch::Watcher watcher(std::move(targets));
    const auto interval = std::chrono::milliseconds(intervalMs);
    // Each round starts `interval` after the one before it started; one that
    // took longer is followed by the next at once.
    auto due = Clock::now();
    bool unplugged = false;
    for (int round = 0; count <= 0 || round < count; ++round) {
        if (round > 0) {
            const Woken woken = unplugged ? awaitReplug(device.handle()) : waitUntil(due);
            if (woken == Woken::ReaderGone)
                return kSuccess;
            if (woken == Woken::Signal)
                break;
        }
        due += interval;
        // One hold for the whole round, so that its values are one moment
        // of the chip: no other program of ours writes between two reads.
        failure.clear();
        const bool held = device.hold();
        const std::string holdFailure = failure;
        std::string removed;
        const auto events = watcher.poll([&](uint8_t reg, std::string &why) {
            if (!removed.empty())
                return std::optional<uint8_t>();
            if (!held) {
                removed = removedBoard();
                why = holdFailure;
                return std::optional<uint8_t>();
            }
            const auto value = device.read(reg);
            if (!value) {
                removed = removedBoard();
                why = failure;
            }
            return value;
        });
        device.releaseTo(0);
        if (g_signal)
            break;
        if (!removed.empty())
            return complain(kDeviceFailure, removed);
        const std::string time = watch::timestamp();
        std::string text;
        // A bridge pulled out is said once, not as a failure of every
        // register, and so is its return; what it reads then follows.
        const bool out = vtx::unplugged(device.handle());
        if (out && !vtx::reopensWhenBack(device.handle()))
            return complain(kDeviceFailure, failure.empty() ? holdFailure : failure);
        if (out != unplugged)
            text += adapterLine(time, out ? "" : vtx::whereIs(device.handle()), json);
        unplugged = out;
        for (const watch::Event &e : events) {
            if (!(out && e.target && !e.value))
                text += (json ? watch::jsonLine(time, e).dump() : watch::textLine(time, e)) + "\n";
        }
        int error = 0;
        switch (writeOut(text, error)) {
        case Written::Whole:
            break;
        case Written::Stopped:
        case Written::ReaderGone:
            return kSuccess;
        case Written::Failed:
            return complain(kDeviceFailure,
                            std::string("standard output: ") + std::strerror(error));
        }
        if (due < Clock::now())
            due = Clock::now();
    }
    return watcher.anyFailed() ? kDeviceFailure : kSuccess;
}

} // namespace

int runWatch(const std::vector<std::string> &names, int intervalMs, int count, bool json) {
    std::vector<watch::Target> targets;
    for (const std::string &name : names) {
        std::string reason;
        const auto target = watch::parseTarget(name, reason);
        if (!target)
            return complain(kUsageError, escaped(reason));
        targets.push_back(*target);
    }
    if (targets.empty())
        targets = watch::everyRegister();

    catchSignals();
    vtx::setWaitInterrupt(stopping);
    const int status = watchRounds(std::move(targets), intervalMs, count, json);
    // Stopped by a signal: once the board is let go, end by that signal, as
    // a filter does, so that a shell script stops with us.
    if (const int signal = g_signal) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return status;
}

} // namespace cli
