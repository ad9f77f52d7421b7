# SPDX-License-Identifier: MIT
"""pytest plugin of the xq4620 package, loaded through its pytest11 entry point.

Fixtures:

``xq4620_board``
    An open :class:`xq4620.Board`. By default a fresh private simulated
    board for each test (the chip at its reset values). With
    ``--xq4620-adapter=ADAPTER`` the adapter named, as VTX_ADAPTER takes it
    (``/dev/i2c-3``, ``sim:bench``); each test then starts with a software
    reset, so that it finds the chip at its reset values there too, and a
    shared simulated board is powered and rid of its faults before and
    after each test.

``xq4620_simulation``
    ``xq4620_board.simulation``: the simulated board's fault controls. A test
    that asks for it is skipped, with the reason, where the adapter is real
    hardware, before anything opens or resets it.

A bad ``--xq4620-adapter`` is a usage error at the start of the session. A
named board is one board: with pytest-xdist it is refused for more than one
worker (each worker's tests would reset the others' chip); without a named
adapter every worker's tests get private simulated boards, as always.
"""

import os

import pytest

import xq4620


def pytest_addoption(parser):
    group = parser.getgroup("xq4620", "XQ4620 evaluation board")
    group.addoption(
        "--xq4620-adapter",
        metavar="ADAPTER",
        default=None,
        help="run the xq4620_board tests on this adapter, as VTX_ADAPTER takes it "
        "(/dev/i2c-N, sim:NAME, '' for USB bridges found automatically) instead of a "
        "fresh private simulated board for each test",
    )


def _simulated(adapter):
    return adapter == "sim" or adapter.startswith("sim:")


def pytest_configure(config):
    adapter = config.getoption("xq4620_adapter")
    if adapter is None:
        return
    problem = xq4620._adapter_problem(adapter)
    if problem:
        raise pytest.UsageError("--xq4620-adapter: %s" % problem)
    if adapter == "sim":
        return  # each process has its own
    workers = getattr(config.option, "numprocesses", None)
    count = os.environ.get("PYTEST_XDIST_WORKER_COUNT")
    if workers not in (None, 0, 1) or (count is not None and count != "1"):
        raise pytest.UsageError(
            "--xq4620-adapter=%s is one board, and %s xdist workers would reset each "
            "other's chip: run one worker (-n 0 or -n 1), or give each its own board"
            % (adapter, workers if workers is not None else count))


def pytest_report_header(config):
    adapter = config.getoption("xq4620_adapter")
    if adapter is None:
        return "xq4620: a fresh private simulated board for each test"
    return "xq4620: adapter %r" % adapter


def _without_faults(board):
    if board.simulation is not None:
        board.simulation.power_on()
        board.simulation.fail_next(reads=0, writes=0)


@pytest.fixture
def xq4620_board(request):
    adapter = request.config.getoption("xq4620_adapter")
    with xq4620.open("sim" if adapter is None else adapter) as board:
        if adapter is not None:
            _without_faults(board)
            board.reset()
        yield board
        if adapter is not None:
            _without_faults(board)


@pytest.fixture
def xq4620_simulation(request):
    adapter = request.config.getoption("xq4620_adapter")
    if adapter is not None and not _simulated(adapter):
        pytest.skip("needs the simulated board's fault controls; adapter %r is real hardware"
                    % adapter)
    board = request.getfixturevalue("xq4620_board")
    if board.simulation is None:
        pytest.skip("needs the simulated board's fault controls; adapter %r is real hardware"
                    % board.adapter)
    return board.simulation
