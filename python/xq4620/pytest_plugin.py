# SPDX-License-Identifier: MIT
"""pytest plugin of the xq4620 package, loaded through its pytest11 entry point.

Fixtures:

``xq4620_board``
    An open :class:`xq4620.Board`, opened afresh for each test (so that a
    run goes on after a bridge was unplugged and plugged back between two
    tests). By default a fresh private simulated board (the chip at its
    reset values). With ``--xq4620-adapter=ADAPTER`` the adapter named, as
    VTX_ADAPTER takes it (``/dev/i2c-3``, ``usb:A1``, ``sim:bench``); each
    test then starts with a software reset, so that it finds the chip at its
    reset values there too, and a shared simulated board is powered and rid
    of its faults before and after each test. The board a test ran on is in
    its report: the user property ``xq4620_adapter`` (``--junitxml``) and
    the section "xq4620 board" (``-rA``).

``xq4620_simulation``
    ``xq4620_board.simulation``: the simulated board's fault controls. A test
    that asks for it is skipped, with the reason, where the adapter is real
    hardware, before anything opens or resets it.

A test farm: ``--xq4620-adapter=usb:A1,usb:B2`` names a board for each
pytest-xdist worker, in worker order (gw0 the first, gw1 the second, ...);
without xdist the first one is used. A bad name, a board named twice, or
fewer boards than workers is one usage error at the start of the session,
before any test runs (``sim``, each process's private board, may be named
for every worker at once). Without a named adapter every worker's tests get
private simulated boards, as always.
"""

import re
from typing import Optional

import pytest

import xq4620

# This process's board (None: a private one for each test), and a test's.
_BOARD = pytest.StashKey[Optional[str]]()
_USED = pytest.StashKey[str]()


def pytest_addoption(parser):
    group = parser.getgroup("xq4620", "XQ4620 evaluation board")
    group.addoption(
        "--xq4620-adapter",
        metavar="ADAPTER[,ADAPTER...]",
        default=None,
        help="run the xq4620_board tests on this adapter, as VTX_ADAPTER takes it "
        "(/dev/i2c-N, usb:SERIAL, sim:NAME, '' for the USB bridge found automatically) "
        "instead of a fresh private simulated board for each test; with pytest-xdist a "
        "comma-separated list, one board for each worker in worker order",
    )


def _simulated(adapter):
    return adapter == "sim" or adapter.startswith("sim:")


def _boards(option):
    """The names in the option, each checked; a UsageError for a bad list."""
    names = [name.strip() for name in option.split(",")]
    if len(names) > 1 and "" in names:
        raise pytest.UsageError(
            "--xq4620-adapter=%s: an empty name in the list (automatic detection picks "
            "no particular board; name each one)" % option)
    for name in names:
        problem = xq4620._adapter_problem(name)
        if problem:
            raise pytest.UsageError("--xq4620-adapter: %s" % problem)
    for name in names:
        if name != "sim" and names.count(name) > 1:
            raise pytest.UsageError(
                "--xq4620-adapter: %s is named twice; each worker needs a board of its own"
                % name)
    return names


def _workers(config):
    """How many xdist workers this session starts (0 without xdist)."""
    if getattr(config.option, "dist", "no") == "no":
        return 0
    count = 0
    for gateway in getattr(config.option, "tx", None) or []:
        times, star, _ = gateway.partition("*")
        count += int(times) if star and times.isdigit() else 1
    return count


def pytest_configure(config):
    config.stash[_BOARD] = None
    option = config.getoption("xq4620_adapter")
    if option is None:
        return
    names = _boards(option)
    workerinput = getattr(config, "workerinput", None)
    if workerinput is None:
        # Here, before a worker starts: the controller, or a run without xdist.
        workers = _workers(config)
        if workers > len(names) and names != ["sim"]:
            raise pytest.UsageError(
                "--xq4620-adapter=%s: %d board%s for %d xdist workers; name a board for "
                "each worker (as in usb:A1,usb:B2), or run no more workers than boards"
                % (option, len(names), "" if len(names) == 1 else "s", workers))
        config.stash[_BOARD] = names[0]
        return
    if names == ["sim"]:
        config.stash[_BOARD] = "sim"
        return
    worker = workerinput["workerid"]
    index = int(re.sub(r"\D", "", worker) or 0)
    if index >= len(names):
        raise pytest.UsageError("--xq4620-adapter=%s: no board for worker %s" % (option, worker))
    config.stash[_BOARD] = names[index]


def pytest_report_header(config):
    option = config.getoption("xq4620_adapter")
    if option is None:
        return "xq4620: a fresh private simulated board for each test"
    names = _boards(option)
    workers = _workers(config)
    if workers and names != ["sim"]:
        return "xq4620: " + ", ".join("adapter %r for gw%d" % (name, i)
                                      for i, name in enumerate(names[:workers]))
    return "xq4620: adapter %r" % names[0]


def _without_faults(board):
    if board.simulation is not None:
        board.simulation.power_on()
        board.simulation.fail_next(reads=0, writes=0)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    adapter = item.stash.get(_USED, None)
    if adapter is not None and (report.when == "call" or report.failed):
        worker = getattr(item.config, "workerinput", {}).get("workerid")
        report.sections.append(
            ("xq4620 board", "%s%s" % (adapter, " (worker %s)" % worker if worker else "")))


@pytest.fixture
def xq4620_board(request):
    adapter = request.config.stash[_BOARD]
    name = "sim" if adapter is None else adapter
    request.node.stash[_USED] = name
    request.node.user_properties.append(("xq4620_adapter", name))
    with xq4620.open(name) as board:
        if adapter is not None:
            _without_faults(board)
            board.reset()
        yield board
        if adapter is not None:
            _without_faults(board)


@pytest.fixture
def xq4620_simulation(request):
    adapter = request.config.stash[_BOARD]
    if adapter is not None and not _simulated(adapter):
        pytest.skip("needs the simulated board's fault controls; adapter %r is real hardware"
                    % adapter)
    board = request.getfixturevalue("xq4620_board")
    if board.simulation is None:
        pytest.skip("needs the simulated board's fault controls; adapter %r is real hardware"
                    % board.adapter)
    return board.simulation
