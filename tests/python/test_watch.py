# SPDX-License-Identifier: MIT
# `xq4620 watch` and `xq4620 simulate` as a script runs them, beside other
# programs on one shared board.
import json
import queue
import signal
import subprocess
import threading
import time

import pytest

from conftest import COMMAND


STARTED = []


@pytest.fixture(autouse=True)
def no_watch_left_running():
    yield
    while STARTED:
        process = STARTED.pop()
        if process.poll() is None:
            process.kill()
            process.wait()


class Watch:
    def __init__(self, shared, *args):
        self.process = subprocess.Popen(
            [COMMAND, "--adapter", shared.adapter, "watch", "--interval", "10", *args],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        STARTED.append(self.process)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line)

    def line(self, timeout=10):
        """The next line it prints; a watch that says nothing fails the test."""
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            self.process.kill()
            raise AssertionError("watch printed nothing for %s s" % timeout)

    def stop(self):
        """Ctrl+C; the rest of its output and its exit status."""
        self.process.send_signal(signal.SIGINT)
        status = self.process.wait(timeout=30)
        self.reader.join(timeout=30)
        rest = ""
        while not self.lines.empty():
            rest += self.lines.get()
        return rest, status


def test_a_change_by_another_program_appears_exactly_once(shared):
    shared.run("set", "brightness-a=5")
    watch = Watch(shared, "brightness-a", "ovp", "--json")
    first = [json.loads(watch.line()) for _ in range(2)]
    assert [(e["name"], e["value"]) for e in first] == [("brightness-a", 5), ("ovp", "24 V")]
    shared.run("set", "brightness-a=42")
    change = json.loads(watch.line())
    assert (change["name"], change["value"]) == ("brightness-a", 42)
    assert change["time"] >= first[0]["time"]
    time.sleep(0.3)  # some thirty rounds more, nothing changing
    rest, status = watch.stop()
    assert (rest, status) == ("", -signal.SIGINT)


def test_a_failed_read_is_reported_and_watching_goes_on(shared):
    watch = Watch(shared, "03")
    assert watch.line().endswith(" 0x03=0x00\n")
    shared.run("simulate", "fail-reads", "3")
    failed = watch.line()
    assert failed.split(" ", 1)[1].startswith(
        "0x03: register 0x03 (Brightness, Bank A): read failed: ")
    assert watch.line().endswith(" 0x03=0x00\n"), "the value again once it reads"
    rest, status = watch.stop()
    assert (rest, status) == ("", -signal.SIGINT)


def test_watch_writes_nothing_and_stops_after_count_rounds(shared):
    result = shared.run("watch", "--count", "3", "--interval", "1")
    lines = result.stdout.splitlines()
    assert [line.split(" ", 1)[1] for line in lines[:2]] == ["0x00=0xC0", "0x01=0x18"]
    assert len(lines) == 13


@pytest.mark.parametrize("args, status, message", [
    (["watch", "0x0F"], 2, "register 0x0F (Software Reset) is write-only"),
    (["watch", "--interval", "0"], 2, "--interval"),
    (["simulate", "ocp", "maybe"], 2, "on or off"),
    (["simulate", "fail-reads", "-1"], 2, "a number"),
    (["simulate", "smoke", "on"], 2, "ocp, ovp, tsd, power, fail-reads or fail-writes"),
])
def test_refused_usage(shared, args, status, message):
    result = shared.run(*args, check=False)
    assert result.returncode == status
    assert message in result.stderr


def test_simulate_is_refused_on_real_hardware():
    result = subprocess.run([COMMAND, "--adapter", "/dev/i2c-250", "simulate", "ovp", "on"],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 2
    assert "simulated board" in result.stderr


def test_simulate_sets_the_shared_boards_faults(shared):
    shared.run("simulate", "ocp", "on")
    shared.run("simulate", "tsd", "on")
    assert shared.run("read", "09").stdout == "0x05\n"
    shared.run("simulate", "ocp", "off")
    assert shared.run("read", "09").stdout == "0x01\n"
    shared.run("simulate", "power", "off")
    assert shared.run("read", "09", check=False).returncode == 1
    refused = shared.run("simulate", "ovp", "on", check=False)
    assert (refused.returncode, "the chip is unpowered" in refused.stderr) == (1, True)
    shared.run("simulate", "power", "on")
    assert shared.run("read", "09").stdout == "0x00\n"
    shared.run("simulate", "fail-writes", "1")
    assert shared.run("write", "03", "10", check=False).returncode == 1
    shared.run("write", "03", "10")
