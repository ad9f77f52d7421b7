// SPDX-License-Identifier: MIT
// The interface every adapter backend implements. The front end (vtx.cpp)
// checks handles and arguments, traces, and dispatches to the one backend
// chosen at the first vtxFindControllers call; a backend never sees a handle,
// only its own adapter index returned by open().
#ifndef VTX_BACKEND_H
#define VTX_BACKEND_H

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vtx/gpio/bridge_lines.h"

namespace vtx {

using GpioConfig = std::array<int32_t, 13>;

class Backend {
public:
    virtual ~Backend() = default;

    virtual int32_t findControllers() = 0;
    // Serial text of adapter `index` (at most VTX_SERIAL_SIZE - 1 characters).
    virtual int32_t serialNumber(int32_t index, std::string &serial) = 0;
    // Opens the adapter with that serial; returns the backend's own adapter
    // index (>= 0) or a negative error.
    virtual int32_t open(const std::string &serial) = 0;
    // `buffer` holds `length` >= 4 bytes, zeroed by the caller.
    virtual int32_t firmwareVersion(int32_t adapter, uint8_t *buffer, int32_t length) = 0;
    virtual int32_t i2cControl(int32_t adapter, int32_t speed, int32_t pullups, int32_t enable) = 0;
    virtual int32_t gpioWriteControl(int32_t adapter, const GpioConfig &cfg) = 0;
    virtual int32_t powerWriteControl(int32_t adapter, int32_t supplyOn, int32_t voltage) = 0;
    virtual int32_t registerWrite(int32_t adapter, uint16_t device, uint8_t reg, uint8_t value) = 0;
    virtual int32_t registerRead(int32_t adapter, uint16_t device, uint8_t reg) = 0;
    // The kernel driver behind `adapter`, by its sysfs name, for putting its
    // error codes into words (vtx/reason.h); "" when unknown.
    virtual std::string driver(int32_t) const { return {}; }
    // Holds the adapter against our other programs until unlock(): the
    // front end counts nesting and calls these only for the outermost hold.
    // Every single call above takes the same hold for itself, waiting at
    // most detail::kCallWaitMs, unless the adapter is held already.
    virtual int32_t lock(int32_t adapter, int32_t timeoutMs) = 0;
    virtual int32_t unlock(int32_t adapter) = 0;
    // In the child of a fork(), before its first call: the descriptors are
    // its parent's, and so are their locks. A backend reopens what it needs,
    // so that the child's holds are its own and letting go of one never
    // ends the parent's; it holds nothing.
    virtual void afterFork() {}
    // Where `adapter` is now ("/dev/i2c-9", "sim:bench"), for people.
    virtual std::string where(int32_t adapter) const = 0;
    // Whether `adapter` was pulled out and is not back yet; while it is, a
    // descriptor (or -1) that becomes readable when a device event may have
    // brought it back (vtx/adapters.h).
    virtual bool unplugged(int32_t) const { return false; }
    virtual int replugEvents(int32_t) const { return -1; }
    virtual bool reopens(int32_t) const { return false; }
    // The board's supply as the bench wires it (vtx/bench_gpio.h): 1 on,
    // 0 off, -ENODATA when no supply line is described.
    virtual int32_t supplyState(int32_t) { return -ENODATA; }
    // The bridge's GPIO lines, and one of them driven at `value`.
    virtual int32_t lineStates(int32_t, std::vector<gpio::LineState> &) { return -EOPNOTSUPP; }
    virtual int32_t setLine(int32_t, const std::string &, int, bool) { return -EOPNOTSUPP; }
};

// The simulated evaluation board, the process's own.
std::unique_ptr<Backend> makeSimBackend();

// The simulated board `name`, shared by every process of this user that
// names it. Nothing (after one line on standard error saying why) when the
// name or the place its state is kept is refused.
std::unique_ptr<Backend> makeSharedSimBackend(const std::string &name);

// Linux i2c-dev. With an empty `namedBus` only buses whose adapter is bound to
// a known USB-to-I2C bridge driver under `sysfsRoot` count; otherwise exactly
// the named bus (e.g. /dev/i2c-1).
std::unique_ptr<Backend> makeI2cDevBackend(const std::string &namedBus,
                                           const std::string &sysfsRoot = "/sys");

} // namespace vtx

#endif
