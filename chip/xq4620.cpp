// SPDX-License-Identifier: MIT
#include "chip/xq4620.h"

#include "chip/hex_byte.h"

#include <algorithm>

namespace chip {
namespace {

// Fixed orders, not sorted by value: Fmode lists 500 kHz before 1 MHz, and the
// On ramp starts at 4 ms where the other ramps start at 0. Plain arrays, set
// before any code runs: the description may be asked for while other files'
// static objects are still being built.
constexpr const char *kFmode[] = {"500 kHz", "1 MHz", "450 kHz", "950 kHz"};
constexpr const char *kOvp[] = {"16 V", "24 V", "32 V", "40 V"};
constexpr const char *kOcp[] = {"600 mA", "800 mA", "1.0 A", "1.2 A"};
constexpr const char *kRampOn[] = {"4 ms", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"};
constexpr const char *kRamp[] = {"0", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"};

Field bit(const char *name, uint8_t reg, uint8_t bitNo) {
    return {name, reg, bitNo, 1, 1, {}};
}

template <std::size_t N>
Field coded(const char *name, uint8_t reg, uint8_t lsb, uint8_t width,
            const char *const (&choices)[N]) {
    return {name, reg, lsb, width, static_cast<uint8_t>(N - 1), {choices, choices + N}};
}

Field number(const char *name, uint8_t reg, uint8_t max) {
    return {name, reg, 0, 8, max, {}};
}

} // namespace

const char *accessText(Access access) {
    switch (access) {
    case Access::ReadWrite:
        return "read/write";
    case Access::ReadOnly:
        return "read-only";
    case Access::WriteOnly:
        return "write-only";
    }
    return "";
}

// Register 0x00 resets with bit 6 set beside Sleep although no field names
// it; 0x0A, 0x0B and 0x12 identify the part ("4620", revision 1).
const std::vector<Register> &registers() {
    static const std::vector<Register> kRegisters = {
        {0x00, "Control", Access::ReadWrite, 0xC0},
        {0x01, "Configuration", Access::ReadWrite, 0x18},
        {0x02, "Boost Control", Access::ReadWrite, 0x38},
        {0x03, "Brightness, Bank A", Access::ReadWrite, 0x00},
        {0x04, "Brightness, Bank B", Access::ReadWrite, 0x00},
        {0x05, "Max Current, Bank A", Access::ReadWrite, 0x1F},
        {0x06, "Max Current, Bank B", Access::ReadWrite, 0x1F},
        {0x07, "Ramp Times, On and Off", Access::ReadWrite, 0x00},
        {0x08, "Ramp Times, Start and Stop", Access::ReadWrite, 0x00},
        {0x09, "Interrupt Status", Access::ReadOnly, 0x00},
        {0x0A, "Part Number, High", Access::ReadOnly, 0x46},
        {0x0B, "Part Number, Low", Access::ReadOnly, 0x20},
        {kSoftResetRegister, "Software Reset", Access::WriteOnly, -1},
        {0x12, "Silicon Revision", Access::ReadOnly, 0x01},
    };
    return kRegisters;
}

const std::vector<Field> &fields() {
    static const std::vector<Field> kFields = {
        bit("sleep", 0x00, 7),
        bit("linear-a", 0x00, 4),
        bit("linear-b", 0x00, 3),
        bit("led-a-en", 0x00, 2),
        bit("led-b-en", 0x00, 1),
        bit("led2-on-a", 0x00, 0),
        bit("feedback-b", 0x01, 4),
        bit("feedback-a", 0x01, 3),
        bit("pwm-active-low", 0x01, 2),
        bit("pwm-b", 0x01, 1),
        bit("pwm-a", 0x01, 0),
        coded("ovp", 0x02, 5, 2, kOvp),
        coded("ocp", 0x02, 3, 2, kOcp),
        bit("slow-start", 0x02, 2),
        coded("fmode", 0x02, 0, 2, kFmode),
        number("brightness-a", 0x03, 255),
        number("brightness-b", 0x04, 255),
        // The current DACs are five bits wide; bits 7-5 belong to no field.
        {"max-current-a", 0x05, 0, 5, 31, {}},
        {"max-current-b", 0x06, 0, 5, 31, {}},
        coded("ramp-on", 0x07, 3, 3, kRampOn),
        coded("ramp-off", 0x07, 0, 3, kRamp),
        coded("ramp-start", 0x08, 3, 3, kRamp),
        coded("ramp-stop", 0x08, 0, 3, kRamp),
        bit("ocp-fault", 0x09, 2),
        bit("ovp-fault", 0x09, 1),
        bit("tsd-fault", 0x09, 0),
    };
    return kFields;
}

const Register *findRegister(uint8_t address) {
    for (const Register &r : registers()) {
        if (r.address == address)
            return &r;
    }
    return nullptr;
}

const Field *findField(std::string_view name) {
    for (const Field &f : fields()) {
        if (name == f.name)
            return &f;
    }
    return nullptr;
}

const Field *findFieldUnderscored(std::string name) {
    std::replace(name.begin(), name.end(), '_', '-');
    return findField(name);
}

std::vector<const Field *> fieldsOf(uint8_t address) {
    std::vector<const Field *> out;
    for (const Field &f : fields()) {
        if (f.reg == address)
            out.push_back(&f);
    }
    return out;
}

std::vector<uint8_t> setupRegisters() {
    std::vector<uint8_t> out;
    for (const Register &r : registers()) {
        if (r.access == Access::ReadWrite)
            out.push_back(r.address);
    }
    return out;
}

std::vector<uint8_t> readableRegisters() {
    std::vector<uint8_t> out;
    for (const Register &r : registers()) {
        if (r.access != Access::WriteOnly)
            out.push_back(r.address);
    }
    return out;
}

uint8_t namedBits(uint8_t address) {
    uint8_t bits = 0;
    for (const Field *f : fieldsOf(address))
        bits |= f->mask();
    return bits;
}

std::string registerLabel(uint8_t address) {
    std::string label = "register " + hexByte(address);
    if (const Register *info = findRegister(address))
        label += std::string(" (") + info->name + ")";
    return label;
}

std::string accessRefusal(uint8_t address, Access wanted) {
    const Register *info = findRegister(address);
    if (!info)
        return registerLabel(address) + " is not one of the chip's registers";
    if (wanted == Access::WriteOnly && info->access == Access::ReadOnly)
        return registerLabel(address) + " is read-only: the chip ignores what is written to it";
    if (wanted == Access::ReadOnly && info->access == Access::WriteOnly)
        return registerLabel(address) + " is write-only: reading it tells nothing of the chip";
    return "";
}

} // namespace chip
