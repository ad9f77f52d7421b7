// SPDX-License-Identifier: MIT
// The benchmark of the emulated bridges, run in the kernel test group's guest
// in place of the tests (see bench/README.md): for each bridge in turn, the
// panel's thirteen readback reads through the library against the same reads
// made straight on the bus, the floor i2c-tools sits on. Then, on an
// i2c-tiny-usb pulled out and plugged back, how soon after its bus is back
// a program waiting for it through the library reads again, and what a
// watch waiting for an unplugged bridge costs the processor. And through
// each bridge with GPIO lines, the board's set-up with and without a supply
// line described: its time and the GPIO requests the bridge gets. One line
// a figure; the exit status says only whether every read succeeded.
#include "bridge_process.h"
#include "link/link.h"
#include "vtx/adapters.h"
#include "vtx/vtx_testing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <i2c/smbus.h>
}

namespace {

constexpr uint8_t kChip = 0x36;
const uint8_t kReadback[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                             0x07, 0x08, 0x09, 0x0A, 0x0B, 0x12};
constexpr int kPairs = 61;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// False when the bridge did not come up or a read failed.
bool measure(const char *bridge) {
    BridgeProcess process;
    std::string error;
    if (!process.start("XQEB-BENCH", "1.02", error, {"--bridge", bridge})) {
        std::printf("BENCH %s: %s\n", bridge, error.c_str());
        return false;
    }
    unsetenv("VTX_ADAPTER");
    vtx::test::reset();
    g_hLink = 0;
    uint8_t firmware = 0;
    const int fd = ::open(process.bus().c_str(), O_RDWR);
    if (LinkOpen(&firmware) != 0 || fd < 0 || ::ioctl(fd, I2C_SLAVE, kChip) != 0) {
        std::printf("BENCH %s: cannot open %s\n", bridge, process.bus().c_str());
        return false;
    }

    using Clock = std::chrono::steady_clock;
    std::vector<double> viaVtx, bare, ratios;
    bool allRead = true;
    for (int pair = 0; pair < kPairs; ++pair) {
        // One run of each, back to back, the order alternating: the ratio of
        // a pair is little moved by the host's load drifting between pairs.
        double us[2] = {};
        for (int side = 0; side < 2; ++side) {
            const bool vtxSide = (side == 0) == (pair % 2 == 0);
            const auto t0 = Clock::now();
            for (uint8_t reg : kReadback) {
                if (vtxSide) {
                    uint8_t value = 0;
                    allRead &= !LinkReadRegister(kChip, reg, &value);
                } else {
                    allRead &= i2c_smbus_read_byte_data(fd, reg) >= 0;
                }
            }
            us[vtxSide ? 0 : 1] =
                std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        }
        viaVtx.push_back(us[0]);
        bare.push_back(us[1]);
        ratios.push_back(us[0] / us[1]);
    }
    ::close(fd);
    vtx::test::reset(); // closes the bus, so that the bridge can be unplugged
    std::printf("BENCH emulated bridge %s, 13 readback reads, %d pairs: vtx median %.0f us "
                "(%.0f us a read), bare i2c_smbus_read_byte_data median %.0f us, ratio "
                "(median of pairs) %.3f (target <= 1.10)%s\n",
                bridge, kPairs, median(viaVtx), median(viaVtx) / 13, median(bare), median(ratios),
                allRead ? "" : "; SOME READS FAILED");
    std::fflush(stdout);
    return allRead;
}

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Whether sysfs still lists `bus` ("/dev/i2c-1") after up to 10 s.
bool busGone(const std::string &bus) {
    const std::string dir = "/sys/class/i2c-dev/" + bus.substr(5);
    for (int waited = 0; waited < 100; ++waited) {
        if (::access(dir.c_str(), F_OK) != 0)
            return true;
        ::usleep(100000);
    }
    return false;
}

constexpr int kReplugs = 11;

// A program that keeps its handle through a replug: a thread waits for the
// bridge without polling (vtx::awaitReplug) and reads as soon as it can,
// while the bridge is plugged in again. Time from the bridge printing its
// bus to that first read; negative when the library had it first (the
// bridge looks at sysfs every 20 ms).
bool measureReplug() {
    BridgeProcess process;
    std::string error;
    if (!process.start("XQ-REPLUG", "1.02", error)) {
        std::printf("BENCH replug: %s\n", error.c_str());
        return false;
    }
    setenv("VTX_ADAPTER", "usb:XQ-REPLUG", 1);
    vtx::test::reset();
    g_hLink = 0;
    uint8_t firmware = 0, value = 0;
    if (LinkOpen(&firmware) != 0 || LinkReadRegister(kChip, 0x0A, &value)) {
        std::printf("BENCH replug: cannot open usb:XQ-REPLUG\n");
        return false;
    }
    std::vector<double> delays, fromNode;
    int wakeUps = 0;
    for (int round = 0; round < kReplugs; ++round) {
        const std::string oldBus = process.bus();
        process.signal(SIGHUP);
        process.wait(10);
        // The call that finds it gone closes the library's descriptor, which
        // lets the kernel finish removing the bus.
        if (vtxI2C_RegisterRead(g_hLink, kChip, 0x0A) != -ENODEV || !busGone(oldBus)) {
            std::printf("BENCH replug: the unplug was not seen, or %s stayed\n", oldBus.c_str());
            return false;
        }
        // When the kernel makes the bus's node: the library hears of the
        // bridge through the same event.
        const int nodes = ::inotify_init1(IN_CLOEXEC);
        ::inotify_add_watch(nodes, "/dev", IN_CREATE);
        Clock::time_point nodeAt;
        bool nodeSeen = false;
        std::thread nodeWatcher([&] {
            alignas(inotify_event) char events[4096];
            for (int waited = 0; !nodeSeen && waited < 600; ++waited) {
                pollfd p{nodes, POLLIN, 0};
                if (::poll(&p, 1, 100) <= 0)
                    continue;
                const ssize_t n = ::read(nodes, events, sizeof events);
                for (ssize_t at = 0; at < n;) {
                    const auto *e = reinterpret_cast<const inotify_event *>(events + at);
                    if (e->len && std::string(e->name).rfind("i2c-", 0) == 0 && !nodeSeen) {
                        nodeAt = Clock::now();
                        nodeSeen = true;
                    }
                    at += ssize_t(sizeof(inotify_event) + e->len);
                }
            }
        });
        std::atomic<bool> read{false};
        Clock::time_point readAt;
        std::thread waiter([&] {
            const auto deadline = Clock::now() + std::chrono::seconds(60);
            while (Clock::now() < deadline) {
                if (vtx::awaitReplug(g_hLink, 1000) == 0) {
                    ++wakeUps;
                    uint8_t v = 0;
                    if (!LinkReadRegister(kChip, 0x0A, &v)) {
                        readAt = Clock::now();
                        read = true;
                        return;
                    }
                }
            }
        });
        const bool up = process.launch("XQ-REPLUG", "1.02", error) && process.awaitBus(error);
        const Clock::time_point printedAt = Clock::now();
        waiter.join();
        nodeWatcher.join();
        ::close(nodes);
        if (!up || !read || !nodeSeen) {
            std::printf("BENCH replug: round %d: %s\n", round,
                        up ? "no read after the bridge came back" : error.c_str());
            return false;
        }
        delays.push_back(msBetween(printedAt, readAt));
        fromNode.push_back(msBetween(nodeAt, readAt));
    }
    vtx::test::reset();
    std::sort(delays.begin(), delays.end());
    std::sort(fromNode.begin(), fromNode.end());
    std::printf("BENCH replug of an i2c-tiny-usb, %d rounds, first successful read through the "
                "library after the bridge printed its bus: median %.1f ms (min %.1f, max %.1f); "
                "after the kernel made its node: median %.1f ms (min %.1f, max %.1f); %d "
                "wake-ups of awaitReplug in all\n",
                kReplugs, delays[delays.size() / 2], delays.front(), delays.back(),
                fromNode[fromNode.size() / 2], fromNode.front(), fromNode.back(), wakeUps);
    std::fflush(stdout);
    return true;
}

// utime + stime of process `pid`, in clock ticks; -1 when unreadable.
long cpuTicks(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t end = stat.rfind(')');
    if (end == std::string::npos)
        return -1;
    // After the command's name: state (field 3) ... utime (14), stime (15).
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    long utime = -1, stime = -1;
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14)
            utime = std::atol(field.c_str());
        if (n == 15)
            stime = std::atol(field.c_str());
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

// Voluntary context switches of process `pid` (its wake-ups from a
// wait), -1 when unreadable.
long wakeUpsOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::atol(line.c_str() + line.find(':') + 1);
    }
    return -1;
}

