# SPDX-License-Identifier: MIT
"""The Python module's own cost, on the private simulated board.

    PYTHONPATH=<build>/python python3 python_bench.py <build>/bench/bench_python_floor

Prints ROW lines for scripts/run-bench: the median cost of one board.read()
against the same vtxI2C_RegisterRead made from C, and the library calls of
one board.set() of three fields in two registers (two of Control, one of
Boost Control), counted from the trace.
"""
import os
import subprocess
import sys
import tempfile
import time

BATCHES = 41
CALLS = 20000


def row(figure, measured, target, verdict):
    print("\t".join(["ROW", "python", figure, measured, target, verdict]))


def count_verdict(measured, minimum):
    return "met" if measured == minimum else "EXCESS" if measured > minimum else "SHORT"


def read_cost(xq4620):
    with xq4620.open("sim") as board:
        read = board.read
        per_call = []
        for _ in range(BATCHES):
            start = time.monotonic_ns()
            for _ in range(CALLS):
                read(0x03)
            per_call.append((time.monotonic_ns() - start) / CALLS)
    per_call.sort()
    return per_call[len(per_call) // 2]


def set_traffic():
    # The library opens VTX_TRACE at its first call, so the traced board
    # runs in a process of its own that has it from the start.
    with tempfile.TemporaryDirectory() as tmp:
        trace = os.path.join(tmp, "trace")
        subprocess.run([sys.executable, __file__, "--set-traced"], check=True,
                       env=dict(os.environ, VTX_TRACE=trace))
        with open(trace) as f:
            lines = f.readlines()
    calls = lines[lines.index("-- set\n") + 1:] if "-- set\n" in lines else []
    reads = sum(line.startswith("vtxI2C_RegisterRead(") for line in calls)
    writes = sum(line.startswith("vtxI2C_RegisterWrite(") for line in calls)
    return reads, writes, len(calls) - reads - writes


def set_traced():
    import xq4620
    with xq4620.open("sim") as board:
        with open(os.environ["VTX_TRACE"], "a") as f:
            f.write("-- set\n")
        board.set(led_a_en=1, linear_a=1, ovp="32V")


def main():
    floor = sys.argv[1]
    os.environ["VTX_ADAPTER"] = "sim"
    os.environ.pop("VTX_TRACE", None)
    import xq4620

    python_ns = read_cost(xq4620)
    c_ns = float(subprocess.run([floor, str(BATCHES), str(CALLS)], capture_output=True,
                                text=True, check=True).stdout)
    added = (python_ns - c_ns) / 1000.0
    row("board.read(), median per call (C: vtxI2C_RegisterRead)",
        "%.2f us (C %.2f us), +%.2f us" % (python_ns / 1000.0, c_ns / 1000.0, added),
        "< 2 us added", "met" if added < 2.0 else "MISSED")

    reads, writes, other = set_traffic()
    figure = "board.set() of 3 fields in 2 registers: "
    row(figure + "reads", str(reads), "2", count_verdict(reads, 2))
    row(figure + "writes", str(writes), "2", count_verdict(writes, 2))
    # The board is held across the reads and writes: vtxLock and vtxUnlock.
    row(figure + "hold and other calls", str(other), "2", count_verdict(other, 2))


if __name__ == "__main__":
    if sys.argv[1:] == ["--set-traced"]:
        set_traced()
    else:
        main()
