// SPDX-License-Identifier: MIT
// What the command tells a person, and the exit status that goes with it:
// data on standard output, every complaint on standard error.
#ifndef CLI_MESSAGES_H
#define CLI_MESSAGES_H

#include <string>

namespace cli {

enum ExitStatus {
    kSuccess = 0,
    kDeviceFailure = 1, // the adapter or the chip failed, or a file could not be written
    kUsageError = 2,    // the command line or an input file asked for something invalid
};

// "xq4620: " and the message on standard error; returns `status`.
int complain(int status, const std::string &message);

// "program version", as register files name their writer.
std::string programAndVersion();

} // namespace cli

#endif