// The processor time of a watch over 10 s: on a bridge it reads every 100 ms,
// and after the bridge is pulled out, while it waits for it to come back.
bool measureWatch() {
    BridgeProcess process;
    std::string error;
    CommandProcess watch;
    if (!process.start("XQ-WATCH", "1.02", error) ||
        !watch.start({"watch", "--adapter", "usb:XQ-WATCH", "brightness-a"}, error) ||
        !watch.awaitOutput("brightness-a=0", 20)) {
        std::printf("BENCH watch: %s%s\n", error.c_str(), watch.output().c_str());
        return false;
    }
    const long hz = ::sysconf(_SC_CLK_TCK);
    const long watching0 = cpuTicks(watch.pid()), watchingWakes0 = wakeUpsOf(watch.pid());
    ::sleep(10);
    const long watching = cpuTicks(watch.pid()) - watching0;
    const long watchingWakes = wakeUpsOf(watch.pid()) - watchingWakes0;
    process.signal(SIGHUP);
    process.wait(10);
    if (!watch.awaitOutput("adapter unplugged", 10)) {
        std::printf("BENCH watch: no \"adapter unplugged\": %s\n", watch.output().c_str());
        return false;
    }
    const long waiting0 = cpuTicks(watch.pid()), waitingWakes0 = wakeUpsOf(watch.pid());
    ::sleep(10);
    const long waiting = cpuTicks(watch.pid()) - waiting0;
    const long waitingWakes = wakeUpsOf(watch.pid()) - waitingWakes0;
    watch.stop(SIGINT);
    std::printf("BENCH watch brightness-a over 10 s, clock ticks of %ld a second: reading an "
                "i2c-tiny-usb every 100 ms %ld ticks (%ld wake-ups), waiting for it unplugged "
                "%ld ticks (%ld wake-ups) (target 0 ticks)\n",
                hz, watching, watchingWakes, waiting, waitingWakes);
    std::fflush(stdout);
    return watching0 >= 0 && waiting0 >= 0;
}

