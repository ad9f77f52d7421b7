// SPDX-License-Identifier: MIT
// The device link: the one adapter the panel talks through, opened once and
// held until the process ends, and single-register access on the chip.
#ifndef LINK_LINK_H
#define LINK_LINK_H

#include <cstdint>
#include <string>

#include "vtx/vtx.h"

// Result of LinkOpen: 0 success; 2 version read failed; 3 bus set-up failed;
// 4 GPIO set-up failed; 5 power set-up failed.
using LinkStatus = uint8_t;

extern int32_t g_hLink;
extern char g_linkSerial[VTX_SERIAL_SIZE];
extern uint8_t g_fwMajor2;
extern uint8_t g_fwMinor2;

// Finds, opens and sets up the adapter. On 0 and on 3..5 `firmware` holds the
// adapter firmware version, major in the high nibble; on 2 it is not written.
LinkStatus LinkOpen(uint8_t *firmware);

// The second firmware version byte, packed the same way. Never fails.
bool LinkFirmwareVersion(uint8_t *firmware2);

// Both return true on failure.
bool LinkWriteRegister(uint8_t device, uint8_t reg, uint8_t value);
// On failure `value` is left exactly as the caller set it.
bool LinkReadRegister(uint8_t device, uint8_t reg, uint8_t *value);

// Why the last adapter-library call that failed, failed: its result (0 when
// none has) and, in `why`, the sentence a person reads for it.
int32_t LinkLastError(std::string *why);

#endif
