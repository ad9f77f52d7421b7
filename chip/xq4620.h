// SPDX-License-Identifier: MIT
// The XQ4620 as its data sheet describes it: every register the chip has at
// 0x36, its access and reset value, and the named fields inside the bytes.
// This is the one place the register names, the field positions and the
// choices of the coded fields are written down; the panel's lists, the
// register files and the command all take them from here.
#ifndef CHIP_XQ4620_H
#define CHIP_XQ4620_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace chip {

inline constexpr uint8_t kDeviceAddress = 0x36;
inline constexpr uint8_t kSoftResetRegister = 0x0F;
inline constexpr uint8_t kSoftResetValue = 0x01;
inline constexpr uint8_t kControlRegister = 0x00;
inline constexpr uint8_t kSleepBit = 0x80;
// The registers that identify the part; their values are in registers().
inline constexpr uint8_t kPartNumberHighRegister = 0x0A;
inline constexpr uint8_t kPartNumberLowRegister = 0x0B;
inline constexpr uint8_t kRevisionRegister = 0x12;

enum class Access { ReadWrite, ReadOnly, WriteOnly };

// "read/write", "read-only", "write-only".
const char *accessText(Access access);

struct Register {
    uint8_t address;
    const char *name; // "Boost Control"
    Access access;
    int reset; // the value after power-up or a software reset; -1: none
};

struct Field {
    const char *name; // "led-a-en", the name a person types
    uint8_t reg;
    uint8_t lsb;   // lowest bit of the field
    uint8_t width; // bits
    uint8_t max;   // largest value the field takes (a choice field: choices - 1)
    // Texts of a coded field, code 0 first; empty for a plain number.
    std::vector<const char *> choices;

    uint8_t mask() const { return static_cast<uint8_t>(((1u << width) - 1u) << lsb); }
    unsigned valueIn(uint8_t registerValue) const { return (registerValue & mask()) >> lsb; }
    uint8_t placedIn(uint8_t registerValue, unsigned value) const {
        return static_cast<uint8_t>((registerValue & ~mask()) | ((value << lsb) & mask()));
    }
};

// Every register of the chip in address order: 0x00-0x08 the set-up, then
// Interrupt Status, the part number and revision, and the software reset.
const std::vector<Register> &registers();
// Every named field, register by register, highest bit first.
const std::vector<Field> &fields();

const Register *findRegister(uint8_t address);
const Field *findField(std::string_view name);
// The same, with '_' taken for '-' ("led_a_en"), as identifiers spell it.
const Field *findFieldUnderscored(std::string name);
// The fields of one register, highest bit first.
std::vector<const Field *> fieldsOf(uint8_t address);

// The registers a set-up consists of (read/write, 0x00-0x08), in address order.
std::vector<uint8_t> setupRegisters();
// The registers a person can read back, in address order (all but write-only).
std::vector<uint8_t> readableRegisters();

// "register 0x03 (Brightness, Bank A)"; "register 0x42" for one the chip
// lacks. How every message names a register.
std::string registerLabel(uint8_t address);

// Why the chip would not take part in a read (`wanted` ReadOnly) or a write
// (WriteOnly) of `address`, or "": a register it lacks never answers, a
// read-only one drops what is written, and a write-only one reads as 0
// whatever it did. How the command and the Python module refuse such an
// access before the bus.
std::string accessRefusal(uint8_t address, Access wanted);

// Bits of a register that a field names.
uint8_t namedBits(uint8_t address);

} // namespace chip

#endif
