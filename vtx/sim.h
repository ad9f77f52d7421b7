// SPDX-License-Identifier: MIT
// The simulated evaluation board: one adapter (serial "SIM-0001") wired to an
// XQ4620 at 0x36. A user gets it with VTX_ADAPTER=sim; these functions let
// tests look at and disturb the board from outside, the way a person with a
// probe and a cable could. They act on the one board of the process, whether
// or not the library has chosen the sim backend yet, and never trace.
//
// The board is unpowered until vtxPower_WriteControl(h, 1, 0). Powering up
// starts the chip from its reset values, so anything set below before that is
// lost: raise flags and set registers after the board has been powered.
#ifndef VTX_SIM_H
#define VTX_SIM_H

#include <cstdint>

namespace vtx::sim {

inline constexpr char kSerial[] = "SIM-0001";
inline constexpr uint16_t kChipAddress = 0x36;

// Interrupt Status (register 0x09) flags.
inline constexpr uint8_t kTsd = 0x01;
inline constexpr uint8_t kOvp = 0x02;
inline constexpr uint8_t kOcp = 0x04;

// Read-only identification bytes the simulated chip reports.
inline constexpr uint8_t kPartHigh = 0x46; // register 0x0A
inline constexpr uint8_t kPartLow = 0x20;  // register 0x0B
inline constexpr uint8_t kRevision = 0x01; // register 0x12

// Pulls the adapter's cable: from now on no adapter is found and every call
// on it fails; the board loses power. Only vtx::test::reset() plugs it back.
void unplug();

// Whether the adapter's supply output to the board is on.
bool powered();

// Latches fault flags (kOcp | kOvp | kTsd) into Interrupt Status. They stay
// set until a software reset (register 0x0F) or a power cycle.
void raiseInterrupt(uint8_t flags);

// Direct access to any chip register, read-only ones included, bypassing the
// bus, the power state and the access rules. Registers the chip does not
// have read 0 over this path and are not reachable over the bus.
uint8_t chipRegister(uint8_t reg);
void setChipRegister(uint8_t reg, uint8_t value);

} // namespace vtx::sim

#endif
