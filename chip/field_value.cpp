// SPDX-License-Identifier: MIT
#include "chip/field_value.h"

#include <cctype>

namespace chip {
namespace {

// Spaces dropped, letters lowered: "1.0 A" and "1.0a" compare equal.
std::string folded(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != ' ')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::optional<unsigned> parseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        unsigned digit;
        if (std::isdigit(u))
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && std::isxdigit(u))
            digit = static_cast<unsigned>(std::tolower(u) - 'a' + 10);
        else
            return std::nullopt;
        value = value * static_cast<unsigned>(base) + digit;
        if (value > 0xFFFF)
            return std::nullopt; // far past any field; keeps the sum in range
    }
    return value;
}

} // namespace

std::string fieldText(const Field &field, unsigned value) {
    if (value < field.choices.size())
        return field.choices[value];
    return std::to_string(value);
}

std::optional<unsigned> parseFieldValue(const Field &field, std::string_view text,
                                        std::string &reason) {
    const std::string given = std::string(field.name) + "=" + std::string(text);
    if (!field.choices.empty()) {
        const std::string wanted = folded(text);
        for (size_t code = 0; code < field.choices.size(); ++code) {
            if (!wanted.empty() && folded(field.choices[code]) == wanted)
                return static_cast<unsigned>(code);
        }
        reason = given + ": not one of ";
        for (size_t code = 0; code < field.choices.size(); ++code)
            reason += (code ? ", " : "") + std::string(field.choices[code]);
        return std::nullopt;
    }
    const auto value = parseNumber(text);
    if (!value || *value > field.max) {
        reason = given + ": not a number from 0 to " + std::to_string(field.max);
        return std::nullopt;
    }
    return value;
}

std::string describeFields(uint8_t address, uint8_t value) {
    std::string out;
    for (const Field *f : fieldsOf(address)) {
        const unsigned v = f->valueIn(value);
        std::string item;
        if (f->width > 1)
            item = std::string(f->name) + "=" + fieldText(*f, v);
        else if (v)
            item = f->name;
        if (item.empty())
            continue;
        out += (out.empty() ? "" : ", ") + item;
    }
    return out;
}

} // namespace chip
