// SPDX-License-Identifier: MIT
#include "chip/hex_byte.h"

#include <cstdio>

namespace chip {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<uint8_t> parseHexByte(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty())
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
        // Leading zeros are fine; anything that passes a byte is not.
        if (value > 0xFF)
            return std::nullopt;
    }
    return static_cast<uint8_t>(value);
}

std::string hexByte(uint8_t value) {
    char text[5];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

} // namespace chip
