// SPDX-License-Identifier: MIT
#include "panel/hex_text.h"

#include <cstdlib>
#include <optional>

#include "chip/hex_byte.h"

QString HexByte(uint32_t value) {
    return QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

bool ParseHexByte(const QString &text, uint8_t *value) {
    // The rule is the chip description's, shared with register files and the
    // command; a character outside ASCII never makes a hex digit in UTF-8.
    const std::optional<uint8_t> byte = chip::parseHexByte(text.toStdString());
    if (byte)
        *value = *byte;
    return byte.has_value();
}

int32_t ParseHexSigned(const QString &text) {
    const QByteArray bytes = text.toLatin1();
    return static_cast<int32_t>(std::strtol(bytes.constData(), nullptr, 16));
}
