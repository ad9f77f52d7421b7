// SPDX-License-Identifier: MIT
// The Linux i2c-dev backend: SMBus byte-data register access on a bus the
// kernel exposes as /dev/i2c-N. Exposed beyond the factory so that tests can
// point it at a fake sysfs tree and a fake /dev directory.
#ifndef VTX_I2CDEV_I2CDEV_BACKEND_H
#define VTX_I2CDEV_I2CDEV_BACKEND_H

#include "vtx/backend.h"
#include "vtx/gpio/bench_description.h"
#include "vtx/gpio/bridge_lines.h"
#include "vtx/i2cdev/detect.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct stat;

namespace vtx::i2cdev {

// Every i2c-dev node has this character major; the minor is the bus number.
constexpr unsigned kI2cDevMajor = 89;

bool isI2cDevNode(const struct stat &st);

enum class NodeCheck { Bus, NotI2cDev, OtherBus };
// Whether the node `st` describes is the i2c-dev node of bus `expectedMinor`.
NodeCheck checkNode(const struct stat &st, int expectedMinor);

// Whether bus `now` is still the bridge `scanned` was: same number, USB
// device, serial and driver.
bool sameBridge(const BusInfo &scanned, const BusInfo &now);

class I2cDevBackend final : public Backend {
public:
    // `namedBus` empty: the USB-to-I2C bridges found under `sysfsRoot`,
    // opened as `devDir`/i2c-N; usb:SERIAL or usb-port:PORT (vtx/adapters.h):
    // the one bridge of that name. Otherwise exactly that device node. One
    // line per kind of trouble goes to `diag`.
    I2cDevBackend(std::string namedBus, std::string sysfsRoot, std::string devDir,
                  std::ostream &diag);
    ~I2cDevBackend() override;
    I2cDevBackend(const I2cDevBackend &) = delete;
    I2cDevBackend &operator=(const I2cDevBackend &) = delete;

    int32_t findControllers() override;
    int32_t serialNumber(int32_t index, std::string &serial) override;
    int32_t open(const std::string &serial) override;
    int32_t firmwareVersion(int32_t adapter, uint8_t *buffer, int32_t length) override;
    int32_t i2cControl(int32_t adapter, int32_t speed, int32_t pullups, int32_t enable) override;
    int32_t gpioWriteControl(int32_t adapter, const GpioConfig &cfg) override;
    int32_t powerWriteControl(int32_t adapter, int32_t supplyOn, int32_t voltage) override;
    int32_t registerWrite(int32_t adapter, uint16_t device, uint8_t reg, uint8_t value) override;
    int32_t registerRead(int32_t adapter, uint16_t device, uint8_t reg) override;
    std::string driver(int32_t adapter) const override;
    // An advisory flock on the opened node, which our programs also take
    // around every single transfer.
    int32_t lock(int32_t adapter, int32_t timeoutMs) override;
    int32_t unlock(int32_t adapter) override;
    void afterFork() override;
    std::string where(int32_t adapter) const override;
    bool unplugged(int32_t adapter) const override;
    int replugEvents(int32_t adapter) const override;
    bool reopens(int32_t adapter) const override;
    int32_t supplyState(int32_t adapter) override;
    int32_t lineStates(int32_t adapter, std::vector<gpio::LineState> &states) override;
    int32_t setLine(int32_t adapter, const std::string &name, int value, bool force) override;

private:
    struct OpenBus {
        std::string path;
        std::string usbDevice; // "" when the bus is not USB-attached
        std::string driver;    // the bus's driver in sysfs, "" when unknown
        int fd = -1;
        int address = -1;  // slave address last set on fd, -1 for none
        bool held = false; // by lock()
        bool busy = false; // the last attempt found the bus held too long
        BusInfo info;      // the bus as it was opened
        // The name that finds the bridge again after a replug (usb:SERIAL,
        // usb-port:PORT); "" for a bus named by its path, which is not
        // looked for again.
        std::string name;
        bool gone = false; // unplugged, descriptor closed
        uint64_t seen = 0; // the device events looked at since then
        // The set-up calls made on it, repeated after a reopen.
        bool setUp[3] = {};
        int32_t i2c[3] = {};
        GpioConfig gpio{};
        int32_t power[2] = {};
        // How the bench wires the bridge's GPIO lines (set by the GPIO
        // set-up), and the lines held for it.
        std::optional<gpio::Wiring> wiring;
        std::shared_ptr<gpio::BridgeLines> lines;
    };

