// SPDX-License-Identifier: MIT
// The simulated evaluation board: one adapter that powers and talks to one
// XQ4620. It is what a user runs the panel on without hardware, so it accepts
// exactly the set-up the panel performs and answers like the chip does. The
// board is the process's own (VTX_ADAPTER=sim) or kept in a file that every
// process naming it shares (VTX_ADAPTER=sim:NAME).
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
#include "vtx/file_lock.h"
#include "vtx/internal.h"
#include "vtx/reason.h"
#include "vtx/shared_board.h"
#include "vtx/sim.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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
    bool powered = false; // the adapter's supply output
    // Fault inputs (vtx/sim.h): the board's own supply cut off, and how many
    // register reads and writes are still to fail.
    bool cut = false;
    uint16_t failReads = 0;
    uint16_t failWrites = 0;
    Xq4620 chip;

    bool chipPowered() const { return powered && !cut; }
    // The chip's power-on reset: only rising power reloads the registers,
    // so a second program joining a shared board that is on finds the chip
    // as the first one left it.
    void setPower(bool adapterOn, bool boardCut) {
        const bool was = chipPowered();
        powered = adapterOn;
        cut = boardCut;
        if (!was && chipPowered())
            chip.loadResetValues();
    }
};

// One physical board per process; never destroyed, so nothing can reach it
// after static destruction.
Board &board() {
    static Board *b = new Board;
    return *b;
}

// A board's state as a shared board's file holds it.
constexpr std::array<uint8_t, 8> kStateMagic = {'X', 'Q', 'S', 'I', 'M', '1', '\n', 0};
constexpr size_t kFaultsAt = kStateMagic.size() + 2 + 256;
constexpr size_t kStateSize = kFaultsAt + 5;
using State = std::array<uint8_t, kStateSize>;

State encode(Board &b) {
    State s{};
    std::copy(kStateMagic.begin(), kStateMagic.end(), s.begin());
    s[8] = b.plugged;
    s[9] = b.powered;
    for (size_t reg = 0; reg < 256; ++reg)
        s[10 + reg] = b.chip[static_cast<uint8_t>(reg)];
    s[kFaultsAt] = b.cut;
    s[kFaultsAt + 1] = static_cast<uint8_t>(b.failReads >> 8);
    s[kFaultsAt + 2] = static_cast<uint8_t>(b.failReads);
    s[kFaultsAt + 3] = static_cast<uint8_t>(b.failWrites >> 8);
    s[kFaultsAt + 4] = static_cast<uint8_t>(b.failWrites);
    return s;
}

// The board a shared board's file holds, or why the file holds no board:
// another format, or a state no board can be in (our own programs only ever
// store a plugged-in board whose read-only registers hold the chip's values).
bool decode(const State &s, Board &b, std::string &why) {
    if (!std::equal(kStateMagic.begin(), kStateMagic.end(), s.begin())) {
        why = "it does not begin with XQSIM1: another format";
        return false;
    }
    if (s[8] != 1 || s[9] > 1) {
        why = "its supply bytes hold " + std::to_string(s[8]) + " and " + std::to_string(s[9]) +
              " (a board's hold 1, and 0 or 1)";
        return false;
    }
    b.plugged = true;
    b.powered = s[9] != 0;
    Board fresh;
    for (size_t reg = 0; reg < 256; ++reg) {
        const auto r = static_cast<uint8_t>(reg);
        const uint8_t v = s[10 + reg];
        const Access access = accessOf(r);
        const bool fixed = access == Access::None || access == Access::WriteOnly ||
                           (access == Access::ReadOnly && r != kStatus);
        if ((fixed && v != fresh.chip[r]) || (r == kStatus && (v & ~kStatusFlags))) {
            char text[64];
            std::snprintf(text, sizeof text, "register 0x%02X holds 0x%02X, which the chip cannot",
                          r, v);
            why = text;
            return false;
        }
        b.chip[r] = v;
    }
    if (s[kFaultsAt] > 1) {
        why = "its supply-cut byte holds " + std::to_string(s[kFaultsAt]) + " (0 or 1)";
        return false;
    }
    b.cut = s[kFaultsAt] != 0;
    b.failReads = static_cast<uint16_t>(s[kFaultsAt + 1] << 8 | s[kFaultsAt + 2]);
    b.failWrites = static_cast<uint16_t>(s[kFaultsAt + 3] << 8 | s[kFaultsAt + 4]);
    return true;
}

class SimBackend final : public Backend {
public:
    // Without a file, the process's own board; with one, the board every
    // process naming it shares.
    explicit SimBackend(std::unique_ptr<detail::SharedBoardFile> shared = nullptr)
        : shared_(std::move(shared)) {}

    template <typename F> int32_t onBoard(F &&call) { return withBoard(call); }

    int32_t findControllers() override {
        return withBoard([](Board &b) { return b.plugged ? 1 : 0; });
    }

