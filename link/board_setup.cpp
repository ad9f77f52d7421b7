// SPDX-License-Identifier: MIT
#include "link/board_setup.h"

#include <cerrno>

#include "vtx/adapters.h"

namespace {

// The board is wired for exactly these: the adapter's I2C master at its
// default speed without its pull-ups, the GPIO pins as the board uses them,
// and the supply output on.
constexpr int32_t kI2cSpeed = 0, kI2cPullups = 0, kI2cEnable = 1;
constexpr int32_t kSupplyOn = 1, kSupplyVoltage = 0;

SetUpStep Step(int32_t result) {
    SetUpStep step;
    step.result = result;
    if (result < 0) {
        char text[512] = {};
        if (vtxLastError(text, sizeof text) == result)
            step.why = text;
    }
    return step;
}

} // namespace

bool BoardSetUp::ok() const {
    return found.result > 0 && !serial.failed() && open.result > 0 && !version.failed() &&
           !bus.failed() && !gpio.failed() && !power.failed();
}

BoardSetUp SetUpBoard(int32_t &handle, char *serial, bool switchSupply) {
    BoardSetUp s;
    s.found = Step(vtxFindControllers());
    // Several bridges and none named: nobody guesses which board is ours.
    if (s.found.result > 1) {
        s.found.result = vtx::kNotUnique;
        s.found.why = vtx::severalBridges(vtx::listAdapters());
        s.version = s.found;
        return s;
    }
    // A board another program holds past the wait would only make each
    // further step wait as long again.
    if (s.found.result != 0 && s.found.result != -EBUSY) {
        s.serial = Step(vtxGetSerialNumber(0, serial));
        if (!s.serial.failed()) {
            s.open = Step(vtxOpen(serial));
            handle = s.open.result;
        }
    }
    uint8_t version[8] = {};
    s.version = Step(vtxFirmwareVersion_Read(handle, version, 5));
    if (s.version.failed())
        return s;
    for (int i = 0; i < 4; ++i)
        s.firmware[i] = version[i];
    s.bus = Step(vtxI2C_Control(handle, kI2cSpeed, kI2cPullups, kI2cEnable));
    s.gpio = Step(vtxGPIO_WriteControl(handle, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0));
    if (switchSupply)
        s.power = Step(vtxPower_WriteControl(handle, kSupplyOn, kSupplyVoltage));
    return s;
}
