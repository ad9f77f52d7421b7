// SPDX-License-Identifier: MIT
#include "panel/hex_text.h"

#include <cstdlib>

QString HexByte(uint32_t value) {
    return QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

namespace {

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

bool ParseHexByte(const QString &text, uint8_t *value) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    if (end - begin >= 2 && text[begin] == u'0' &&
        (text[begin + 1] == u'x' || text[begin + 1] == u'X'))
        begin += 2;
    if (begin == end)
        return false;
    unsigned result = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0)
            return false;
        result = result * 16 + static_cast<unsigned>(digit);
        if (result > 0xFF)
            return false;
    }
    *value = static_cast<uint8_t>(result);
    return true;
}

int32_t ParseHexSigned(const QString &text) {
    const QByteArray bytes = text.toLatin1();
    return static_cast<int32_t>(std::strtol(bytes.constData(), nullptr, 16));
}
