# SPDX-License-Identifier: MIT
# Example tests for the xq4620 pytest plugin. Run them on a fresh simulated
# board for each test:
#     python3 -m pytest docs/xq4620_example_test.py
# and the same tests on the board on your desk (the fault test is skipped
# there, since real hardware cannot raise its fault flags on demand):
#     python3 -m pytest docs/xq4620_example_test.py --xq4620-adapter=usb:A1
# or on two boards at once, one for each pytest-xdist worker:
#     python3 -m pytest -n 2 docs/xq4620_example_test.py --xq4620-adapter=usb:A1,usb:B2
import pytest

import xq4620


def test_brightness_sweep(xq4620_board):
    xq4620_board.set(sleep=0, led_a_en=1, ovp="32 V")
    for level in range(0, 256, 32):
        xq4620_board.set(brightness_a=level)
        # Here a script would read a meter and log the current.
        assert xq4620_board.get("brightness_a") == level
    assert xq4620_board.get("ovp") == "32 V"


def test_over_current_is_reported_and_cleared_by_reset(xq4620_board, xq4620_simulation):
    xq4620_simulation.raise_flags(ocp=True)
    status = xq4620_board.dump()["registers"][9]
    assert status["name"] == "Interrupt Status"
    assert status["fields"] == {"ocp-fault": 1, "ovp-fault": 0, "tsd-fault": 0}
    xq4620_board.reset()
    assert xq4620_board.get("ocp_fault") == 0


def test_unpowered_board_raises_board_error(xq4620_board, xq4620_simulation):
    xq4620_simulation.power_off()
    with pytest.raises(xq4620.BoardError) as failure:
        xq4620_board.read(0x00)
    assert failure.value.register == 0x00
