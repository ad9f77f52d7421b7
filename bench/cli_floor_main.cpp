// SPDX-License-Identifier: MIT
// The floor for the command's start-up: a bare program that links the adapter
// library and makes exactly the library calls of `xq4620 dump` (the set-up,
// then one read of each of the thirteen registers), printing one line a
// register. No command-line parsing, no chip description, no JSON.
#include <cstdint>
#include <cstdio>

#include "vtx/vtx.h"

int main() {
    static const uint8_t kRegisters[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                         0x07, 0x08, 0x09, 0x0A, 0x0B, 0x12};
    char serial[VTX_SERIAL_SIZE] = {};
    uint8_t version[8] = {};
    if (vtxFindControllers() <= 0 || vtxGetSerialNumber(0, serial) < 0)
        return 1;
    const int32_t h = vtxOpen(serial);
    if (vtxFirmwareVersion_Read(h, version, 5) < 0)
        return 1;
    vtxI2C_Control(h, 0, 0, 1);
    vtxGPIO_WriteControl(h, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0);
    if (vtxPower_WriteControl(h, 1, 0) < 0)
        return 1;
    int status = 0;
    for (const uint8_t reg : kRegisters) {
        const int32_t value = vtxI2C_RegisterRead(h, 0x36, reg);
        if (value < 0)
            status = 1;
        std::printf("0x%02X 0x%02X\n", reg, static_cast<unsigned>(value & 0xFF));
    }
    return status;
}
