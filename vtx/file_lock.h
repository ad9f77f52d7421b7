// SPDX-License-Identifier: MIT
// Holding an adapter against our other programs: an exclusive flock on the
// descriptor every one of them opens (a shared board's state file, a
// /dev/i2c-N node), taken with a bounded wait so that a program holding it
// for ever (stopped in a debugger, hung) makes the others fail, not hang.
#ifndef VTX_FILE_LOCK_H
#define VTX_FILE_LOCK_H

#include <cstdint>
#include <string>

#include "vtx/vtx.h"

namespace vtx::detail {

// How long a single call waits for an adapter another program holds.
inline constexpr int32_t kCallWaitMs = VTX_CALL_WAIT_MS;
// Waiting longer than this is said on standard error, once per wait.
inline constexpr int32_t kWaitNoticeMs = 1000;

// Takes the lock on `fd` within `timeoutMs` (0: one try). 0 when taken,
// -EBUSY when another open file still held it at the deadline, -errno when
// the lock cannot be had at all. `what` names the adapter in the notice
// "vtx: waiting for WHAT: another program holds it".
int32_t lockWithin(int fd, int32_t timeoutMs, const std::string &what);

void unlockFile(int fd);

} // namespace vtx::detail

#endif
