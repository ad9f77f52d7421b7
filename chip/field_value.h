// SPDX-License-Identifier: MIT
// A field's value as a person reads and types it: the choice text of a coded
// field ("24 V"), a decimal number otherwise.
#ifndef CHIP_FIELD_VALUE_H
#define CHIP_FIELD_VALUE_H

#include <optional>
#include <string>
#include <string_view>

#include "chip/xq4620.h"

namespace chip {

// "24 V" for ovp code 1, "128" for brightness-a 128.
std::string fieldText(const Field &field, unsigned value);

// The same as one word, as a shell takes it back unquoted: "24V", "128".
std::string typedText(const Field &field, unsigned value);

// The value `text` stands for. A coded field takes one of its choices as a
// person types it: spaces and letter case aside ("32V", "1.0a", "8 S"), the
// number in any spelling ("1A" for "1.0 A"), the unit left out when the
// number alone names one choice ("32", "0") or given for a bare "0"
// ("0ms"). Any other field takes a decimal number or 0x and hex digits, from
// 0 to the field's largest value.
// On refusal `reason` says why, naming the accepted values.
std::optional<unsigned> parseFieldValue(const Field &field, std::string_view text,
                                        std::string &reason);

// The value a program may set the field to: as parseFieldValue, and refused
// ("ocp-fault is read-only") when the field's register cannot be written.
std::optional<unsigned> parseSettableValue(const Field &field, std::string_view text,
                                           std::string &reason);

// "sleep, led-a-en" / "ovp=24 V, ocp=1.2 A, fmode=500 kHz": the one-bit
// fields that are set by name, the wider ones with their value.
std::string describeFields(uint8_t address, uint8_t value);

} // namespace chip

#endif
