// SPDX-License-Identifier: MIT
#include "cli/messages.h"

#include <cstdio>

#include "chip/hex_byte.h"
#include "chip/xq4620.h"

namespace cli {

int complain(int status, const std::string &message) {
    std::fprintf(stderr, "xq4620: %s\n", message.c_str());
    return status;
}

std::string registerLabel(uint8_t reg) {
    std::string label = "register " + chip::hexByte(reg);
    if (const chip::Register *info = chip::findRegister(reg))
        label += std::string(" (") + info->name + ")";
    return label;
}

std::string programAndVersion() {
    return "xq4620 " XQ_VERSION;
}

} // namespace cli
