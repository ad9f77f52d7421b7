# SPDX-License-Identifier: MIT
# The module against the command: one chip description, one board set-up,
# the same bytes and the same words.
import errno
import json
import os
import subprocess
import sys
import threading
import time

import pytest

import xq4620
from conftest import COMMAND


def test_fields_are_the_commands_fields():
    listed = json.loads(subprocess.run([COMMAND, "fields", "--json"], capture_output=True,
                                       text=True, check=True).stdout)
    ours = [{"name": f.name, "register": f.register, "register_name": f.register_name,
             "lsb": f.lsb, "width": f.width, "access": f.access, "max": f.max,
             **({"choices": list(f.choices)} if f.choices else {})}
            for f in xq4620.fields()]
    assert ours == listed
    ovp = next(f for f in xq4620.fields() if f.name == "ovp")
    assert (ovp.bits, ovp.reset, ovp.choices[ovp.reset]) == ((6, 5), 1, "24 V")
    status = next(r for r in xq4620.registers() if r.address == 0x09)
    assert (status.access, status.reset, status.fields) == (
        "read-only", 0, ("ocp-fault", "ovp-fault", "tsd-fault"))


def test_the_same_set_leaves_the_same_bytes(tmp_path, monkeypatch, shared):
    with xq4620.open(shared.adapter) as board:
        board.set(ovp="32V", led_a_en=1, sleep=0, max_current_a=3, ramp_off="261ms")
        board.set(brightness_b=200, led_b_en=True)
    other = type(shared)(shared.adapter[4:] + "-cmd", shared.trace)
    other.run("set", "ovp=32V", "led-a-en=1", "sleep=0", "max-current-a=3", "ramp-off=261 ms")
    other.run("set", "brightness-b=200", "led-b-en=1")
    assert shared.dump() == other.dump()
    assert shared.dump()["registers"][0]["value"] == 0x46


def test_dump_is_the_commands_dump_with_a_fault_raised(board, shared):
    board.set(brightness_a=77, fmode="1 MHz")
    board.simulation.raise_flags(ovp=True, tsd=True)
    assert board.dump() == shared.dump()
    assert board.dump()["registers"][9]["fields"] == {"ocp-fault": 0, "ovp-fault": 1,
                                                      "tsd-fault": 1}


def test_files_saved_by_one_load_in_the_other(board, shared, tmp_path):
    board.set(ovp="40V", brightness_b=17, ramp_on="8 s")
    board.save(tmp_path / "module.txt")
    shared.run("reset")
    shared.run("load", str(tmp_path / "module.txt"))
    assert board.get("ovp") == "40 V" and board.get("ramp_on") == "8 s"

    shared.run("set", "brightness-b=99", "led-b-en=1")
    shared.run("save", str(tmp_path / "command.txt"))
    board.reset()
    board.load(str(tmp_path / "command.txt"))
    assert (board.get("brightness_b"), board.get("led_b_en")) == (99, 1)


