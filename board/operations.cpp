// SPDX-License-Identifier: MIT
#include "board/operations.h"

#include <set>

#include "chip/field_value.h"
#include "chip/hex_byte.h"

namespace board {
namespace {

// "0x00, 0x01 and 0x05"; runs of three or more as "0x03 to 0x08".
std::string registerList(const std::vector<uint8_t> &regs) {
    std::vector<std::string> parts;
    for (size_t i = 0; i < regs.size();) {
        size_t j = i;
        while (j + 1 < regs.size() && regs[j + 1] == regs[j] + 1)
            ++j;
        if (j - i >= 2) {
            parts.push_back(chip::hexByte(regs[i]) + " to " + chip::hexByte(regs[j]));
        } else {
            for (size_t k = i; k <= j; ++k)
                parts.push_back(chip::hexByte(regs[k]));
        }
        i = j + 1;
    }
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i)
        out += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return out;
}

} // namespace

std::optional<std::map<uint8_t, uint8_t>> readEach(Device &device, const std::set<uint8_t> &regs) {
    if (!device.hold())
        return std::nullopt;
    std::map<uint8_t, uint8_t> values;
    for (const uint8_t reg : regs) {
        const auto value = device.read(reg);
        if (!value)
            return std::nullopt;
        values[reg] = *value;
    }
    return values;
}

bool setFields(Device &device, const std::map<const chip::Field *, unsigned> &changes) {
    std::set<uint8_t> regs;
    for (const auto &change : changes)
        regs.insert(change.first->reg);
    auto values = readEach(device, regs);
    if (!values)
        return false;
    for (const auto &[f, value] : changes)
        (*values)[f->reg] = f->placedIn((*values)[f->reg], value);
    for (const auto &[reg, value] : *values) {
        if (!device.write(reg, value))
            return false;
    }
    return true;
}

bool softReset(Device &device) {
    return device.hold() && device.write(chip::kSoftResetRegister, chip::kSoftResetValue);
}

bool sleep(Device &device) {
    if (!device.hold())
        return false;
    const auto control = device.read(chip::kControlRegister);
    return control && device.write(chip::kControlRegister, *control | chip::kSleepBit);
}

LoadOutcome loadSetUp(Device &device, const std::vector<regfile::Entry> &entries) {
    LoadOutcome out;
    if (!device.hold()) {
        for (const regfile::Entry &e : entries)
            out.notHeld.push_back(e.reg);
        return out;
    }
    size_t &written = out.written;
    while (written < entries.size() && device.write(entries[written].reg, entries[written].value))
        ++written;
    for (size_t i = 0; i < entries.size(); ++i) {
        const regfile::Entry &e = entries[i];
        // A register whose write failed or never came is not read: it may
        // hold anything, and its readback would only say so again.
        const auto value = i < written ? device.read(e.reg) : std::nullopt;
        if (value && *value == e.value) {
            out.held.push_back(e.reg);
            continue;
        }
        if (value)
            device.complain(chip::registerLabel(e.reg) + ": wrote " + chip::hexByte(e.value) +
                            ", reads " + chip::hexByte(*value));
        out.notHeld.push_back(e.reg);
    }
    out.ok = out.notHeld.empty();
    return out;
}

std::string describeLoad(const LoadOutcome &outcome) {
    if (outcome.held.empty())
        return "no register holds the file's values";
    if (outcome.notHeld.empty())
        return "every register holds the file's values";
    return registerList(outcome.held) + (outcome.held.size() == 1 ? " holds" : " hold") +
           " the file's values; " + registerList(outcome.notHeld) + " do" +
           (outcome.notHeld.size() == 1 ? "es" : "") + " not";
}

std::vector<Reading> readAll(Device &device) {
    std::vector<Reading> out;
    for (const uint8_t reg : chip::readableRegisters())
        out.push_back({reg, device.read(reg)});
    return out;
}

std::string decoded(uint8_t reg, uint8_t value) {
    std::string out;
    for (const chip::Field *f : chip::fieldsOf(reg))
        out += (out.empty() ? "" : ", ") + std::string(f->name) + "=" +
               chip::fieldText(*f, f->valueIn(value));
    return out;
}

nlohmann::ordered_json decodedJson(uint8_t reg, uint8_t value) {
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (const chip::Field *f : chip::fieldsOf(reg)) {
        const unsigned v = f->valueIn(value);
        if (f->choices.empty())
            fields[f->name] = v;
        else
            fields[f->name] = chip::fieldText(*f, v);
    }
    return fields;
}

nlohmann::ordered_json dumpJson(const std::vector<Reading> &readings) {
    nlohmann::ordered_json registers = nlohmann::ordered_json::array();
    for (const Reading &r : readings) {
        const chip::Register &info = *chip::findRegister(r.reg);
        registers.push_back(
            {{"address", r.reg},
             {"name", info.name},
             {"access", chip::accessText(info.access)},
             {"value", r.value ? nlohmann::ordered_json(*r.value) : nlohmann::ordered_json()},
             {"fields", r.value ? decodedJson(r.reg, *r.value) : nlohmann::ordered_json()}});
    }
    return {{"registers", registers}};
}

} // namespace board
