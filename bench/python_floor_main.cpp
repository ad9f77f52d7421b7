// SPDX-License-Identifier: MIT
// The floor for the Python module's call cost: the same register reads as
// python_bench.py makes through board.read(), made straight from C on the
// private simulated board. Prints the median cost of one call over the
// batches, in nanoseconds.
//
//   bench_python_floor BATCHES CALLS_PER_BATCH
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_support.h"
#include "vtx/vtx.h"

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    const int batches = std::atoi(argv[1]);
    const int calls = std::atoi(argv[2]);
    char serial[VTX_SERIAL_SIZE] = {};
    if (vtxFindControllers() <= 0 || vtxGetSerialNumber(0, serial) < 0)
        return 1;
    const int32_t h = vtxOpen(serial);
    if (vtxPower_WriteControl(h, 1, 0) < 0)
        return 1;
    std::vector<double> perCall;
    volatile int32_t sink = 0;
    for (int b = 0; b < batches; ++b) {
        const int64_t start = bench::MonotonicNs();
        for (int i = 0; i < calls; ++i)
            sink = vtxI2C_RegisterRead(h, 0x36, 0x03);
        perCall.push_back(static_cast<double>(bench::MonotonicNs() - start) / calls);
        if (sink < 0)
            return 1;
    }
    std::printf("%.1f\n", bench::Median(perCall));
    return 0;
}
