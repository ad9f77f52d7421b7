// SPDX-License-Identifier: MIT
// The evaluation board's set-up, written once: find the first adapter, open
// it, read its firmware version, then the bus, GPIO and supply settings the
// board is wired for. The panel's link and the command both run it and turn
// its results into their own status codes and messages.
#ifndef LINK_BOARD_SETUP_H
#define LINK_BOARD_SETUP_H

#include <cstdint>
#include <string>

#include "vtx/vtx.h"

// One step's library result and, when it failed, the library's sentence for
// it, taken before the next step could replace it.
struct SetUpStep {
    int32_t result = 0;
    std::string why;
    bool failed() const { return result < 0; }
};

struct BoardSetUp {
    // vtxFindControllers: the number of adapters; vtx::kNotUnique (and no
    // further step) when it found several USB-to-I2C bridges, which only
    // detection does: the set-up never picks one of them.
    SetUpStep found;
    SetUpStep serial;  // not tried when none was found
    SetUpStep open;    // not tried unless the serial was read; > 0: the handle
    SetUpStep version; // tried with whatever handle there is
    // The adapter's firmware bytes (major, minor, second major, second minor).
    uint8_t firmware[4] = {};
    // Not tried when the version read failed; otherwise all three are.
    SetUpStep bus, gpio, power;

    // Whether every step was tried and none failed.
    bool ok() const;
};

// Runs the set-up. `handle` is replaced by vtxOpen's result once the serial
// was read; the later steps use whatever it holds then (0, or a handle from
// before, when nothing was opened). `serial` (VTX_SERIAL_SIZE bytes) gets the
// adapter's serial number.
// Without `switchSupply` the supply is left as it is (power is then not
// tried): for a program that only looks at it.
BoardSetUp SetUpBoard(int32_t &handle, char *serial, bool switchSupply = true);

#endif
