// SPDX-License-Identifier: MIT
#include "vtx/file_lock.h"

#include "vtx/internal.h"
#include "vtx/interrupt.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sys/file.h>
#include <thread>

namespace vtx {
namespace {

thread_local WaitInterrupted waitCheck = nullptr;
std::atomic<NoticeSink> noticeSink{nullptr};

} // namespace

void setWaitInterrupt(WaitInterrupted check) {
    waitCheck = check;
}

void setNoticeSink(NoticeSink sink) {
    noticeSink = sink;
}

namespace detail {

void tell(const std::string &line) {
    if (const NoticeSink sink = noticeSink)
        sink(line.c_str());
    else
        std::fprintf(stderr, "vtx: %s\n", line.c_str());
}

bool WaitClock::interrupted() {
    if (!waitCheck)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextCheck_)
        return false;
    nextCheck_ = now + std::chrono::milliseconds(kInterruptCheckMs);
    return waitCheck();
}

int32_t lockWithin(int fd, int32_t timeoutMs, const std::string &what) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    const auto noticeAt = start + std::chrono::milliseconds(kWaitNoticeMs);
    bool told = false;
    // flock has no time-out of its own: try, then sleep a little longer each
    // time, up to a few milliseconds, so that a short hold costs little and a
    // long one costs no CPU.
    auto pause = std::chrono::microseconds(100);
    WaitClock clock;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return -errno;
        const auto now = Clock::now();
        if (now >= deadline) {
            noteProblem(what + " is busy: another program holds it");
            return -EBUSY;
        }
        if (clock.interrupted()) {
            noteProblem("the wait for " + what + " was interrupted");
            return -EINTR;
        }
        if (!told && now >= noticeAt) {
            told = true;
            tell("waiting for " + what + ": another program holds it");
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
}

void unlockFile(int fd) {
    ::flock(fd, LOCK_UN);
}

} // namespace detail
} // namespace vtx
