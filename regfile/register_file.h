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
    // The file could not be read at all (one problem on line 0 says why), as
    // against a file that was read and is not a good register file.
    bool unreadable = false;
    bool ok() const { return problems.empty(); }
};

// Accepts only the chip's set-up registers (read/write), each at most once,
// with byte values; every line that breaks a rule gives a problem. A file
// without a single register is refused as a whole. A UTF-8 byte-order mark
// at the start (as some editors write one) is skipped.
Contents parse(std::string_view text);

// parse() of the file at `path`, which must be a regular file: a FIFO, a
// device or a directory is refused ("not a regular file") without waiting
// on it. A file that cannot be read gives one problem on line 0 with the
// reason, and `unreadable`.
Contents read(const std::string &path);

// parse() of everything that can be read from `fd` (standard input: a pipe
// or a terminal as well as a file); the descriptor stays open.
Contents readFrom(int fd);

// The text of a register file: a header naming `writer` (program and
// version), then the entries in address order, each with a comment naming
// its register and the fields that are set.
std::string format(const std::vector<Entry> &entries, std::string_view writer);

// Writes `text` to `path` as an editor saves: a file already there is
// replaced only once the new one is complete, keeping its mode, owner and
// group; a symbolic link is written through to its target; a file with
// several hard links, one whose directory is closed to us, or one whose
// group we may not give, is rewritten in place so that it stays as it was. A file that may not be written (no write
// permission, even for root, or no regular file) is refused and left as it
// is. False with `error` set on failure.
bool write(const std::string &path, const std::string &text, std::string &error);

// "line 3: register 0x09 (Interrupt Status) is read-only".
std::string describe(const Problem &problem);

} // namespace regfile

#endif
