#include "panel/hex_text.h"

#include <cstdlib>

QString HexByte(uint32_t value) {
    return QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

uint32_t ParseHexTyped(const QString &text) {
    // Done by hand rather than with strtoul: this platform's unsigned long is
    // 64 bits wide, and the typed value is taken as a 32-bit one.
    const QByteArray bytes = text.toLatin1();
    const char *p = bytes.constData();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0)
        p += 2;
    uint64_t value = 0;
    for (; HexDigit(*p) >= 0; ++p) {
        value = value * 16 + static_cast<uint64_t>(HexDigit(*p));
        if (value > 0xFFFFFFFFull)
            return 0xFFFFFFFFu;
    }
    const uint32_t low = static_cast<uint32_t>(value);
    return negative ? 0u - low : low;
}

int32_t ParseHexSigned(const QString &text) {
    const QByteArray bytes = text.toLatin1();
    return static_cast<int32_t>(std::strtol(bytes.constData(), nullptr, 16));
}
