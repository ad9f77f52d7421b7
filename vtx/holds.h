// SPDX-License-Identifier: MIT
// The holds of vtxLock as threads see them, for a program whose threads
// share one open board (the Python module). A hold belongs to the thread
// that took it: another thread of the same process waits for it as another
// program does. A thread that ends holding the board lets go of it, and the
// child of a fork() holds nothing of its parent's.
#ifndef VTX_HOLDS_H
#define VTX_HOLDS_H

#include <cstdint>
#include <thread>

namespace vtx {

// How many vtxLock calls of the calling thread on `handle` are not yet
// undone; 0 for a handle the library did not hand out.
int32_t heldByThisThread(int32_t handle);

// Undoes one vtxLock that thread `owner` made on `handle`, as vtxUnlock does
// for the caller's own: for closing a board while another thread still
// holds it. -EPERM when `owner` does not hold it, -EBADF for a handle the
// library did not hand out. Not traced.
int32_t unlockFor(int32_t handle, std::thread::id owner);

} // namespace vtx

#endif
