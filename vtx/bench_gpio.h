// SPDX-License-Identifier: MIT
// The board's supply and the bridge's GPIO lines as the bench wires them
// (vtx/gpio/bench_description.h), for `xq4620 power`, `xq4620 gpio`, the
// Python module and the panel's Board Supply. The supply itself is switched
// by vtxPower_WriteControl, as the set-up switches it.
#ifndef VTX_BENCH_GPIO_H
#define VTX_BENCH_GPIO_H

#include <cstdint>
#include <string>
#include <vector>

#include "vtx/gpio/bridge_lines.h"

namespace vtx {

// 1 when the board's supply is on, 0 when off; -ENODATA when the bench
// describes no supply line for the adapter (the board is powered on its
// own); another negative result, with its reason for vtxLastError.
int32_t supplyState(int32_t handle);

// Every GPIO line of the adapter's bridge: name, direction, level and who
// holds it. -EOPNOTSUPP for an adapter without GPIO lines.
int32_t lineStates(int32_t handle, std::vector<gpio::LineState> &states);

// Drives line `name` ("GP1") at `value` (0 or 1) and keeps holding it while
// the program runs; the supply line is refused (-EPERM) unless `force`.
int32_t setLine(int32_t handle, const std::string &name, int value, bool force);

} // namespace vtx

#endif
