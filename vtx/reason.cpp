// SPDX-License-Identifier: MIT
#include "vtx/reason.h"

#include "vtx/internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vtx {
namespace {

// "{at}" in a text stands for " at address 0x36" and "{to}" for " to address
// 0x36", or nothing when the call addressed no chip.
struct Row {
    const char *driver; // kernel driver by its sysfs name; nullptr for any
    int error;          // errno value, positive
    const char *what;
    const char *fix;
};

const char kCheckBoard[] = "check the wiring, the address and that the board is powered";
const char kRestart[] = "plug it back in and restart the program";
const char kNoAccess[] =
    "at a desktop, the package's udev rule lets you open a USB-to-I2C bridge (install it, then "
    "plug the adapter in again); elsewhere join the i2c group (sudo usermod -aG i2c $USER) and "
    "log in again; xq4620 doctor says which";

// What each code means coming back from a transfer, as the kernel's USB-to-I2C
// bridge drivers and the USB core beneath them use it:
//  - i2c-tiny-usb: an address nobody acknowledged is ENXIO; any failed USB
//    request (a timeout, an unplugged adapter) is EIO.
//  - hid-mcp2221: ENXIO for an address nobody acknowledged, ETIMEDOUT for a
//    bus or engine timeout and for a bridge that stopped answering (4 s),
//    EAGAIN while its engine is busy, EIO for anything else.
//  - hid-cp2112: its "address not acknowledged" and "bus not free" statuses
//    both become ETIMEDOUT, as does a bridge that stopped answering; EIO for
//    other errors, EPROTO for a bad block length.
//  - hid-ft260: every failed status, the unacknowledged address included,
//    becomes EIO; ETIMEDOUT when a read's data never came (5 s).
//  - the HID bridges pass the USB core's failures on: ENODEV once the device
//    is gone, ESHUTDOWN for a request cut off by the unplug, EHOSTUNREACH
//    while it is being removed, EPROTO or EPIPE for a broken transfer.
//  - i2c-dev itself: EBUSY when a kernel driver holds the address; i2c-stub
//    answers an address with no chip with ENODEV.
// Rows naming a driver come first and win over the general ones.
const Row kRows[] = {
    {"cp2112", ETIMEDOUT,
     "no chip answers{at}, or the transfer timed out (the CP2112 reports both alike)", kCheckBoard},
    {"ft260", EIO,
     "no chip answers{at}, or the transfer failed (the FT260 reports both as an I/O error)",
     kCheckBoard},
    {"i2c-tiny-usb", EIO, "the adapter did not complete the transfer{to} (timed out or unplugged)",
     "check the wiring and the USB cable; an adapter that was unplugged needs a restart of the "
     "program"},
    {"mcp2221", ENODEV, "the adapter was unplugged", kRestart},
    {"cp2112", ENODEV, "the adapter was unplugged", kRestart},
    {"ft260", ENODEV, "the adapter was unplugged", kRestart},
    {kSimDriver, ENODEV, "the adapter was unplugged", kRestart},

    {nullptr, ENXIO, "no chip answers{at}", kCheckBoard},
    {nullptr, EREMOTEIO, "no chip answers{at}", kCheckBoard},
    {nullptr, ENODEV, "no chip answers{at}, or the adapter is gone",
     "check the wiring, the address and that the board is powered; an adapter that was unplugged "
     "needs a restart of the program"},
    {nullptr, ETIMEDOUT, "the transfer{to} timed out",
     "the bus may be held low or the adapter stopped answering: check the wiring and the board's "
     "power, then try again"},
    {nullptr, EAGAIN, "the bus was busy (another master, or the adapter still at work)",
     "try again"},
    {nullptr, EIO, "the transfer{to} failed (I/O error)", kCheckBoard},
    {nullptr, ESHUTDOWN, "the adapter was unplugged or shut down", kRestart},
    {nullptr, EHOSTUNREACH, "the adapter is being removed (unplugged?)", kRestart},
    {nullptr, EPROTO, "the transfer{to} broke off (protocol error)",
     "check the USB cable and the wiring; an adapter that was unplugged needs a restart of the "
     "program"},
    {nullptr, EPIPE, "the adapter refused the request (stalled)",
     "unplug the adapter, plug it back in and restart the program"},
    {nullptr, EBUSY,
     "the chip{at} is busy: a kernel driver has claimed the address, or another program holds the "
     "board",
     "xq4620 doctor names a driver bound there; unbind it, or close the other program"},
    {nullptr, EOPNOTSUPP, "the adapter cannot do SMBus byte-data transfers", "use another adapter"},
    {nullptr, EACCES, "permission denied", kNoAccess},
    {nullptr, EPERM, "permission denied", kNoAccess},
    {nullptr, ENOENT, "no such device node",
     "load the i2c-dev module (sudo modprobe i2c-dev) and check the bus number (ls /dev/i2c-*)"},
    {nullptr, ENOTTY, "not an I2C bus device node", "name one such as /dev/i2c-1"},
    {nullptr, EBADF, "no adapter is open (none was found, or it could not be opened)",
     "xq4620 doctor says why"},
    {nullptr, EINVAL, "invalid argument", ""},
    {nullptr, EINTR, "interrupted while waiting for the board", ""},
    {nullptr, ESTALE, "the simulated board's state file was removed",
     "start the program again for a fresh board"},
    {nullptr, ENOMEM, "out of memory", ""},
};

std::string withAddress(const char *text, int device) {
    std::string out = text;
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(device) & 0x3FF);
    for (const char *word : {"at", "to"}) {
        const std::string mark = std::string("{") + word + "}";
        const size_t at = out.find(mark);
        if (at != std::string::npos)
            out.replace(at, mark.size(),
                        device >= 0 ? std::string(" ") + word + " address " + hex : "");
    }
    return out;
}

const Row *find(int error, const std::string &driver) {
    for (const Row &row : kRows) {
        if (row.error == error && row.driver && driver == row.driver)
            return &row;
    }
    for (const Row &row : kRows) {
        if (row.error == error && !row.driver)
            return &row;
    }
    return nullptr;
}

} // namespace

std::string reason(int32_t result, int device, const std::string &driver) {
    if (result >= 0)
        return "unexpected result " + std::to_string(result);
    // INT32_MIN has no positive errno; it is nothing the library returns.
    if (result == INT32_MIN)
        return "unexpected result " + std::to_string(result);
    const int error = static_cast<int>(-result);
    const Row *row = find(error, driver);
    if (!row)
        return std::strerror(error);
    std::string text = withAddress(row->what, device);
    if (*row->fix)
        text += std::string(": ") + row->fix;
    return text;
}

void detail::noteProblem(const std::string &line) {
    notedProblem() = line;
}

namespace {

// Each thread's own, so that a call never gives the reason another thread's
// call noted while it waited. A call made after the thread's line is gone
// (from a static destructor at exit) gets a line of its own.
struct NotedLine {
    std::string text;
    bool alive = true;
    ~NotedLine() { alive = false; }
};
thread_local NotedLine noted;

} // namespace

bool &detail::reopenUnplugged() {
    static bool reopen = true;
    return reopen;
}

std::string &detail::notedProblem() {
    static auto *orphan = new std::string; // never destroyed, like the library
    return noted.alive ? noted.text : *orphan;
}

} // namespace vtx
