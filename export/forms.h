// SPDX-License-Identifier: MIT
// A set-up leaving the bench: register writes as a C header for firmware,
// an i2ctransfer script for a system without our tools, a Python script
// over the xq4620 module, or a shell script of xq4620 commands. One place
// turns entries (an export) or observed accesses (a recording) into every
// form, so that each writes the bytes the bench wrote, in the same order.
#ifndef EXPORT_FORMS_H
#define EXPORT_FORMS_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "regfile/register_file.h"

namespace exporter {

enum class Format { C, I2cTransfer, Python, Shell };

// "c", "i2ctransfer", "python", "shell".
const char *formatName(Format format);
std::optional<Format> parseFormat(std::string_view name);
// "c, i2ctransfer, python and shell"; without the C form for recordings.
std::string formatList(bool recordable);
// A recording is a script: every form but C.
inline bool recordable(Format format) {
    return format != Format::C;
}

// Where a set-up came from, for the comment every form starts with.
struct Origin {
    std::string source; // "register file bench.txt", "adapter sim:bench (SIM-0001)"
    std::string writer; // "xq4620 1.0.0"
    std::chrono::system_clock::time_point time;
};

// "2026-12-08 09:41:02 +0100": local time with its offset from UTC.
std::string localTime(std::chrono::system_clock::time_point time);

// `text` as it may stand in a comment of `format`: every byte outside
// printable ASCII as \xNN, so that no line break (nor a byte an interpreter
// would reject) ends the comment, and in C no "*/" (nor a "??" trigraph).
std::string commentText(std::string_view text, Format format);

// A register's fields as `xq4620 get` prints them, one word each:
// "ovp=24V ocp=1.2A slow-start=0 fmode=500kHz".
std::string fieldWords(uint8_t reg, uint8_t value);

// The whole text of `entries` in `format`, written in their order (the
// order a load writes them).
std::string exportSetUp(Format format, const std::vector<regfile::Entry> &entries,
                        const Origin &origin);

} // namespace exporter

#endif