// The set-up (LinkOpen: find, serial, open, firmware, bus, GPIO, power)
// through `bridge`, its supply on `line`, with the bench description naming
// the line (settle-ms 0: the wait is a sleep, not measured) and without.
bool measureSupply(const char *bridge, const char *line) {
    const std::string log = std::string("/tmp/bench-gpio-") + bridge + ".log";
    BridgeProcess process;
    std::string error;
    if (!process.start("XQEB-SUPPLY", "1.02", error,
                       {"--bridge", bridge, "--supply-line", line, "--log", log})) {
        std::printf("BENCH supply %s: %s\n", bridge, error.c_str());
        return false;
    }
    unsetenv("VTX_ADAPTER");
    unsetenv("VTX_SUPPLY");
    setenv("XDG_CONFIG_HOME", "/tmp/bench-config", 1);
    ::mkdir("/tmp/bench-config", 0700);
    ::mkdir("/tmp/bench-config/xq4620", 0700);
    const std::string bench = "/tmp/bench-config/xq4620/bench.conf";
    const auto logged = [&log] {
        std::ifstream in(log);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    };
    bool ok = true;
    double ms[2] = {};
    int requests[2] = {};
    for (int described = 1; described >= 0; --described) {
        if (described)
            std::ofstream(bench) << "[usb:XQEB-SUPPLY]\nsupply = " << line << "\n";
        else
            ::unlink(bench.c_str());
        std::vector<double> times;
        std::vector<double> counts;
        for (int round = 0; round < 11; ++round) {
            vtx::test::reset();
            g_hLink = 0;
            const size_t before = logged().size();
            uint8_t firmware = 0, value = 0;
            const auto t0 = Clock::now();
            ok &= LinkOpen(&firmware) == 0;
            times.push_back(msBetween(t0, Clock::now()));
            const std::vector<std::string> lines = logged();
            counts.push_back(double(
                std::count_if(lines.begin() + long(before), lines.end(),
                              [](const std::string &l) { return l.rfind("gpio", 0) == 0; })));
            ok &= LinkReadRegister(kChip, 0x0A, &value) == 0 && value == 0x46;
        }
        ms[described] = median(times);
        requests[described] = int(median(counts));
    }
    vtx::test::reset();
    ::unlink(bench.c_str());
    unsetenv("XDG_CONFIG_HOME");
    std::printf("BENCH set-up through %s, 11 rounds each: with supply line %s median %.1f ms, "
                "%d GPIO requests; without a bench entry median %.1f ms, %d GPIO requests "
                "(target: one line request, three requests of the driver)%s\n",
                bridge, line, ms[1], requests[1], ms[0], requests[0],
                ok ? "" : "; THE CHIP DID NOT ANSWER");
    std::fflush(stdout);
    return ok;
}

} // namespace

int main() {
    bool ok = true;
    for (const char *bridge : {"tiny-usb", "mcp2221", "cp2112", "ft260"})
        ok &= measure(bridge);
    ok &= measureReplug();
    ok &= measureWatch();
    ok &= measureSupply("mcp2221", "GP2");
    ok &= measureSupply("cp2112", "GPIO.2");
    return ok ? 0 : 1;
}
