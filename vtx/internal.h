// SPDX-License-Identifier: MIT
// Shared between the front end and the simulated board; not for callers.
#ifndef VTX_INTERNAL_H
#define VTX_INTERNAL_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace vtx {
class Backend;
}

namespace vtx::detail {

// Serialises the whole library: the front end's state, the backend behind it
// and the simulated board's test controls. Recursive so that a trace sink may
// look at the board.
std::recursive_mutex &libraryMutex();

// A line the library tells on standard error about a problem (without
// "vtx: "), noted even when it is not printed again, so that vtxLastError can
// give the reason a call failed the way the terminal got it. Kept beside the
// words for error codes (reason.cpp), so that a backend linked on its own
// has it too; only called under the library's lock.
void noteProblem(const std::string &line);
// The last line noted; the front end clears it as each call starts.
std::string &notedProblem();

// Tells `line` through the notice sink (vtx/interrupt.h), or as "vtx: LINE"
// on standard error.
void tell(const std::string &line);

// The deadline of a wait, and whether the waiting thread's interrupt check
// (vtx/interrupt.h) says to give up; asked at most every kInterruptCheckMs.
class WaitClock {
public:
    bool interrupted();

private:
    std::chrono::steady_clock::time_point nextCheck_{};
};

// Caller-supplied text in double quotes, escaped so that a line stays a line
// and a terminal shows it as it is: '"' and '\\' with a backslash, control
// characters as \xNN.
std::string quoted(const std::string &text);

// Runs `call` as the front end runs a library call: serialised, after
// another thread's hold has ended, with its failure kept for vtxLastError.
int32_t asLibraryCall(const std::function<int32_t()> &call);

// Whether an unplugged bridge is opened again by the next call that finds
// it back (vtx::setReopenUnplugged); read and set under the library's lock.
bool &reopenUnplugged();

// The backend of `handle`, or with 0 the one VTX_ADAPTER names (if a call
// has made it); null otherwise. Under the library's lock.
Backend *backendFor(int32_t handle);

// Plugs the simulated board in, unpowered, chip at reset values.
void resetSimBoard();

} // namespace vtx::detail

#endif
