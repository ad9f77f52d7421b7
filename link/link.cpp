// SPDX-License-Identifier: MIT
#include "link/link.h"

#include "link/board_setup.h"

int32_t g_hLink = 0;
char g_linkSerial[VTX_SERIAL_SIZE] = {};
uint8_t g_fwMajor2 = 0;
uint8_t g_fwMinor2 = 0;

LinkStatus LinkOpen(uint8_t *firmware) {
    // The handle is only replaced after a good serial query; a failed open
    // keeps whatever vtxOpen returned, and every later call passes it on.
    const BoardSetUp s = SetUpBoard(g_hLink, g_linkSerial);
    if (s.version.failed())
        return 2;
    g_fwMajor2 = s.firmware[2];
    g_fwMinor2 = s.firmware[3];
    *firmware = static_cast<uint8_t>((s.firmware[0] << 4) + s.firmware[1]);

    // All three set-up calls are made; the last failure in this order wins.
    if (s.power.failed())
        return 5;
    if (s.gpio.failed())
        return 4;
    if (s.bus.failed())
        return 3;
    return 0;
}

bool LinkFirmwareVersion(uint8_t *firmware2) {
    *firmware2 = static_cast<uint8_t>((g_fwMajor2 << 4) + g_fwMinor2);
    return false;
}

bool LinkWriteRegister(uint8_t device, uint8_t reg, uint8_t value) {
    return vtxI2C_RegisterWrite(g_hLink, device, reg, value) != 0;
}

bool LinkReadRegister(uint8_t device, uint8_t reg, uint8_t *value) {
    const int32_t result = vtxI2C_RegisterRead(g_hLink, device, reg);
    if (result < 0)
        return true;
    *value = static_cast<uint8_t>(result & 0xFF);
    return false;
}

int32_t LinkLastError(std::string *why) {
    char text[512] = {};
    const int32_t result = vtxLastError(text, sizeof text);
    if (why)
        *why = text;
    return result;
}