    int32_t serialNumber(int32_t index, std::string &serial) override {
        return withBoard([&](Board &b) {
            if (!b.plugged || index != 0)
                return -ENODEV;
            serial = sim::kSerial;
            return 0;
        });
    }

    int32_t open(const std::string &serial) override {
        return withBoard(
            [&](Board &b) { return b.plugged && serial == sim::kSerial ? 0 : -ENODEV; });
    }

    int32_t firmwareVersion(int32_t adapter, uint8_t *buffer, int32_t length) override {
        return withBoard([&](Board &b) {
            if (int32_t r = reachable(b, adapter); r < 0)
                return r;
            std::memcpy(buffer, kFirmware.data(), std::min<size_t>(length, kFirmware.size()));
            return 0;
        });
    }

    int32_t i2cControl(int32_t adapter, int32_t speed, int32_t pullups, int32_t enable) override {
        return withBoard([&](Board &b) {
            if (int32_t r = reachable(b, adapter); r < 0)
                return r;
            return speed == kI2cSpeed && pullups == kI2cPullups && enable == kI2cEnable ? 0
                                                                                        : -EINVAL;
        });
    }

    int32_t gpioWriteControl(int32_t adapter, const GpioConfig &cfg) override {
        return withBoard([&](Board &b) {
            if (int32_t r = reachable(b, adapter); r < 0)
                return r;
            return cfg == kGpio ? 0 : -EINVAL;
        });
    }

    int32_t powerWriteControl(int32_t adapter, int32_t supplyOn, int32_t voltage) override {
        return withBoard([&](Board &b) {
            if (int32_t r = reachable(b, adapter); r < 0)
                return r;
            if (supplyOn == 0) {
                b.setPower(false, b.cut);
                return 0;
            }
            if (supplyOn != 1 || voltage != 0)
                return -EINVAL;
            b.setPower(true, b.cut);
            return 0;
        });
    }

    int32_t registerWrite(int32_t adapter, uint16_t device, uint8_t reg, uint8_t value) override {
        return withBoard([&](Board &b) {
            if (int32_t r = chipReachable(b, adapter, device); r < 0)
                return r;
            if (b.failWrites > 0) {
                --b.failWrites;
                return -EIO;
            }
            return b.chip.write(reg, value);
        });
    }

    int32_t registerRead(int32_t adapter, uint16_t device, uint8_t reg) override {
        return withBoard([&](Board &b) {
            if (int32_t r = chipReachable(b, adapter, device); r < 0)
                return r;
            if (b.failReads > 0) {
                --b.failReads;
                return -EIO;
            }
            return b.chip.read(reg);
        });
    }

    std::string driver(int32_t) const override { return kSimDriver; }
    int32_t lineStates(int32_t, std::vector<gpio::LineState> &) override {
        detail::noteProblem("the simulated board has no GPIO lines; its supply is the "
                            "adapter's own switch (xq4620 power)");
        return -EOPNOTSUPP;
    }
    int32_t setLine(int32_t adapter, const std::string &, int, bool) override {
        std::vector<gpio::LineState> none;
        return lineStates(adapter, none);
    }
    // The adapter's own supply switch is the board's supply.
    int32_t supplyState(int32_t adapter) override {
        return withBoard([&](Board &b) {
            if (int32_t r = reachable(b, adapter); r < 0)
                return r;
            return b.powered ? 1 : 0;
        });
    }
    std::string where(int32_t) const override { return shared_ ? "sim:" + shared_->name() : "sim"; }
    // The process's own board has no one to be held against.
    int32_t lock(int32_t adapter, int32_t timeoutMs) override {
        if (adapter != 0)
            return -ENODEV;
        if (!shared_)
            return 0;
        if (const int32_t r = shared_->lock(timeoutMs); r < 0)
            return r;
        held_ = true;
        busy_ = false;
        return 0;
    }

    void afterFork() override {
        held_ = false;
        busy_ = false;
        if (!shared_)
            return;
        std::string why;
        if (auto again = detail::SharedBoardFile::open(shared_->name(), why))
            shared_ = std::move(again);
    }

    int32_t unlock(int32_t adapter) override {
        if (adapter != 0)
            return -ENODEV;
        if (shared_ && held_) {
            held_ = false;
            shared_->unlock();
        }
        return 0;
    }

private:
    // One call on the board, whole: a shared board is locked (unless the
    // caller holds it already), loaded, used and stored back before any
    // other process may touch it. A damaged file is refused, never reset.
    template <typename F> int32_t withBoard(F &&call) {
        if (!shared_)
            return call(board());
        if (!held_) {
            // Once a call gave up on a board another program holds, the
            // next ones try once, until one gets it: a program making many
            // calls fails in one wait, not in one wait each.
            const int32_t r = shared_->lock(busy_ ? 0 : detail::kCallWaitMs);
            busy_ = r == -EBUSY;
            if (r < 0)
                return r;
        }
        const int32_t r = onSharedBoard(call);
        if (!held_)
            shared_->unlock();
        return r;
    }

