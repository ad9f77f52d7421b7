# SPDX-License-Identifier: MIT
# One Board shared by threads, forks and Ctrl+C, as lab automation uses it:
# each case runs in an interpreter of its own, so that a crash fails one row.
import fcntl
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from conftest import COMMAND

PRELUDE = """
import os, sys, threading, time, xq4620
adapter = os.environ["ADAPTER"]
"""

CASES = [
    ("close during a call", """
        def reader():
            try:
                while True:
                    board.read(0x03)
            except ValueError as e:
                print("reader:", e)
        t = threading.Thread(target=reader)
        t.start()
        time.sleep(0.05)
        board.close()
        t.join()
        """, ["reader: the board is closed"]),
    ("a transaction beside plain calls leaves the board free", """
        def held():
            for _ in range(200):
                with board.transaction():
                    board.read(0x00)
        def plain():
            for _ in range(200):
                board.read(0x01)
        threads = [threading.Thread(target=held), threading.Thread(target=plain)]
        [t.start() for t in threads]
        [t.join() for t in threads]
        import subprocess
        print(subprocess.run([os.environ["COMMAND"], "--adapter", adapter, "read", "00"],
                             capture_output=True, text=True).stdout.strip())
        """, ["0xC0"]),
    ("each thread's error names its own register", """
        board.simulation.fail_next(reads=4000)
        wrong = []
        def reader(reg):
            for _ in range(300):
                try:
                    board.read(reg)
                except xq4620.BoardError as e:
                    if e.register != reg or not str(e).startswith("register 0x%02X" % reg):
                        wrong.append(str(e))
        threads = [threading.Thread(target=reader, args=(r,)) for r in (0x03, 0x04)]
        [t.start() for t in threads]
        [t.join() for t in threads]
        print("wrong:", len(wrong), wrong[:1])
        """, ["wrong: 0 []"]),
    ("two threads' set() on one register lose nothing", """
        lost = []
        def toggle(field, held):
            for i in range(150):
                if held:
                    with board.transaction():
                        board.set(**{field: i % 2})
                        value = board.get(field)
                else:
                    board.set(**{field: i % 2})
                    value = board.get(field)
                if value != i % 2:
                    lost.append(field)
        threads = [threading.Thread(target=toggle, args=("led_a_en", False)),
                   threading.Thread(target=toggle, args=("led_b_en", True))]
        [t.start() for t in threads]
        [t.join() for t in threads]
        print("lost:", len(lost))
        """, ["lost: 0"]),
    ("a forked child lets go of nothing of its parent's", """
        import fcntl
        with board.transaction():
            pid = os.fork()
            if pid == 0:
                board.close()
                os._exit(0)
            os.waitpid(pid, 0)
            path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "xq4620-sim", adapter[4:])
            with open(path, "rb") as f:
                try:
                    fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    print("the parent's hold is gone")
                except BlockingIOError:
                    print("still held")
        """, ["still held"]),
]


def run_script(shared, body, open_board=True):
    script = PRELUDE + ("board = xq4620.open(adapter)\n" if open_board else "") + textwrap.dedent(body)
    env = dict(os.environ, ADAPTER=shared.adapter, COMMAND=COMMAND, VTX_TEST_READ_DELAY_MS="1")
    env.pop("VTX_TRACE", None)
    return subprocess.Popen([sys.executable, "-c", script], env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


@pytest.mark.parametrize("body, expected", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_threads(shared, body, expected):
    shared.run("read", "00")  # the board exists, powered, at its reset values
    process = run_script(shared, body)
    out, err = process.communicate(timeout=120)
    assert (process.returncode, out.splitlines()) == (0, expected), err


def held_board(shared):
    """The shared board's file, locked as another program holding it locks it."""
    path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "xq4620-sim", shared.adapter[4:])
    f = open(path, "rb")
    fcntl.flock(f, fcntl.LOCK_EX)
    return f


def test_a_wait_for_a_held_board_lets_other_threads_run(shared):
    shared.run("read", "00")
    with held_board(shared):
        process = run_script(shared, """
            ticks = 0
            def tick():
                global ticks
                while True:
                    ticks += 1
                    time.sleep(0.001)
            threading.Thread(target=tick, daemon=True).start()
            time.sleep(0.05)
            before = ticks
            try:
                xq4620.open(adapter)
            except xq4620.BoardError as e:
                print(e.errno == 16, str(e) == "the board is busy: another program holds it")
            print("ticked", ticks - before > 100)
            """, open_board=False)
        out, err = process.communicate(timeout=60)
    assert out.splitlines() == ["True True", "ticked True"], err


WAITS = [
    ("open", "xq4620.open(adapter)"),
    ("read", "board.read(0x00)"),
    ("transaction", "board.transaction().__enter__()"),
    ("watch", "next(board.watch('ovp'))"),
]


@pytest.mark.parametrize("call", [w[1] for w in WAITS], ids=[w[0] for w in WAITS])
def test_ctrl_c_ends_a_wait_for_a_held_board(shared, call):
    shared.run("read", "00")
    process = run_script(shared, """
        print("ready", flush=True)
        sys.stdin.readline()
        print("waiting", flush=True)
        try:
            %s
            print("got the board")
        except KeyboardInterrupt:
            print("KeyboardInterrupt")
        except xq4620.BoardError as e:
            print("BoardError", e)
        """ % call, open_board=not call.startswith("xq4620.open"))
    assert process.stdout.readline() == "ready\n"
    with held_board(shared):
        process.stdin.write("\n")
        process.stdin.flush()
        assert process.stdout.readline() == "waiting\n"
        time.sleep(0.3)  # into the wait; a signal before it would do as well
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=60)
    assert out.splitlines() == ["KeyboardInterrupt"], err
    assert "waiting for" not in err, "the wait went on past a second"


def test_a_busy_board_is_said_in_the_documented_words_and_logged(shared):
    shared.run("read", "00")
    process = run_script(shared, """
        import logging
        logging.basicConfig(format="logged: %(name)s %(message)s")
        print("ready", flush=True)
        sys.stdin.readline()
        for call in (lambda: board.read(0x00), lambda: board.simulation.power_off()):
            try:
                call()
            except xq4620.BoardError as e:
                print(e.errno, e)
        """)
    assert process.stdout.readline() == "ready\n"
    with held_board(shared):
        out, err = process.communicate("\n", timeout=60)
    assert out.splitlines() == [
        "16 register 0x00 (Control): read failed: the board is busy: another program holds it",
        "16 the board is busy: another program holds it"]
    assert "logged: xq4620 waiting for simulated board %s: another program holds it" % (
        shared.adapter[4:]) in err
