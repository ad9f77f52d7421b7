// SPDX-License-Identifier: MIT
// Watching registers change: the named fields and registers are read again
// and again, and only what changed is reported. The command's `watch` and
// the Python module's Board.watch() both run on this, so that they name,
// show and time-stamp a change the same way.
#ifndef WATCH_WATCH_H
#define WATCH_WATCH_H

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chip/xq4620.h"

namespace watch {

// A field, or a whole register when `field` is null.
struct Target {
    std::string name; // "ovp", or "0x09" for a register
    uint8_t reg;
    const chip::Field *field;
};

// A field by name ('_' taken for '-') or a register as a hex byte. A
// register must be one the chip has and can be read; on refusal `reason`
// says why, in the command's words.
std::optional<Target> parseTarget(std::string_view text, std::string &reason);

// Every register a person can read, in address order: what is watched when
// nothing is named.
std::vector<Target> everyRegister();

struct Event {
    const Target *target;
    std::optional<unsigned> value; // the field's value or the register's byte
    std::string error;             // when the read failed: why, as the command says it
};

// Reads one register; nothing, with `failure` set to the sentence that says
// why ("register 0x03 (Brightness, Bank A): read failed: ..."), when it fails.
using ReadFn = std::function<std::optional<uint8_t>(uint8_t reg, std::string &failure)>;

class Watcher {
public:
    explicit Watcher(std::vector<Target> targets);

    // One round: every register a target lies in is read once, in address
    // order. Returns every target on the first round, then only those whose
    // value changed. A failed read is reported once, when it starts to fail;
    // the next good read reports the value again.
    std::vector<Event> poll(const ReadFn &read);

    // Whether any read has failed so far.
    bool anyFailed() const { return anyFailed_; }
    const std::vector<Target> &targets() const { return targets_; }

private:
    struct Last {
        bool known = false;
        bool failed = false;
        unsigned value = 0;
    };
    std::vector<Target> targets_;
    std::vector<Last> last_;
    bool anyFailed_ = false;
};

// The local time, to the millisecond: "2026-12-08T09:41:02.123".
std::string timestamp();

// "2026-12-08T09:41:02.123 ovp=24V" (a value as `set` takes it back),
// "... 0x03=0x80", "... 0x03: register 0x03 (Brightness, Bank A): read
// failed: ...".
std::string textLine(const std::string &time, const Event &event);

// {"time": ..., "name": "ovp", "value": "24 V"} (an int for a number or a
// register), or {"time", "name", "error"} for a failed read.
nlohmann::ordered_json jsonLine(const std::string &time, const Event &event);

} // namespace watch

#endif
