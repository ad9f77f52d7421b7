// The simulated evaluation board: one adapter that powers and talks to one
// XQ4620. It is what a user runs the panel on without hardware, so it accepts
// exactly the set-up the panel performs and answers like the chip does.
//
// Chip register model (address 0x36):
//   0x00-0x08  read/write; reset values C0 18 38 00 00 1F 1F 00 00
//   0x09       Interrupt Status, read-only: bit 2 OCP, bit 1 OVP, bit 0 TSD;
//              latched, cleared only by a software reset or a power cycle
//   0x0A 0x0B  read-only part number, 0x46 0x20 ("4620")
//   0x0F       write-only software reset: writing 1 restores every reset
//              value (0x09 cleared); other values do nothing; reads 0
//   0x12       read-only silicon revision, 0x01
// Writes to read-only registers are acknowledged and dropped, as the chip
// does. Every other register, and every other device address, is not
// acknowledged.
#include "vtx/backend.h"
#include "vtx/internal.h"
#include "vtx/sim.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace vtx {
namespace {

constexpr std::array<uint8_t, 5> kFirmware = {2, 5, 1, 3, 0};
// The panel's bus and GPIO set-up; the board is wired for nothing else.
constexpr int32_t kI2cSpeed = 0, kI2cPullups = 0, kI2cEnable = 1;
constexpr GpioConfig kGpio = {0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0};

constexpr uint8_t kStatus = 0x09;
constexpr uint8_t kSoftReset = 0x0F;
constexpr uint8_t kStatusFlags = sim::kOcp | sim::kOvp | sim::kTsd;

enum class Access { None, ReadWrite, ReadOnly, WriteOnly };

Access accessOf(uint8_t reg) {
    if (reg <= 0x08)
        return Access::ReadWrite;
    switch (reg) {
    case kStatus:
    case 0x0A:
    case 0x0B:
    case 0x12:
        return Access::ReadOnly;
    case kSoftReset:
        return Access::WriteOnly;
    default:
        return Access::None;
    }
}

class Xq4620 {
public:
    void loadResetValues() {
        regs_.fill(0);
        constexpr uint8_t kControl[] = {0xC0, 0x18, 0x38, 0x00, 0x00, 0x1F, 0x1F, 0x00, 0x00};
        std::copy(std::begin(kControl), std::end(kControl), regs_.begin());
        regs_[0x0A] = sim::kPartHigh;
        regs_[0x0B] = sim::kPartLow;
        regs_[0x12] = sim::kRevision;
    }

    int32_t read(uint8_t reg) const {
        switch (accessOf(reg)) {
        case Access::None:
            return -ENXIO;
        case Access::WriteOnly:
            return 0;
        default:
            return regs_[reg];
        }
    }

    int32_t write(uint8_t reg, uint8_t value) {
        switch (accessOf(reg)) {
        case Access::None:
            return -ENXIO;
        case Access::ReadWrite:
            regs_[reg] = value;
            break;
        case Access::WriteOnly:
            if (value == 1)
                loadResetValues();
            break;
        case Access::ReadOnly:
            break;
        }
        return 0;
    }

    uint8_t &operator[](uint8_t reg) { return regs_[reg]; }

private:
    std::array<uint8_t, 256> regs_{};
};

struct Board {
    Board() { chip.loadResetValues(); }
    bool plugged = true;
    bool powered = false;
    Xq4620 chip;
};

// One physical board per process; never destroyed, so nothing can reach it
// after static destruction.
Board &board() {
    static Board *b = new Board;
    return *b;
}

class SimBackend final : public Backend {
public:
    int32_t findControllers() override { return board().plugged ? 1 : 0; }

    int32_t serialNumber(int32_t index, std::string &serial) override {
        if (!board().plugged || index != 0)
            return -ENODEV;
        serial = sim::kSerial;
        return 0;
    }

    int32_t open(const std::string &serial) override {
        if (!board().plugged || serial != sim::kSerial)
            return -ENODEV;
        return 0;
    }

    int32_t firmwareVersion(int32_t adapter, uint8_t *buffer, int32_t length) override {
        if (int32_t r = reachable(adapter); r < 0)
            return r;
        std::memcpy(buffer, kFirmware.data(), std::min<size_t>(length, kFirmware.size()));
        return 0;
    }

    int32_t i2cControl(int32_t adapter, int32_t speed, int32_t pullups, int32_t enable) override {
        if (int32_t r = reachable(adapter); r < 0)
            return r;
        return speed == kI2cSpeed && pullups == kI2cPullups && enable == kI2cEnable ? 0 : -EINVAL;
    }

    int32_t gpioWriteControl(int32_t adapter, const GpioConfig &cfg) override {
        if (int32_t r = reachable(adapter); r < 0)
            return r;
        return cfg == kGpio ? 0 : -EINVAL;
    }

    int32_t powerWriteControl(int32_t adapter, int32_t supplyOn, int32_t voltage) override {
        if (int32_t r = reachable(adapter); r < 0)
            return r;
        Board &b = board();
        if (supplyOn == 0) {
            b.powered = false;
            return 0;
        }
        if (supplyOn != 1 || voltage != 0)
            return -EINVAL;
        // The chip's power-on reset: only a rising supply reloads the registers.
        if (!b.powered)
            b.chip.loadResetValues();
        b.powered = true;
        return 0;
    }

    int32_t registerWrite(int32_t adapter, uint16_t device, uint8_t reg, uint8_t value) override {
        if (int32_t r = chipReachable(adapter, device); r < 0)
            return r;
        return board().chip.write(reg, value);
    }

    int32_t registerRead(int32_t adapter, uint16_t device, uint8_t reg) override {
        if (int32_t r = chipReachable(adapter, device); r < 0)
            return r;
        return board().chip.read(reg);
    }

private:
    static int32_t reachable(int32_t adapter) {
        return board().plugged && adapter == 0 ? 0 : -ENODEV;
    }

    // An unpowered chip, like an absent one, leaves the address unacknowledged.
    static int32_t chipReachable(int32_t adapter, uint16_t device) {
        if (int32_t r = reachable(adapter); r < 0)
            return r;
        return board().powered && device == sim::kChipAddress ? 0 : -ENXIO;
    }
};

} // namespace

std::unique_ptr<Backend> makeSimBackend() {
    return std::make_unique<SimBackend>();
}

void detail::resetSimBoard() {
    std::lock_guard lock(libraryMutex());
    board() = Board();
}

namespace sim {

void unplug() {
    std::lock_guard lock(detail::libraryMutex());
    board().plugged = false;
    board().powered = false;
}

bool powered() {
    std::lock_guard lock(detail::libraryMutex());
    return board().powered;
}

void raiseInterrupt(uint8_t flags) {
    std::lock_guard lock(detail::libraryMutex());
    board().chip[kStatus] |= flags & kStatusFlags;
}

uint8_t chipRegister(uint8_t reg) {
    std::lock_guard lock(detail::libraryMutex());
    return accessOf(reg) == Access::None ? 0 : board().chip[reg];
}

void setChipRegister(uint8_t reg, uint8_t value) {
    std::lock_guard lock(detail::libraryMutex());
    board().chip[reg] = value;
}

} // namespace sim
} // namespace vtx
