// SPDX-License-Identifier: MIT
#include "link/version_line.h"

namespace {

std::string Nibbles(uint8_t byte) {
    return std::to_string(byte >> 4) + "." + std::to_string(byte & 0x0F);
}

} // namespace

std::string LinkVersionLine(uint8_t firmware, uint8_t firmware2) {
    return "Version: USB RFW:" + Nibbles(firmware) + "; FFW:" + Nibbles(firmware2);
}
