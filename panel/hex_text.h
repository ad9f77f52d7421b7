// Register values as text, and hexadecimal the user typed.
#ifndef PANEL_HEX_TEXT_H
#define PANEL_HEX_TEXT_H

#include <QString>
#include <cstdint>

// Two uppercase hex digits of the value's low eight bits ("0A").
QString HexByte(uint32_t value);

// What a register text shows when its read failed.
inline QString FailedReadText() {
    return QStringLiteral("--");
}

// Typed text converted the way strtoul(text, nullptr, 16) does: leading
// blanks, an optional sign and 0x prefix, digits up to the first non-digit,
// 0 without digits, a minus negating in unsigned arithmetic, and 0xFFFFFFFF
// for a value too large for 32 bits.
uint32_t ParseHexTyped(const QString &text);

// The signed base-16 conversion (strtol) the readback decodes its texts with;
// a text that holds no number ("--") gives 0.
int32_t ParseHexSigned(const QString &text);

#endif
