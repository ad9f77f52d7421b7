// SPDX-License-Identifier: MIT
// Shared between the front end and the simulated board; not for callers.
#ifndef VTX_INTERNAL_H
#define VTX_INTERNAL_H

#include <mutex>

namespace vtx::detail {

// Serialises the whole library: the front end's state, the backend behind it
// and the simulated board's test controls. Recursive so that a trace sink may
// look at the board.
std::recursive_mutex &libraryMutex();

// Plugs the simulated board in, unpowered, chip at reset values.
void resetSimBoard();

} // namespace vtx::detail

#endif
