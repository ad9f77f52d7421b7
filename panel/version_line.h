// SPDX-License-Identifier: MIT
// The version line: both firmware bytes, each nibble in decimal.
#ifndef PANEL_VERSION_LINE_H
#define PANEL_VERSION_LINE_H

#include <QString>
#include <cstdint>

// "Version: USB RFW:2.5; FFW:1.3" for the bytes 0x25 and 0x13.
QString VersionLine(uint8_t firmware, uint8_t firmware2);

#endif
