// SPDX-License-Identifier: MIT
#include "cli/messages.h"

#include "vtx/adapters.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace cli {

int complain(int status, const std::string &message) {
    std::fprintf(stderr, "xq4620: %s\n", message.c_str());
    return status;
}

std::string programAndVersion() {
    return "xq4620 " XQ_VERSION;
}

std::string escaped(const std::string &text) {
    return board::escaped(text);
}

std::string quoted(const std::string &text) {
    return "\"" + escaped(text) + "\"";
}

board::Complaints complainer() {
    return [](const std::string &message) { complain(kDeviceFailure, message); };
}

int openFailure(const board::Device &device) {
    return device.openResult() == vtx::kNotUnique ? kUsageError : kDeviceFailure;
}

int finishOutput(int status) {
    // fflush reports a write that fails now; ferror one that failed earlier.
    // (Standard output is buffered whole, so "earlier" is rare.)
    errno = 0;
    bool failed = std::fflush(stdout) != 0;
    const int err = errno;
    std::cout.flush();
    failed = failed || std::ferror(stdout) || std::cout.bad();
    if (failed) {
        complain(kDeviceFailure,
                 std::string("standard output: ") + (err ? std::strerror(err) : "write error"));
        return status == kSuccess ? kDeviceFailure : status;
    }
    return status;
}

} // namespace cli
