// SPDX-License-Identifier: MIT
// The library inside a program that has more to do than wait: giving up a
// wait, and where the library's notices go.
//
// Giving up a wait when the person at the keyboard has had enough. A call
// that waits for a board another program (or another thread) holds asks the
// waiting thread's check about every kInterruptCheckMs; when it says yes, the
// call gives up with -EINTR instead of waiting out its time. The command
// checks a flag its SIGINT and SIGTERM handlers set; the Python module asks
// the interpreter whether Ctrl+C was pressed.
#ifndef VTX_INTERRUPT_H
#define VTX_INTERRUPT_H

#include <cstdint>

namespace vtx {

// True when the wait should end. Called on the waiting thread, inside the
// library: it must not call the library.
using WaitInterrupted = bool (*)();

// The calling thread's check; nullptr (the default) waits every wait out.
void setWaitInterrupt(WaitInterrupted check);

inline constexpr int32_t kInterruptCheckMs = 20;

// Receives each notice the library tells (a wait for a held board, a trace
// file that cannot be opened, a damaged shared board, why a bus was
// refused), one line without "vtx: " and without a newline. Called inside
// the library, on the thread whose call has something to tell: it must not
// call the library.
using NoticeSink = void (*)(const char *line);

// For the whole process; nullptr (the default) writes "vtx: LINE" to
// standard error.
void setNoticeSink(NoticeSink sink);

} // namespace vtx

#endif
