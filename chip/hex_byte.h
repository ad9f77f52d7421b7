// SPDX-License-Identifier: MIT
// Bytes as a person types and reads them: the panel's hex-byte rules.
#ifndef CHIP_HEX_BYTE_H
#define CHIP_HEX_BYTE_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace chip {

// Optional leading and trailing spaces, an optional "0x" or "0X", at least one
// hex digit, no sign, a value of at most FF ("c4", " 0x0A ", "00ff"). Anything
// else, including a value that does not fit a byte, gives nothing.
std::optional<uint8_t> parseHexByte(std::string_view text);

// "0xC4".
std::string hexByte(uint8_t value);

} // namespace chip

#endif
