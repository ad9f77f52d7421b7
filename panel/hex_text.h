// SPDX-License-Identifier: MIT
// Register values as text, and hexadecimal the user typed.
#ifndef PANEL_HEX_TEXT_H
#define PANEL_HEX_TEXT_H

#include <QString>
#include <cstdint>

// Two uppercase hex digits of the value's low eight bits ("0A").
QString HexByte(uint32_t value);

// What a register text shows when the panel does not know what the chip
// holds: its read failed, or a write to it did.
inline QString NoValueText() {
    return QStringLiteral("--");
}

// A typed hexadecimal byte: optional spaces around it, an optional "0x" or
// "0X", at least one hex digit, no sign, at most FF. Anything else is
// refused (false) rather than cut to fit, so a slip of the finger never
// reaches the chip as some other byte.
bool ParseHexByte(const QString &text, uint8_t *value);

// The signed base-16 conversion (strtol) the readback decodes its texts with;
// a text that holds no number ("--") gives 0.
int32_t ParseHexSigned(const QString &text);

#endif
