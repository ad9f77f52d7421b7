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
// on it fails; the board loses power. plugIn() or vtx::test::reset() plugs
// it back.
void unplug();

// Plugs the adapter's cable back in: the board is found again, unpowered
// until the next set-up switches its supply on.
void plugIn();

// A new board in place of the process's own: plugged in, unpowered, the
// chip at its reset values.
void freshBoard();

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

// The fault inputs of a simulated board: the one `handle` was opened on, or
// with handle 0 the one VTX_ADAPTER chose (by the library's first call):
// the process's own (sim), or the shared board NAME, which every program on
// it then sees faulty. They model the chip's fault flags and the board's
// supply, not the chip's analogue behaviour. Each returns 0; -ENODEV when
// that adapter is no simulated board (or no call has chosen one yet); or
// what a shared board's file answered.
bool simulatedBoardInUse(int32_t handle = 0);

// Sets the `raise` flags (kOcp | kOvp | kTsd) of Interrupt Status and clears
// the `clear` ones. The chip latches them: they also go with a software
// reset or a power cycle. Raising one on an unpowered chip is -ENXIO, with
// the reason for vtxLastError.
int32_t setFaultFlags(uint8_t raise, uint8_t clear, int32_t handle = 0);

// The board's own supply: cut off, the chip acknowledges nothing, whatever
// the adapter's supply output does; restored, the chip starts from its reset
// values if the adapter's output is on.
int32_t setBoardSupply(bool on, int32_t handle = 0);

// The next `reads` register reads and `writes` register writes (each up to
// 65535) fail with -EIO, as transfers the chip broke off; 0 ends it. A
// negative count leaves that one as it is.
int32_t failNext(int32_t reads, int32_t writes, int32_t handle = 0);

} // namespace vtx::sim

#endif
