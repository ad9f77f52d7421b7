// SPDX-License-Identifier: MIT
// The benchmark of the emulated bridges, run in the kernel test group's guest
// in place of the tests (see bench/README.md): for each bridge in turn, the
// panel's thirteen readback reads through the library against the same reads
// made straight on the bus, the floor i2c-tools sits on. One line a bridge;
// the exit status says only whether every read succeeded.
#include "bridge_process.h"
#include "link/link.h"
#include "vtx/vtx_testing.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
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
                bridge, kPairs, median(viaVtx), median(viaVtx) / 13, median(bare),
                median(ratios), allRead ? "" : "; SOME READS FAILED");
    std::fflush(stdout);
    return allRead;
}

} // namespace

int main() {
    bool ok = true;
    for (const char *bridge : {"tiny-usb", "mcp2221", "cp2112", "ft260"})
        ok &= measure(bridge);
    return ok ? 0 : 1;
}
