// SPDX-License-Identifier: MIT
// How a bench wires its bridges' GPIO lines to the evaluation boards,
// written once per user ($XDG_CONFIG_HOME/xq4620/bench.conf, else
// ~/.config/xq4620/bench.conf), a section per bridge by its name:
//
//   # The board on the MCP2221 with serial A1: its load switch on GP2.
//   [usb:A1]
//   supply = GP2        # "!GP2" when the switch is active-low
//   settle-ms = 50      # after power-up, before the first access
//   hold = GP0=1 GP3=0  # further lines the set-up holds at a level
//
// A file is checked whole, like a register file: any bad line and nothing
// of it is used (and nothing driven). VTX_SUPPLY=GP2 (or !GP2) stands in
// for the supply line of every bridge for one run.
#ifndef VTX_GPIO_BENCH_DESCRIPTION_H
#define VTX_GPIO_BENCH_DESCRIPTION_H

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vtx::gpio {

// A line as a person names it: "GP2" (MCP2221), "GPIO.5" (CP2112).
struct Line {
    std::string name;
    bool activeLow = false; // for the supply: on is the low level
};

struct Wiring {
    std::optional<Line> supply;
    int settleMs = 0;
    std::vector<std::pair<std::string, int>> hold; // line name, level 0 or 1
    bool empty() const { return !supply && hold.empty(); }
};

struct Problem {
    int line; // 1-based; 0 for the file as a whole
    std::string reason;
};

struct Description {
    std::vector<std::pair<std::string, Wiring>> bridges; // by name, in file order
    std::vector<Problem> problems;
    bool ok() const { return problems.empty(); }
    // The wiring of bridge `name`; nothing when the file has no section for it.
    const Wiring *find(const std::string &name) const;
};

// Checks a description whole: sections named as VTX_ADAPTER names a bridge
// (usb:SERIAL, usb-port:PORT or /dev/i2c-N), each once; keys supply,
// settle-ms (0 to 10000) and hold, each once a section; line names of the
// form GPn or GPIO.n, none used twice in a section.
Description parse(std::string_view text);

// The description at `path`: none at all is an empty description; one that
// cannot be read is a problem on line 0.
Description read(const std::string &path);

// Where this user's description is.
std::string defaultPath();

// "GP2", "!GP2"; nothing (with `reason`) for any other text.
std::optional<Line> parseSupply(std::string_view text, std::string &reason);

// "bench.conf line 3: ..." for messages.
std::string describe(const std::string &path, const Problem &problem);

// The wiring the set-up of bridge `name` uses: the file's section, with
// VTX_SUPPLY (when set) for its supply line. Nothing and `problem` set when
// the file or VTX_SUPPLY is bad; an empty Wiring when nothing is described.
std::optional<Wiring> wiringFor(const std::string &name, std::string &problem);

} // namespace vtx::gpio

#endif