    // Kinds of trouble, each told once per backend.
    enum class Trouble {
        Permission,
        NoNode,
        Access,
        AddressBusy,
        NotI2cDev,
        NoByteData,
        NoSuchSerial,
        NoBuses,
        NoBridge,
        OtherBus,
        BusChanged,
        LabelTooLong,
        NotUnique,
        Unplugged,
        Bench,
        Other,
    };

    void scan();
    // Opens `path`, which must be the i2c-dev node of the bridge `scanned`
    // still (null for a named path: of whichever bus it names when checked).
    int32_t openPath(const std::string &path, const BusInfo *scanned);
    // Opens and checks the node into `b`; 0 or a negative error.
    int32_t openNode(const std::string &path, const BusInfo *scanned, OpenBus &b);
    // After a failed transfer: whether the bridge went away; if it did, its
    // descriptor is closed and every call fails at once from then on.
    bool goneAfter(OpenBus &b, int32_t result);
    // A gone bridge opened again, when device events came since the last
    // look and a bridge of its name is there; false while it is not.
    bool reopen(OpenBus &b);
    // The bus of `adapter` if it is there (reopened if need be); null with
    // `error` set otherwise.
    OpenBus *live(int32_t adapter, int32_t &error);
    // Closes the descriptor of a bus that went away; calls on it fail at
    // once from then on.
    void markGone(OpenBus &b);
    // After device events: whether the bus is still in sysfs as opened; if
    // not, it is gone.
    void noticeRemoval(OpenBus &b);
    void watchDevices();
    // The bench's wiring of bus `b`: its section by the bridge's name, by
    // its serial or port name, or by its path.
    std::optional<gpio::Wiring> wiringOf(const OpenBus &b, std::string &problem) const;
    // b.wiring from the bench description; -EINVAL (told) when it is bad.
    int32_t loadWiring(OpenBus &b);
    // The bridge's gpiochip opened, and the offset of line `name` on it; a
    // negative result (told) when either is not there.
    int32_t lineOf(OpenBus &b, const std::string &name, int &offset);
    int32_t drive(OpenBus &b, const std::string &name, int offset, int value);
    // "usb:A1 (MCP2221)", for messages.
    std::string bridgeOf(const OpenBus &b) const;
    void drainEvents();
    bool devicesChanged(OpenBus &b);
    int32_t refuseOtherNode(const std::string &path, const struct stat &st, int expectedMinor);
    OpenBus *bus(int32_t adapter);
    int32_t selectAddress(OpenBus &b, uint16_t device);
    // The adapter's bus, set to talk to `device`; null with `error` set
    // when the adapter, the address or the selection is no good.
    OpenBus *busFor(int32_t adapter, uint16_t device, int32_t &error);
    // One transfer on the bus, under the hold unless the caller has it.
    template <typename F> int32_t transfer(OpenBus &b, F &&io);
    int32_t failed(OpenBus &b, uint16_t device, int32_t result);
    void tell(Trouble kind, int err, const std::string &line);
    int32_t fromErrno(Trouble fallback, const std::string &path, int err, const std::string &what);

    std::string namedBus_;
    std::string sysfsRoot_;
    std::string devDir_;
    std::ostream &diag_;
    bool scanned_ = false;
    std::vector<Controller> controllers_;
    std::vector<OpenBus> open_;
    std::set<std::pair<int, int>> told_;
    // inotify on devDir_, from the first unplug on: new nodes, and udev
    // changing their permissions.
    int devEvents_ = -1;
    bool quiet_ = false; // tell() says nothing
    uint64_t devGeneration_ = 1;
};

} // namespace vtx::i2cdev

#endif