REFUSED = [
    ("read(0x100)", lambda b: b.read(0x100), ValueError, "register 256 is not a byte"),
    ("read('zz')", lambda b: b.read("zz"), ValueError, 'register "zz" is not a hex byte'),
    ("write value", lambda b: b.write(0x03, 256), ValueError, "value 256 is not a byte"),
    ("get unknown", lambda b: b.get("brightness"), KeyError, 'unknown field "brightness"'),
    ("set unknown", lambda b: b.set(ovp="32V", bright=1), KeyError, 'unknown field "bright"'),
    ("set choice", lambda b: b.set(led_a_en=1, ovp="33V"), ValueError,
     "ovp=33V: not one of 16 V, 24 V, 32 V, 40 V"),
    ("set range", lambda b: b.set(brightness_a=256), ValueError,
     "brightness-a=256: not a number from 0 to 255"),
    ("set negative", lambda b: b.set(brightness_a=Index(-1)), ValueError,
     "brightness-a=-1: not a number from 0 to 255"),
    ("set read-only", lambda b: b.set(ocp_fault=0), ValueError, "ocp-fault is read-only"),
    ("set type", lambda b: b.set(brightness_a=1.5), TypeError, "brightness-a"),
    ("load bad file", lambda b: b.load(__file__), ValueError, "nothing was written"),
    ("watch unknown", lambda b: b.watch("nope"), ValueError, '"nope" is neither'),
    ("write a bool", lambda b: b.write(0x03, True), TypeError, "(0 to 255), not bool"),
    ("read 2**70", lambda b: b.read(2**70), ValueError, "is not a byte (0 to 255)"),
    ("read a float", lambda b: b.read(3.0), TypeError, "not float"),
    ("watch interval -1", lambda b: b.watch("ovp", interval=-1), ValueError, "under 1 ms"),
    ("watch interval 0", lambda b: b.watch("ovp", interval=0), ValueError, "under 1 ms"),
    ("watch count '2'", lambda b: b.watch("ovp", count="2"), TypeError, "count is an int"),
    ("fail_next 65536", lambda b: b.simulation.fail_next(reads=65536), ValueError,
     "0 to 65535"),
    ("save into no folder", lambda b: b.save("/nonexistent/out.txt"), FileNotFoundError,
     "No such file or directory"),
    ("load no file", lambda b: b.load(b"/nonexistent/in.txt"), FileNotFoundError,
     "No such file or directory"),
]