    template <typename F> int32_t onSharedBoard(F &&call) {
        State before{};
        std::string why;
        Board b;
        switch (shared_->load(before.data(), before.size(), why)) {
        case detail::SharedBoardFile::Loaded::Fresh:
            break;
        case detail::SharedBoardFile::Loaded::Removed:
            detail::noteProblem("simulated board " + shared_->name() + ": its state file " +
                                shared_->path() +
                                " was removed; start the program again for a fresh board");
            return -ESTALE;
        case detail::SharedBoardFile::Loaded::Whole:
            if (decode(before, b, why))
                break;
            [[fallthrough]];
        case detail::SharedBoardFile::Loaded::Damaged: {
            const std::string line = "simulated board " + shared_->name() +
                                     ": its state file is damaged (" + shared_->path() +
                                     "): " + why + "; remove it to start afresh";
            if (!toldDamage_)
                detail::tell(line);
            toldDamage_ = true;
            detail::noteProblem(line);
        }
            return -EUCLEAN;
        }
        int32_t r = call(b);
        const State after = encode(b);
        if (after != before && !shared_->store(after.data(), after.size()))
            r = -EIO;
        return r;
    }

    static int32_t reachable(const Board &b, int32_t adapter) {
        return b.plugged && adapter == 0 ? 0 : -ENODEV;
    }

    // An unpowered chip, like an absent one, leaves the address unacknowledged.
    static int32_t chipReachable(const Board &b, int32_t adapter, uint16_t device) {
        if (int32_t r = reachable(b, adapter); r < 0)
            return r;
        return b.chipPowered() && device == sim::kChipAddress ? 0 : -ENXIO;
    }

    std::unique_ptr<detail::SharedBoardFile> shared_;
    bool held_ = false; // by vtxLock
    bool busy_ = false; // the last single call found the board held too long
    bool toldDamage_ = false;
};

} // namespace

std::unique_ptr<Backend> makeSimBackend() {
    return std::make_unique<SimBackend>();
}

std::unique_ptr<Backend> makeSharedSimBackend(const std::string &name) {
    std::string why;
    auto file = detail::SharedBoardFile::open(name, why);
    if (!file) {
        const std::string line =
            "simulated board " + detail::quoted(name) + " not available: " + why;
        detail::tell(line);
        detail::noteProblem(line);
        return nullptr;
    }
    return std::make_unique<SimBackend>(std::move(file));
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

void plugIn() {
    std::lock_guard lock(detail::libraryMutex());
    board().plugged = true;
}

void freshBoard() {
    detail::resetSimBoard();
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

namespace vtx::sim {
namespace {

SimBackend *simBackendFor(int32_t handle) {
    return dynamic_cast<SimBackend *>(detail::backendFor(handle));
}

// On the board of `handle` (0: the one VTX_ADAPTER chose), as a library
// call; -ENODEV when that is no simulated board. `change` gives 0 or a
// negative result.
template <typename F> int32_t onChosenBoard(int32_t handle, F &&change) {
    return detail::asLibraryCall([&] {
        SimBackend *backend = simBackendFor(handle);
        if (!backend)
            return -ENODEV;
        return backend->onBoard([&](Board &b) { return change(b); });
    });
}

} // namespace

bool simulatedBoardInUse(int32_t handle) {
    std::lock_guard lock(detail::libraryMutex());
    return simBackendFor(handle) != nullptr;
}

int32_t setFaultFlags(uint8_t raise, uint8_t clear, int32_t handle) {
    return onChosenBoard(handle, [&](Board &b) {
        // An unpowered chip latches nothing: the flag would be lost unseen.
        if (raise && !b.chipPowered()) {
            detail::noteProblem("the chip is unpowered, so it cannot raise a fault flag; switch "
                                "the board's supply on first (simulate power on)");
            return -ENXIO;
        }
        b.chip[kStatus] = static_cast<uint8_t>((b.chip[kStatus] & ~clear) | raise) & kStatusFlags;
        return 0;
    });
}

int32_t setBoardSupply(bool on, int32_t handle) {
    return onChosenBoard(handle, [&](Board &b) {
        b.setPower(b.powered, !on);
        return 0;
    });
}

int32_t failNext(int32_t reads, int32_t writes, int32_t handle) {
    if (reads > 0xFFFF || writes > 0xFFFF)
        return -EINVAL;
    return onChosenBoard(handle, [&](Board &b) {
        if (reads >= 0)
            b.failReads = static_cast<uint16_t>(reads);
        if (writes >= 0)
            b.failWrites = static_cast<uint16_t>(writes);
        return 0;
    });
}

} // namespace vtx::sim
