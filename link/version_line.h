// SPDX-License-Identifier: MIT
// The adapter's version as the panel's version line and the command show it.
#ifndef LINK_VERSION_LINE_H
#define LINK_VERSION_LINE_H

#include <cstdint>
#include <string>

// "Version: USB RFW:2.5; FFW:1.3" for the firmware bytes 0x25 and 0x13: each
// nibble in decimal.
std::string LinkVersionLine(uint8_t firmware, uint8_t firmware2);

#endif
