// SPDX-License-Identifier: MIT
// The adapters of a bench by names that last, and what becomes of an open
// adapter that is pulled out and plugged back.
//
// Names (VTX_ADAPTER, --adapter, xq4620.open(), vtxSelectAdapter):
//   sim, sim:NAME     the simulated boards
//   /dev/i2c-N        exactly that bus, whatever it is
//   usb:SERIAL        the USB-to-I2C bridge with that USB serial number, on
//                     whatever bus it has today
//   usb-port:PORT     the bridge in USB port PORT (sysfs's "1-2.3": root hub
//                     1, port 2, then port 3 of the hub there), for bridges
//                     whose serial is empty or shared by every unit
//   "" (unset)        the one USB-to-I2C bridge detection finds; with more
//                     than one, nobody guesses (kNotUnique)
// usb: and usb-port: match only buses detection counts as bridges.
#ifndef VTX_ADAPTERS_H
#define VTX_ADAPTERS_H

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace vtx {

inline constexpr char kSerialPrefix[] = "usb:";
inline constexpr char kPortPrefix[] = "usb-port:";

// One I2C bus of the system, as `xq4620 adapters` lists it.
struct AdapterListing {
    std::string name;    // the VTX_ADAPTER text that names it: usb:A1,
                         // usb-port:1-2.3 when the serial does not pick it
                         // out, /dev/i2c-N for a bus that is no bridge
    std::string bus;     // "i2c-7"
    std::string node;    // "/dev/i2c-7"
    std::string title;   // the kernel's name of the adapter (sysfs "name")
    std::string driver;  // its driver in sysfs ("mcp2221"), "" when none
    std::string product; // a bridge's kind as people call it ("MCP2221"), "" for others
    std::string serial;  // USB serial number, "" when none
    std::string port;    // USB port path ("1-2.3"), "" when not on USB
    bool bridge = false;
    std::string whyNotBridge; // "" for a bridge
    bool mayOpen = false;     // this user may read and write the node
    std::string whyNotOpen;   // "" when mayOpen
    bool automatic = false;   // the one detection takes with VTX_ADAPTER unset
};

// Every bus under <sysfsRoot>/class/i2c-dev, by bus number, with its node
// under `devDir`.
std::vector<AdapterListing> listAdapters(const std::string &sysfsRoot = "/sys",
                                         const std::string &devDir = "/dev");

// The refusal when detection finds several bridges and nobody named one:
// "2 USB-to-I2C bridges: usb:A1 (i2c-7, MCP2221), usb:B2 (i2c-8, CP2112);
// name one with --adapter or VTX_ADAPTER".
std::string severalBridges(const std::vector<AdapterListing> &adapters);

// The bridges of `adapters`, and the refusal's result code.
std::vector<AdapterListing> bridgesOf(const std::vector<AdapterListing> &adapters);
inline constexpr int32_t kNotUnique = -ENOTUNIQ;

// Pulled out and plugged back. When an open bridge goes away (its driver
// says ENODEV, or its bus vanishes from sysfs), its descriptor is closed at
// once, so that the kernel can finish removing it, and every call on it
// fails at once with -ENODEV ("the adapter was unplugged"), without a wait.
// When a bridge of the same name (serial, or port) appears again, the next
// call opens it on its new bus, repeats the set-up calls the program made
// (bus, GPIO, supply) and goes on; the library notices it only through the
// kernel's device events, never by polling. A program that reopens by
// itself (the panel's Reconnect Adapter) turns this off for the process.
void setReopenUnplugged(bool reopen);

// Where `handle`'s adapter is now: "/dev/i2c-9", "sim", "sim:bench"; "" for
// a handle the library did not hand out.
std::string whereIs(int32_t handle);

// Whether `handle`'s adapter is unplugged now (it will be reopened by the
// next call that finds it back).
bool unplugged(int32_t handle);

// Whether `handle`'s adapter, unplugged, is opened again when it is back:
// it was found by its name (not named by a /dev/i2c-N path, whose number
// another adapter may get) and setReopenUnplugged left that on.
bool reopensWhenBack(int32_t handle);

// Waits, without using the processor, until a device event may have
// brought `handle`'s unplugged adapter back: 0 then (or at once when it is
// not unplugged), -ETIMEDOUT after `timeoutMs`, -EINTR when the thread's
// wait check (vtx/interrupt.h) says so, which is asked at the start and
// whenever a signal interrupts the wait. The next call finds out.
int32_t awaitReplug(int32_t handle, int32_t timeoutMs);

} // namespace vtx

#endif
