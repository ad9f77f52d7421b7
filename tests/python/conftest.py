# SPDX-License-Identifier: MIT
# Shared boards the module and the command both reach, and the command run as
# a script would run it.
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
        if not self.trace.exists():
            return []
        return [line for line in self.trace.read_text().splitlines()
                if line.startswith("vtxI2C_Register")]


@pytest.fixture
def shared(tmp_path, monkeypatch, request):
    monkeypatch.setenv("XDG_RUNTIME_DIR", str(tmp_path))
    trace = tmp_path / "trace"
    monkeypatch.setenv("VTX_TRACE", str(trace))
    return Shared(re.sub("[^A-Za-z0-9_-]", "-", request.node.name)[:60], trace)


@pytest.fixture
def board(shared):
    with xq4620.open(shared.adapter) as b:
        yield b
