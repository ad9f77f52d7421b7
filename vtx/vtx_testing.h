// SPDX-License-Identifier: MIT
// Test hooks of the adapter library's front end. Board-level controls (unplug,
// fault flags, chip registers, power) are in vtx/sim.h.
//
// Typical fixture:
//     void SetUp() override {
//         vtx::test::reset();
//         vtx::test::setTraceSink([this](const std::string &line) { calls.push_back(line); });
//     }
#ifndef VTX_VTX_TESTING_H
#define VTX_VTX_TESTING_H

#include <cstdint>
#include <functional>
#include <string>

namespace vtx::test {

// One entry per library function, named after it without the "vtx" prefix.
enum class Call {
    FindControllers,
    GetSerialNumber,
    Open,
    FirmwareVersion_Read,
    I2C_Control,
    GPIO_WriteControl,
    Power_WriteControl,
    I2C_RegisterWrite,
    I2C_RegisterRead,
    Lock,
    Unlock,
};

// From now on `call` returns `result` instead of reaching the backend, until
// cleared or reset. Handle and argument checks still come first, so a bad
// handle still gives -EBADF. The backend sees nothing: a forced open hands
// out no handle, a forced power call switches nothing, and output buffers
// stay as the front end cleared them (zeroed version bytes, empty serial).
// A "failure" of FindControllers is forceResult(Call::FindControllers, 0).
// Any value may be forced, e.g. 0x1A5 from I2C_RegisterRead.
void forceResult(Call call, int32_t result);
void clearForcedResult(Call call);
// The same for I2C_RegisterWrite or I2C_RegisterRead of register `reg` only
// (ahead of forceResult); cleared by reset().
void forceResultAt(Call call, uint8_t reg, int32_t result);

// Back to the state of a fresh process: the backend choice and VTX_TRACE are
// forgotten (both are read again from the environment by the next call),
// handles are gone, forced results cleared, the trace sink removed, and the
// simulated board is plugged in, unpowered, with the chip at reset values.
void reset();

// Receives every trace line, exactly as written to VTX_TRACE but without the
// newline, in addition to that file. An empty function removes the sink.
using TraceSink = std::function<void(const std::string &line)>;
void setTraceSink(TraceSink sink);

} // namespace vtx::test

#endif
