// SPDX-License-Identifier: MIT
#include "cli/messages.h"

#include <cstdio>

namespace cli {

int complain(int status, const std::string &message) {
    std::fprintf(stderr, "xq4620: %s\n", message.c_str());
    return status;
}

std::string programAndVersion() {
    return "xq4620 " XQ_VERSION;
}

} // namespace cli
