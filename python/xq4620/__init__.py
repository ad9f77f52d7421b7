# SPDX-License-Identifier: MIT
"""The XQ4620 LED backlight driver on its evaluation board, from Python.

    import xq4620
    with xq4620.open("sim") as board:          # or "usb:A1"; None: VTX_ADAPTER, then USB bridges
        board.set(ovp="32 V", led_a_en=1, sleep=0)
        for level in range(0, 256, 32):
            board.set(brightness_a=level)
        print(board.get("ovp"), hex(board.read(0x00)))

The same chip description, register files and adapter library as the
``xq4620`` command: a board set up here is set up as the command sets it up,
and ``VTX_ADAPTER`` and ``VTX_TRACE`` work the same.
"""

import time as _time

from ._errors import BoardError
from ._xq4620 import (
    Board,
    Field,
    Register,
    Simulation,
    Transaction,
    __version__,
    _Watcher,
    _adapter_problem,
    fields,
    registers,
)

__all__ = [
    "Board",
    "BoardError",
    "Field",
    "Register",
    "Simulation",
    "Transaction",
    "fields",
    "open",
    "registers",
]


def open(adapter=None):
    """Open the evaluation board and set it up; returns a Board.

    ``adapter`` takes what VTX_ADAPTER takes: "sim" (a private simulated
    board, fresh when no other board is open on "sim" in this program),
    "sim:NAME" (the simulated board every program naming it shares),
    "/dev/i2c-N", "usb:SERIAL" or "usb-port:PORT" (a USB-to-I2C bridge by
    its serial number or its USB port, on whatever bus it has), or "" for
    the one bridge found automatically (several found and none named is
    refused with errno ENOTUNIQ). None: VTX_ADAPTER, then automatic
    detection. A program may open several boards side by side, each with
    its own hold and its own failures. Use it as a context manager to close
    it.
    """
    return Board(adapter)


def _watch(self, *names, interval=0.1, count=None):
    """Watch fields or registers change; a generator, like ``xq4620 watch``.

    ``names``: fields ('ovp', 'led_a_en') or registers (0x09, '0x09'); none
    means every readable register. Every ``interval`` seconds (0.001 at the
    least) a round starts, in which each register involved is read once,
    all under one hold of the board, so that a round is one picture of the
    chip; a round that takes longer starts the next at once. The first round
    yields every value, later rounds only what changed, each as a dict with
    the keys of ``xq4620 watch --json``: ``{"time": ..., "name": "ovp",
    "value": "24 V"}``, or ``{"time": ..., "name": ..., "error": "..."}``
    when a read fails (said once; watching goes on, and the value is yielded
    again once it reads). ``count`` stops after that many rounds; without it
    the generator runs until it is closed. Nothing is ever written. The
    arguments are checked here, before the first round.
    """
    if isinstance(interval, bool) or not isinstance(interval, (int, float)):
        raise TypeError("watch: interval is a number of seconds, not %s"
                        % type(interval).__name__)
    if not interval >= 0.001:  # NaN too
        raise ValueError("watch: interval %r is under 1 ms (0.001 s)" % (interval,))
    if count is not None:
        if isinstance(count, bool) or not hasattr(count, "__index__"):
            raise TypeError("watch: count is an int, not %s" % type(count).__name__)
        count = count.__index__()
        if count < 0:
            raise ValueError("watch: count %d is negative" % count)
    targets = ["0x%02X" % n.__index__()
               if hasattr(n, "__index__") and not isinstance(n, (bool, str)) else n
               for n in names]
    watcher = _Watcher(self, targets)

    def rounds():
        done = 0
        started = _time.monotonic()
        while count is None or done < count:
            if done:
                # A period from the start of the last round, however long
                # it took; a late round does not make the next ones hurry.
                started = max(started + interval, _time.monotonic())
                _time.sleep(max(0.0, started - _time.monotonic()))
            yield from watcher.poll()
            done += 1

    return rounds()


Board.watch = _watch
