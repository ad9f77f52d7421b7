// SPDX-License-Identifier: MIT
// What a program does to the board beyond single accesses, each under one
// hold of the board so that no other program of ours gets in between: fields
// changed in place, a register file loaded (and, when that fails part-way,
// what it left behind), the software reset, sleep, and every register read
// and decoded. The command runs these; any other program may.
#ifndef BOARD_OPERATIONS_H
#define BOARD_OPERATIONS_H

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "board/device.h"
#include "chip/xq4620.h"
#include "regfile/register_file.h"

namespace board {

// Each register once, in address order, under one hold of the board; none
// as soon as a read fails (the device has told the failure).
std::optional<std::map<uint8_t, uint8_t>> readEach(Device &device, const std::set<uint8_t> &regs);

// Each register the fields lie in is read once and written once, in address
// order; every bit no field names is written back as read.
bool setFields(Device &device, const std::map<const chip::Field *, unsigned> &changes);

// The software reset: every register to its reset value.
bool softReset(Device &device);

// Sets the Sleep bit of Control; the rest of the register is kept.
bool sleep(Device &device);

struct LoadOutcome {
    bool ok = false;
    size_t written = 0; // writes the chip acknowledged
    // After a failure: the file's registers that read back as the file has
    // them, and those that do not (or could not be read).
    std::vector<uint8_t> held, notHeld;
};

// Writes the entries in address order, then reads each back; a write that
// fails ends the writing, and what was written is still read back, so that
// the outcome says what the chip now holds.
LoadOutcome loadSetUp(Device &device, const std::vector<regfile::Entry> &entries);

// "0x00 to 0x02 hold the file's values; 0x03 to 0x08 do not".
std::string describeLoad(const LoadOutcome &outcome);

struct Reading {
    uint8_t reg;
    std::optional<uint8_t> value; // none when the read failed
};

// Every readable register, in address order; a failed read is told and the
// others are still read.
std::vector<Reading> readAll(Device &device);

// Every field of the register with its value: "sleep=1, ..., ovp=24 V".
std::string decoded(uint8_t reg, uint8_t value);

// The fields of one register as JSON: numbers for plain fields, the choice
// text ("24 V") for coded ones.
nlohmann::ordered_json decodedJson(uint8_t reg, uint8_t value);

// {"registers": [{"address", "name", "access", "value", "fields"}, ...]},
// value and fields null for a register that could not be read.
nlohmann::ordered_json dumpJson(const std::vector<Reading> &readings);

} // namespace board

#endif
