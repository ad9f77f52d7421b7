// SPDX-License-Identifier: MIT
// What the command tells a person, and the exit status that goes with it:
// data on standard output, every complaint on standard error.
#ifndef CLI_MESSAGES_H
#define CLI_MESSAGES_H

#include <string>

#include "board/device.h"

namespace cli {

enum ExitStatus {
    kSuccess = 0,
    kDeviceFailure = 1, // the adapter or the chip failed, or a file could not be read or written
    kUsageError = 2,    // the command line or an input file asked for something invalid
};

// "xq4620: " and the message on standard error; returns `status`.
int complain(int status, const std::string &message);

// "program version", as register files name their writer.
std::string programAndVersion();

// `text` with every control character (and DEL) as \xNN, so that what a
// person typed cannot move the cursor or ring the bell in a message.
std::string escaped(const std::string &text);
// The same in double quotes, for repeating a word a person typed.
std::string quoted(const std::string &text);

// Where the board's operations tell their failures: complain() with status 1.
board::Complaints complainer();

// The exit status for a board that did not open: 2 when the adapter was
// not named among several bridges (nothing was touched), else 1.
int openFailure(const board::Device &device);

// Flushes standard output and checks that everything written to it arrived;
// on failure says so ("standard output: No space left on device") and
// returns 1 in place of a successful `status`.
int finishOutput(int status);

} // namespace cli

#endif
