# SPDX-License-Identifier: MIT
# The pytest plugin as a user meets it: found through the installed
# package's entry point, running the example suite in docs/ on fresh private
# boards or on a named adapter, and skipping fault tests on real hardware.
import os
import pathlib
import re
from xml.etree import ElementTree

import pytest

EXAMPLE = pathlib.Path(os.environ.get("XQ_SOURCE_DIR", ".")) / "docs" / "xq4620_example_test.py"


def test_example_suite_runs_on_a_fresh_board_for_each_test(pytester):
    pytester.makepyfile(test_example=EXAMPLE.read_text())
    # Each test starts at reset values, even after one that left a fault.
    pytester.makepyfile(test_order="""
        def test_a_dirty(xq4620_board):
            xq4620_board.set(ovp="40 V")
        def test_b_clean(xq4620_board):
            assert xq4620_board.get("ovp") == "24 V"
    """)
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
    result.assert_outcomes(passed=5)


def test_option_runs_the_same_suite_on_the_named_adapter(pytester, shared):
    shared.run("set", "ovp=40V", "brightness-a=9")
    pytester.makepyfile(test_example=EXAMPLE.read_text())
    # First of all: the chip the script left dirty is at its reset values.
    pytester.makepyfile(test_a_clean="""
        def test_clean(xq4620_board):
            assert (xq4620_board.get("ovp"), xq4620_board.read(0x03)) == ("24 V", 0)
    """)
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider",
                                           "--xq4620-adapter=" + shared.adapter)
    result.assert_outcomes(passed=4)
    result.stdout.fnmatch_lines(["xq4620: adapter '%s'" % shared.adapter])
    # The tests ran on that board: it was reset before each of them, and the
    # fault test left it powered again.
    registers = shared.dump()["registers"]
    assert (registers[2]["fields"]["ovp"], registers[3]["value"]) == ("24 V", 0)


def test_fault_tests_are_skipped_with_the_reason_on_real_hardware(pytester):
    pytester.makeconftest("""
        import pytest

        class RealBoard:
            adapter = "/dev/i2c-9"
            simulation = None

        @pytest.fixture
        def xq4620_board():
            return RealBoard()
    """)
    pytester.makepyfile("def test_fault(xq4620_simulation):\n    raise AssertionError\n")
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "-rs")
    result.assert_outcomes(skipped=1)
    result.stdout.fnmatch_lines(["*needs the simulated board's fault controls; "
                                 "adapter '/dev/i2c-9' is real hardware*"])


REFUSED_OPTIONS = [
    ("not an adapter", ["--xq4620-adapter=bogus"], '"bogus" is not an adapter'),
    ("fewer boards than workers", ["--xq4620-adapter=sim:one", "-n", "2"],
     "1 board for 2 xdist workers"),
    ("a board twice", ["--xq4620-adapter=sim:one,sim:one", "-n", "2"],
     "sim:one is named twice"),
]


@pytest.mark.parametrize("args, message", [r[1:] for r in REFUSED_OPTIONS],
                         ids=[r[0] for r in REFUSED_OPTIONS])
def test_a_bad_option_is_one_usage_error(pytester, args, message):
    pytester.makepyfile("def test_a(xq4620_board): pass\ndef test_b(xq4620_board): pass\n")
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider", *args)
    assert result.ret == pytest.ExitCode.USAGE_ERROR
    assert result.stderr.str().count(message) == 1


def test_fault_tests_skip_before_real_hardware_is_opened(pytester):
    # The bus does not exist: opening it would be an error, not a skip.
    pytester.makepyfile("def test_fault(xq4620_simulation):\n    raise AssertionError\n")
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "-rs",
                                           "--xq4620-adapter=/dev/i2c-250")
    result.assert_outcomes(skipped=1)


def test_a_farm_gives_each_worker_its_own_board_and_says_which(pytester, shared):
    farm = [type(shared)(shared.adapter[4:] + side, shared.trace) for side in ("-a", "-b")]
    pytester.makepyfile("""
        import os
        import pytest

        @pytest.mark.parametrize("n", range(4))
        def test_mark(xq4620_board, n):
            xq4620_board.write(0x03, int(os.environ["PYTEST_XDIST_WORKER"][2:]) + 1)
    """)
    result = pytester.runpytest_subprocess(
        "-p", "no:cacheprovider", "-n", "2", "-rA", "--junitxml=report.xml",
        "--xq4620-adapter", ",".join(board.adapter for board in farm))
    result.assert_outcomes(passed=4)
    # gw0 wrote 1, gw1 wrote 2, each on its own board only.
    assert [board.run("read", "03").stdout for board in farm] == ["0x01\n", "0x02\n"]
    result.stdout.fnmatch_lines(["xq4620: adapter '%s' for gw0, adapter '%s' for gw1"
                                 % tuple(board.adapter for board in farm)])
    said = re.findall(r"^(sim:\S+) \(worker (gw\d)\)$", result.stdout.str(), re.M)
    assert sorted(set(said)) == [(farm[0].adapter, "gw0"), (farm[1].adapter, "gw1")]
    assert len(said) == 4
    properties = ElementTree.parse(pytester.path / "report.xml").iter("property")
    assert sorted((p.get("name"), p.get("value")) for p in properties) == sorted(
        [("xq4620_adapter", board.adapter) for board in farm] * 2)


def test_workers_get_private_boards_without_a_named_adapter(pytester):
    pytester.makepyfile(test_example=EXAMPLE.read_text())
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "-n", "2")
    result.assert_outcomes(passed=3)
