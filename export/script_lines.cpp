// SPDX-License-Identifier: MIT
#include "export/script_lines.h"

#include <cstdio>

#include "chip/hex_byte.h"
#include "chip/xq4620.h"

namespace exporter {

std::string scriptPreamble(Format format, bool recording, const Origin &origin) {
    const std::string what = recording ? "recording" : "set-up";
    const std::string from =
        (recording ? "# Recorded by " : "# Exported by ") + commentText(origin.writer, format) +
        " from " + commentText(origin.source, format) + ", " + localTime(origin.time) + ".\n";
    switch (format) {
    case Format::Shell:
        return "#!/bin/sh\n"
               "# XQ4620 " +
               what + " as xq4620 commands (shell form)\n" + from +
               "# Run: sh FILE [--adapter ADAPTER]; without --adapter on the board VTX_ADAPTER\n"
               "# names. Stops at the first command that fails.\n"
               "set -e\n"
               "case $#:${1-} in\n"
               "0: | 2:--adapter | 1:--adapter=*) ;;\n"
               "*)\n"
               "    echo \"usage: $0 [--adapter ADAPTER] (without it, the board VTX_ADAPTER "
               "names)\" >&2\n"
               "    exit 2\n"
               "    ;;\n"
               "esac\n";
    case Format::I2cTransfer:
        return "#!/bin/sh\n"
               "# XQ4620 " +
               what + " as i2ctransfer commands (i2ctransfer form, i2c-tools)\n" + from +
               "# Run: sh FILE BUS, BUS the I2C bus the chip is on (1 or /dev/i2c-1).\n"
               "# Stops at the first transfer that fails.\n"
               "set -e\n"
               "if [ $# -ne 1 ]; then\n"
               "    echo \"usage: $0 BUS (the chip's I2C bus: 1 or /dev/i2c-1)\" >&2\n"
               "    exit 2\n"
               "fi\n"
               "BUS=$1\n";
    case Format::Python:
        return "#!/usr/bin/python3\n"
               "# XQ4620 " +
               what + " through the xq4620 module (python form)\n" + from +
               "# Run: python3 FILE [--adapter ADAPTER]; without --adapter on the board\n"
               "# VTX_ADAPTER names. Stops at the first access that fails.\n"
               "import argparse\n"
               "import sys\n" +
               (recording ? "import time\n" : "") +
               "\n"
               "import xq4620\n"
               "\n"
               "\n"
               "def _failed(kind, error, trace):\n"
               "    if not issubclass(kind, xq4620.BoardError):\n"
               "        return sys.__excepthook__(kind, error, trace)\n"
               "    print(\"%s: %s\" % (sys.argv[0], error), file=sys.stderr)\n"
               "\n"
               "\n"
               "sys.excepthook = _failed\n"
               "_arguments = argparse.ArgumentParser(description=\"Writes an XQ4620 " +
               what +
               ".\")\n"
               "_arguments.add_argument(\"--adapter\", help=\"the board's adapter, as "
               "VTX_ADAPTER names it\")\n"
               "board = xq4620.open(_arguments.parse_args().adapter)\n";
    case Format::C:
        break;
    }
    return "";
}

std::string writeLine(Format format, uint16_t device, uint8_t reg, uint8_t value) {
    const std::string r = chip::hexByte(reg), v = chip::hexByte(value);
    const bool chipDevice = device == chip::kDeviceAddress;
    // The command and the module refuse a write the chip would not take
    // part in unless forced; the session made it, so the script does too.
    const bool force = !chip::accessRefusal(reg, chip::Access::WriteOnly).empty();
    switch (format) {
    case Format::Shell:
        return chipDevice
                   ? "xq4620 \"$@\" write " + std::string(force ? "--force " : "") + r + " " + v
                   : "";
    case Format::Python:
        return chipDevice ? "board.write(" + r + ", " + v + (force ? ", force=True" : "") + ")"
                          : "";
    case Format::I2cTransfer: {
        char address[8];
        std::snprintf(address, sizeof address, "0x%02X", device);
        return "i2ctransfer -y \"$BUS\" w2@" + std::string(address) + " " + r + " " + v;
    }
    case Format::C:
        break;
    }
    return "";
}

std::string pauseLine(Format format, double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return format == Format::Python ? "time.sleep(" + s + ")" : "sleep " + s;
}

} // namespace exporter
