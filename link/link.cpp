// SPDX-License-Identifier: MIT
#include "link/link.h"

int32_t g_hLink = 0;
char g_linkSerial[VTX_SERIAL_SIZE] = {};
uint8_t g_fwMajor2 = 0;
uint8_t g_fwMinor2 = 0;

LinkStatus LinkOpen(uint8_t *firmware) {
    // The handle is only replaced after a good serial query; a failed open
    // keeps whatever vtxOpen returned, and every later call passes it on.
    if (vtxFindControllers() != 0) {
        if (vtxGetSerialNumber(0, g_linkSerial) >= 0)
            g_hLink = vtxOpen(g_linkSerial);
    }

    uint8_t version[8] = {};
    if (vtxFirmwareVersion_Read(g_hLink, version, 5) < 0)
        return 2;
    g_fwMajor2 = version[2];
    g_fwMinor2 = version[3];
    *firmware = static_cast<uint8_t>((version[0] << 4) + version[1]);

    // All three set-up calls are made; the last failure in this order wins.
    LinkStatus status = 0;
    if (vtxI2C_Control(g_hLink, 0, 0, 1) < 0)
        status = 3;
    if (vtxGPIO_WriteControl(g_hLink, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0) < 0)
        status = 4;
    if (vtxPower_WriteControl(g_hLink, 1, 0) < 0)
        return 5;
    return status;
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
