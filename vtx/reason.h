// SPDX-License-Identifier: MIT
// The one place where a negative result of the adapter library becomes words:
// what went wrong and what to do about it, as a person at the bench reads it.
// The command, the panel and the library's own messages all come here.
#ifndef VTX_REASON_H
#define VTX_REASON_H

#include <cstdint>
#include <string>

namespace vtx {

// What the `driver` key means for the simulated board, which has no kernel
// driver of its own.
inline constexpr char kSimDriver[] = "sim";

// The sentence for `result`, a negative errno value returned by a call that
// addressed the chip at 7-bit address `device` (-1 for a call that addressed
// no chip) through an adapter whose kernel driver is `driver`, by the name
// it has in sysfs ("" when unknown). The same code means different things
// from different bridge drivers: the CP2112's driver reports an address
// nobody acknowledged as a timeout, the FT260's as an input/output error.
// "what went wrong: what to do"; a non-negative result gives
// "unexpected result N".
std::string reason(int32_t result, int device = -1, const std::string &driver = {});

} // namespace vtx

#endif
