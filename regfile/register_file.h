// SPDX-License-Identifier: MIT
// Register files: one register a line, "0xRR 0xVV", "#" to the end of a line
// is a comment. A file is checked whole before any of it is used, so a
// caller either gets every register of a good file or the reason for every
// bad line, never half a set-up.
#ifndef REGFILE_REGISTER_FILE_H
#define REGFILE_REGISTER_FILE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace regfile {

struct Entry {
    uint8_t reg;
    uint8_t value;
    int line; // where the file sets it; 0 for entries not read from a file

    bool operator==(const Entry &o) const { return reg == o.reg && value == o.value; }
};

struct Problem {
    int line; // 1-based; 0 for the file as a whole
    std::string reason;
};

struct Contents {
    std::vector<Entry> entries; // in address order
    std::vector<Problem> problems;
    bool ok() const { return problems.empty(); }
};

// Accepts only the chip's set-up registers (read/write), each at most once,
// with byte values; every line that breaks a rule gives a problem. A file
// without a single register is refused as a whole.
Contents parse(std::string_view text);

// parse() of the file at `path`; a file that cannot be read gives one
// problem on line 0 with the system's reason.
Contents read(const std::string &path);

// The text of a register file: a header naming `writer` (program and
// version), then the entries in address order, each with a comment naming
// its register and the fields that are set.
std::string format(const std::vector<Entry> &entries, std::string_view writer);

// Writes `text` to `path` in full or not at all: a file already there is
// replaced only once the new one is complete. False with `error` set on
// failure.
bool write(const std::string &path, const std::string &text, std::string &error);

// "line 3: register 0x09 (Interrupt Status) is read-only".
std::string describe(const Problem &problem);

} // namespace regfile

#endif
