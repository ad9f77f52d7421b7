// SPDX-License-Identifier: MIT
// What the simulated board and the process look like from a test: the exact
// start-up conversation the panel holds with a fresh board, and a way back
// to a fresh process.
#ifndef TESTS_SUPPORT_SIM_SESSION_H
#define TESTS_SUPPORT_SIM_SESSION_H

#include <string>
#include <vector>

#include "link/link.h"
#include "panel/register_map.h"
#include "vtx/vtx_testing.h"

namespace sim_session {

// Finding, opening and setting up the simulated adapter, as traced.
inline const std::vector<std::string> kSetUpCalls = {
    "vtxFindControllers() = 1",
    "vtxGetSerialNumber(0, \"SIM-0001\") = 0",
    "vtxOpen(\"SIM-0001\") = 1",
    "vtxFirmwareVersion_Read(1, 5) = 0 [02 05 01 03 00]",
    "vtxI2C_Control(1, 0, 0, 1) = 0",
    "vtxGPIO_WriteControl(1, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0) = 0",
    "vtxPower_WriteControl(1, 1, 0) = 0",
};

// The readback of a chip at its reset values, in readback order.
inline const std::vector<std::string> kFreshReadback = {
    "vtxI2C_RegisterRead(1, 0x36, 0x00) = 192", "vtxI2C_RegisterRead(1, 0x36, 0x01) = 24",
    "vtxI2C_RegisterRead(1, 0x36, 0x02) = 56",  "vtxI2C_RegisterRead(1, 0x36, 0x03) = 0",
    "vtxI2C_RegisterRead(1, 0x36, 0x04) = 0",   "vtxI2C_RegisterRead(1, 0x36, 0x05) = 31",
    "vtxI2C_RegisterRead(1, 0x36, 0x06) = 31",  "vtxI2C_RegisterRead(1, 0x36, 0x07) = 0",
    "vtxI2C_RegisterRead(1, 0x36, 0x08) = 0",   "vtxI2C_RegisterRead(1, 0x36, 0x09) = 0",
    "vtxI2C_RegisterRead(1, 0x36, 0x0A) = 70",  "vtxI2C_RegisterRead(1, 0x36, 0x0B) = 32",
    "vtxI2C_RegisterRead(1, 0x36, 0x12) = 1",
};

// The library, the board, the device link and the panel's registers back to
// the state of a fresh process.
inline void ResetProcessState() {
    vtx::test::reset();
    g_hLink = 0;
    g_fwMajor2 = 0;
    g_fwMinor2 = 0;
    for (int32_t &last : g_lastSent)
        last = 0;
    for (int32_t &shadow : g_shadow)
        shadow = 0;
}

} // namespace sim_session

#endif
