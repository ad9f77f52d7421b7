// SPDX-License-Identifier: MIT
// What the command tells a person, and the exit status that goes with it:
// data on standard output, every complaint on standard error.
#ifndef CLI_MESSAGES_H
#define CLI_MESSAGES_H

#include <cstdint>
#include <string>

namespace cli {

enum ExitStatus {
    kSuccess = 0,
    kDeviceFailure = 1, // the adapter or the chip failed, or a file could not be written
    kUsageError = 2,    // the command line or an input file asked for something invalid
};

// "xq4620: " and the message on standard error; returns `status`.
int complain(int status, const std::string &message);

// "register 0x03 (Brightness, Bank A)"; "register 0x42" for one the chip lacks.
std::string registerLabel(uint8_t reg);

// "program version", as register files name their writer.
std::string programAndVersion();

} // namespace cli

#endif
