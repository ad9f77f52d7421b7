// SPDX-License-Identifier: MIT
#include "chip/field_value.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace chip {
namespace {

// Spaces dropped and, unless kept, letters lowered: "1.0 A" and "1.0a"
// compare equal.
std::string folded(std::string_view text, bool lower = true) {
    std::string out;
    for (char c : text) {
        if (c != ' ')
            out += lower ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
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

// A choice or a typed value as a quantity: the number scaled to the unit's
// family base (mA, ms, kHz, V) and that family; "" for a bare number.
struct Quantity {
    double value;
    std::string family;
    double raw; // the number as written
};

std::optional<Quantity> quantity(const std::string &folded) {
    size_t i = 0;
    while (i < folded.size() &&
           (std::isdigit(static_cast<unsigned char>(folded[i])) || folded[i] == '.'))
        ++i;
    if (i == 0 || std::count(folded.begin(), folded.begin() + i, '.') > 1 || folded[0] == '.')
        return std::nullopt;
    const double number = std::strtod(folded.substr(0, i).c_str(), nullptr);
    const std::string unit = folded.substr(i);
    static const struct {
        const char *unit, *family;
        double scale;
    } kUnits[] = {{"", "", 1},       {"v", "v", 1},        {"ma", "ma", 1},
                  {"a", "ma", 1000}, {"ms", "ms", 1},      {"s", "ms", 1000},
                  {"khz", "khz", 1}, {"mhz", "khz", 1000}, {"hz", "khz", 0.001}};
    for (const auto &u : kUnits) {
        if (unit == u.unit)
            return Quantity{number * u.scale, u.family, number};
    }
    return std::nullopt;
}

// Whether a typed quantity names a choice: the same amount in the same
// family; a bare number by its number as written, or a bare zero (the
// ramps' "0") by any unit.
bool names(const Quantity &typed, const Quantity &choice) {
    auto same = [](double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, b); };
    if (typed.family == choice.family)
        return same(typed.value, choice.value);
    if (typed.family.empty())
        return same(typed.raw, choice.raw);
    return choice.family.empty() && choice.value == 0 && typed.value == 0;
}

} // namespace

std::string typedText(const Field &field, unsigned value) {
    return folded(fieldText(field, value), false);
}

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
        // Otherwise by amount; a spelling that could name two choices names
        // none.
        std::optional<unsigned> found;
        int matches = 0;
        if (const auto typed = quantity(wanted)) {
            for (size_t code = 0; code < field.choices.size(); ++code) {
                const auto choice = quantity(folded(field.choices[code]));
                if (choice && names(*typed, *choice)) {
                    found = static_cast<unsigned>(code);
                    ++matches;
                }
            }
        }
        if (matches == 1)
            return found;
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

std::optional<unsigned> parseSettableValue(const Field &field, std::string_view text,
                                           std::string &reason) {
    if (findRegister(field.reg)->access != Access::ReadWrite) {
        reason = std::string(field.name) + " is read-only";
        return std::nullopt;
    }
    return parseFieldValue(field, text, reason);
}

} // namespace chip