class Index:
    """An integer as numpy's and other libraries' integer types are one."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def test_integers_and_paths_as_python_has_them(board, tmp_path):
    board.write(Index(0x03), Index(0x42))
    board.set(brightness_b=Index(7))
    assert (board.read(Index(0x03)), board.read(0x04)) == (0x42, 7)

    board.save(bytes(tmp_path / "bytes.txt"))
    board.save(tmp_path / "path.txt")
    assert (tmp_path / "bytes.txt").read_text() == (tmp_path / "path.txt").read_text()
    with pytest.raises(IsADirectoryError) as raised:
        board.save(tmp_path)
    assert raised.value.filename == tmp_path


def test_adapter_names_are_checked_and_a_missing_bus_is_not_found():
    for name, error in [("bogus-adapter", ValueError), ("sim:../x", ValueError),
                        ("/dev/i2c-250", FileNotFoundError)]:
        with pytest.raises(error) as raised:
            xq4620.open(name)
        assert name in str(raised.value)
    assert (raised.value.errno, raised.value.filename) == (errno.ENOENT, "/dev/i2c-250")


def test_description_objects_compare_and_show_themselves(board):
    assert xq4620.fields() == xq4620.fields() and len(set(xq4620.registers())) == len(xq4620.registers())
    assert xq4620.fields()[0] != xq4620.fields()[1]
    sleep = next(f for f in xq4620.fields() if f.name == "sleep")
    assert repr(sleep) == "<Field sleep: register 0x00 bit 7>"
    assert repr(board) == "<xq4620.Board adapter=%r>" % board.adapter
    assert repr(board.simulation) == "<xq4620.Simulation of %r>" % board
    with pytest.raises(AttributeError):
        sleep.name = "awake"


def test_a_watch_round_is_one_picture_of_the_chip(board, shared):
    list(board.watch("brightness_a", "brightness_b", count=2))
    calls = [line.split("(")[0] for line in shared.calls()]
    assert calls[-8:] == ["vtxLock", "vtxI2C_RegisterRead", "vtxI2C_RegisterRead", "vtxUnlock"] * 2


def test_a_transaction_object_nests_and_is_used_again(board, shared):
    tx = board.transaction()
    with tx:
        with tx:
            board.write(0x03, 1)
        board.write(0x04, 2)
    with tx:
        board.write(0x05, 3)
    # Free again at once: the command does not wait.
    assert shared.run("read", "05").stdout == "0x03\n"


@pytest.mark.parametrize("call, error, message", [r[1:] for r in REFUSED],
                         ids=[r[0] for r in REFUSED])
def test_refused_input_raises_before_any_bus_access(board, shared, call, error, message):
    before = shared.bus_calls()
    with pytest.raises(error) as raised:
        call(board)
    assert message in str(raised.value)
    assert shared.bus_calls() == before


def test_board_error_carries_the_commands_message(board, shared):
    board.simulation.power_off()
    command = shared.run("read", "03", check=False)
    with pytest.raises(xq4620.BoardError) as raised:
        board.read(0x03)
    error = raised.value
    assert isinstance(error, OSError)
    assert (error.errno, error.register) == (errno.ENXIO, 0x03)
    assert command.returncode == 1
    assert command.stderr == "xq4620: %s\n" % error
    assert str(error).startswith("register 0x03 (Brightness, Bank A): read failed: ")
    assert error.reason in str(error)


def test_a_transaction_keeps_other_programs_out(board, shared):
    with board.transaction():
        control = board.read(0x00)
        other = subprocess.Popen([COMMAND, "--adapter", shared.adapter, "set", "led-b-en=1"])
        time.sleep(0.3)
        assert other.poll() is None, "the command got in during the transaction"
        board.write(0x00, control | 0x04)
    assert other.wait(timeout=30) == 0
    assert (board.get("led_a_en"), board.get("led_b_en")) == (1, 1)


def test_boards_side_by_side_are_each_their_own(board, shared):
    other = type(shared)(shared.adapter[4:] + "-b", shared.trace)
    with xq4620.open(other.adapter) as b, xq4620.open("sim") as own:
        board.write(0x03, 0x11)
        b.write(0x03, 0x22)
        assert (shared.run("read", "03").stdout, other.run("read", "03").stdout,
                own.read(0x03)) == ("0x11\n", "0x22\n", 0)

        held, done = threading.Event(), threading.Event()

        def hold():
            with board.transaction():
                held.set()
                done.wait(60)
        holder = threading.Thread(target=hold)
        holder.start()
        try:
            held.wait(60)
            b.write(0x04, 0x33)  # a wait for the other's hold would end in EBUSY
        finally:
            done.set()
            holder.join()

        b.simulation.fail_next(reads=1)
        assert board.read(0x03) == 0x11
        with pytest.raises(xq4620.BoardError) as raised:
            b.read(0x04)
        assert (raised.value.errno, raised.value.register) == (errno.EIO, 0x04)
        assert b.read(0x04) == 0x33


def test_simulated_faults_are_the_boards(board, shared):
    sim = board.simulation
    sim.raise_flags(ocp=True)
    sim.raise_flags(tsd=True)
    assert board.read(0x09) == 0x05
    sim.raise_flags(ocp=False)
    assert board.read(0x09) == 0x01
    sim.clear_flags()
    assert board.read(0x09) == 0x00
    sim.raise_flags(ovp=True)
    board.reset()
    assert board.read(0x09) == 0x00

    sim.fail_next(reads=2)
    sim.fail_next(writes=1)  # the reads still to fail stay
    with pytest.raises(xq4620.BoardError) as raised:
        board.read(0x03)
    assert raised.value.errno == errno.EIO
    # The next read fails in another program: the count is the board's.
    assert shared.run("read", "03", check=False).returncode == 1
    assert board.read(0x03) == 0
    with pytest.raises(xq4620.BoardError):
        board.write(0x03, 0x10)
    board.write(0x03, 0x20)
    assert board.read(0x03) == 0x20

    board.set(brightness_a=9)
    sim.raise_flags(ovp=True)
    sim.power_off()
    assert shared.run("read", "03", check=False).returncode == 1
    sim.power_on()
    assert (board.read(0x03), board.read(0x09)) == (0, 0), "a power cycle resets the chip"


def test_the_supply_is_switched_and_stays_off_until_a_set_up():
    board = xq4620.open("sim")
    assert board.supply is True
    board.power(False)
    assert board.supply is False
    with pytest.raises(xq4620.BoardError) as raised:
        board.read(0x00)
    assert raised.value.errno == errno.ENXIO
    board.power(True)
    assert board.supply is True and board.read(0x00) == 0xC0, "on again, from its reset values"
    board.close()


def test_the_type_stub_matches_the_module():
    allowlist = os.path.join(os.path.dirname(__file__), "stubtest-allowlist.txt")
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "xq4620", "--allowlist",
                             allowlist], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
