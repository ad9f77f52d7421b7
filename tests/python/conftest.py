# SPDX-License-Identifier: MIT
# Shared boards the module and the command both reach, and the command run as
# a script would run it.
import itertools
import json
import os
import re
import subprocess

import pytest

import xq4620

pytest_plugins = ["pytester"]

COMMAND = os.environ.get("XQ4620_COMMAND", "xq4620")


class Shared:
    """One simulated board NAME in a private runtime directory, for the
    module in this process and the command in child processes alike."""

    def __init__(self, name, trace):
        self.adapter = "sim:" + name
        self.trace = trace
        self.start = trace.stat().st_size if trace.exists() else 0

    def calls(self):
        """What this process traced since this board was made, a line each."""
        if not self.trace.exists():
            return []
        with open(self.trace, "rb") as f:
            f.seek(self.start)
            return f.read().decode().splitlines()

    def run(self, *args, check=True):
        env = {k: v for k, v in os.environ.items() if k != "VTX_TRACE"}
        result = subprocess.run([COMMAND, "--adapter", self.adapter, *args], env=env,
                                capture_output=True, text=True, timeout=60)
        if check:
            assert result.returncode == 0, result.stderr
        return result

    def dump(self):
        return json.loads(self.run("dump", "--json").stdout)

    def bus_calls(self):
        """Register reads and writes this process made, as traced."""
        return [line for line in self.calls() if line.startswith("vtxI2C_Register")]


@pytest.fixture(scope="session", autouse=True)
def trace(tmp_path_factory):
    """This process's trace: the library opens VTX_TRACE once, at its first
    call, so it is set before any test opens a board."""
    path = tmp_path_factory.mktemp("trace") / "calls"
    os.environ["VTX_TRACE"] = str(path)
    return path


# A process keeps each adapter name's board for good: every test's is new.
boards_made = itertools.count()


@pytest.fixture
def shared(tmp_path, monkeypatch, request, trace):
    monkeypatch.setenv("XDG_RUNTIME_DIR", str(tmp_path))
    name = re.sub("[^A-Za-z0-9_-]", "-", request.node.name)[:50]
    return Shared("%s-%d" % (name, next(boards_made)), trace)


@pytest.fixture
def pytester(pytester, monkeypatch):
    """An inner pytest run that is not taken for a worker of ours, should
    this suite run under pytest-xdist, and traces nothing into our trace."""
    for name in list(os.environ):
        if name.startswith("PYTEST_XDIST_") or name == "VTX_TRACE":
            monkeypatch.delenv(name)
    return pytester


@pytest.fixture
def board(shared):
    with xq4620.open(shared.adapter) as b:
        yield b
