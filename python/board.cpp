// SPDX-License-Identifier: MIT
// xq4620.Board: one evaluation board, opened and set up as the command sets
// it up, with register and field access, register files, reset and sleep.
//
// The adapter library chooses its backend once per process, from
// VTX_ADAPTER at its first call. A board therefore names its adapter when
// none is open in the process; while one is, only the same adapter can be
// opened again. Opening `sim` with no board open gives a fresh private
// simulated board, which is what the pytest fixture relies on.
#include "python/module.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "board/device.h"
#include "board/operations.h"
#include "chip/field_value.h"
#include "chip/hex_byte.h"
#include "chip/xq4620.h"
#include "regfile/register_file.h"
#include "vtx/reason.h"
#include "vtx/sim.h"
#include "vtx/vtx.h"
#include "vtx/vtx_testing.h"
#include "watch/watch.h"

namespace py = pybind11;

namespace xqpy {
namespace {

// Process-wide: which adapter the library was set to, and how many boards
// are open on it.
struct Opened {
    std::string adapter;
    int boards = 0;
};
Opened &opened() {
    static Opened o;
    return o;
}

// The library reads VTX_ADAPTER at its first call after a reset; the
// process's environment is left as it was.
void chooseAdapter(const std::string &adapter) {
    const char *was = std::getenv("VTX_ADAPTER");
    const std::string saved = was ? was : "";
    setenv("VTX_ADAPTER", adapter.c_str(), 1);
    vtx::test::reset();
    vtxFindControllers();
    if (was)
        setenv("VTX_ADAPTER", saved.c_str(), 1);
    else
        unsetenv("VTX_ADAPTER");
}

uint8_t registerArgument(const py::handle &reg) {
    if (py::isinstance<py::str>(reg)) {
        const std::string text = reg.cast<std::string>();
        if (const auto value = chip::parseHexByte(text))
            return *value;
        throw py::value_error("register \"" + text +
                              "\" is not a hex byte (00 to FF, optionally with 0x)");
    }
    if (!py::isinstance<py::int_>(reg) || py::isinstance<py::bool_>(reg))
        throw py::type_error("a register is an int (0 to 255) or a hex byte text");
    const long long value = reg.cast<long long>();
    if (value < 0 || value > 0xFF)
        throw py::value_error("register " + std::to_string(value) + " is not a byte (0 to 255)");
    return static_cast<uint8_t>(value);
}

uint8_t valueArgument(const py::handle &value) {
    if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
        throw py::type_error("a register value is an int (0 to 255)");
    const long long v = value.cast<long long>();
    if (v < 0 || v > 0xFF)
        throw py::value_error("value " + std::to_string(v) + " is not a byte (0 to 255)");
    return static_cast<uint8_t>(v);
}

// Python spells a field with '_' where a person types '-'.
const chip::Field &fieldArgument(const std::string &name) {
    const chip::Field *f = chip::findFieldUnderscored(name);
    if (!f) {
        std::string shown = name; // as the command spells it
        std::replace(shown.begin(), shown.end(), '_', '-');
        throw UnknownName("unknown field \"" + shown + "\" (xq4620.fields() lists them)");
    }
    return *f;
}

py::object fieldValue(const chip::Field &f, unsigned value) {
    if (f.choices.empty())
        return py::int_(value);
    return py::str(chip::fieldText(f, value));
}

std::string pathArgument(const py::handle &path) {
    return py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
}

// "register 0x03 ..." at the start of a message names the register.
std::optional<uint8_t> registerNamedIn(const std::string &message) {
    const std::string prefix = "register ";
    if (message.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return chip::parseHexByte(message.substr(prefix.size(), 4));
}

} // namespace

// One board, opened and set up by the board library as the command does it;
// every failure the library tells is kept and raised as one BoardError.
class Board {
public:
    explicit Board(std::optional<std::string> adapter) {
        std::string name;
        if (adapter) {
            name = *adapter;
        } else if (const char *env = std::getenv("VTX_ADAPTER")) {
            name = env;
        }
        Opened &o = opened();
        if (o.boards > 0 && name != o.adapter)
            throw BoardFailure(EBUSY, std::nullopt, "another adapter is open",
                               "adapter \"" + o.adapter +
                                   "\" is open in this program; close its "
                                   "board before opening \"" +
                                   name + "\"");
        if (o.boards == 0) {
            chooseAdapter(name);
            o.adapter = name;
        }
        ++o.boards;
        open_ = true;
        device_ = std::make_unique<board::Device>(
            [this](const std::string &message) { complaints_.push_back(message); });
        bool ok;
        {
            py::gil_scoped_release unlocked;
            ok = device_->open();
        }
        if (!ok) {
            close();
            fail();
        }
    }
    ~Board() { close(); }
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    void close() {
        if (!open_)
            return;
        open_ = false;
        device_.reset(); // lets go of any hold
        --opened().boards;
    }

    const std::string &adapter() const { return opened().adapter; }
    bool closed() const { return !open_; }

    int read(const py::handle &regArg, bool force) {
        const uint8_t reg = registerArgument(regArg);
        refuse(reg, chip::Access::ReadOnly, force, "reads");
        return *run([&] { return device_->read(reg); });
    }

    void write(const py::handle &regArg, const py::handle &valueArg, bool force) {
        const uint8_t reg = registerArgument(regArg);
        const uint8_t value = valueArgument(valueArg);
        refuse(reg, chip::Access::WriteOnly, force, "writes");
        run([&] { return device_->write(reg, value); });
    }

    py::object get(const std::string &name) {
        const chip::Field &f = fieldArgument(name);
        const uint8_t value = *run([&] { return device_->read(f.reg); });
        return fieldValue(f, f.valueIn(value));
    }

    // Every name and value checked before the bus is touched, as the
    // command checks them.
    void set(const py::kwargs &kwargs) {
        std::map<const chip::Field *, unsigned> changes;
        for (const auto &[key, value] : kwargs) {
            const chip::Field &f = fieldArgument(key.cast<std::string>());
            std::string text;
            if (py::isinstance<py::str>(value))
                text = value.cast<std::string>();
            else if (py::isinstance<py::bool_>(value))
                text = value.cast<bool>() ? "1" : "0";
            else if (py::isinstance<py::int_>(value))
                text = py::str(value).cast<std::string>();
            else
                throw py::type_error(std::string(f.name) + ": a value is an int or a text");
            std::string reason;
            const auto parsed = chip::parseSettableValue(f, text, reason);
            if (!parsed)
                throw py::value_error(reason);
            changes.emplace(&f, *parsed);
        }
        run([&] { return board::setFields(*device_, changes); });
    }

    py::object dump() {
        checkOpen();
        std::vector<board::Reading> readings;
        {
            py::gil_scoped_release unlocked;
            readings = board::readAll(*device_);
        }
        for (const board::Reading &r : readings) {
            if (!r.value)
                fail();
        }
        return toPython(board::dumpJson(readings));
    }

    // Nothing is written unless every set-up register was read.
    void save(const py::handle &pathArg) {
        const std::string path = pathArgument(pathArg);
        std::vector<regfile::Entry> entries;
        run([&] {
            const std::vector<uint8_t> setup = chip::setupRegisters();
            const auto values = board::readEach(*device_, {setup.begin(), setup.end()});
            if (!values) {
                device_->complain(path + ": not written");
                return false;
            }
            for (const auto &[reg, value] : *values)
                entries.push_back({reg, value, 0});
            return true;
        });
        const std::string text = regfile::format(entries, "xq4620 Python module " XQ_VERSION);
        std::string error;
        if (!regfile::write(path, text, error))
            throw BoardFailure(EIO, std::nullopt, error, path + ": " + error);
    }

    // A bad file is refused whole, every bad line named, before the bus.
    void load(const py::handle &pathArg) {
        const std::string path = pathArgument(pathArg);
        const regfile::Contents file = regfile::read(path);
        if (!file.ok()) {
            std::string message;
            for (const regfile::Problem &p : file.problems)
                message += path + ": " + regfile::describe(p) + "\n";
            message += path + ": nothing was written";
            if (file.unreadable)
                throw BoardFailure(EIO, std::nullopt, file.problems.front().reason, message);
            throw py::value_error(message);
        }
        run([&] {
            const board::LoadOutcome outcome = board::loadSetUp(*device_, file.entries);
            if (!outcome.ok)
                device_->complain(path + ": loaded in part: " + board::describeLoad(outcome));
            return outcome.ok;
        });
    }

    void reset() {
        run([&] { return board::softReset(*device_); });
    }

    void sleep() {
        run([&] { return board::sleep(*device_); });
    }

    // Holds the board against every other program of ours until unlock()
    // with what this returned; nests.
    int lock() {
        checkOpen();
        const int depth = device_->holds();
        run([&] { return device_->hold(); }, depth + 1);
        return depth;
    }
    void unlock(int depth) {
        if (open_)
            device_->releaseTo(depth);
    }

    // One register for a watch: nothing, with the sentence why, on failure.
    std::optional<uint8_t> readForWatch(uint8_t reg, std::string &failure) {
        checkOpen();
        std::optional<uint8_t> value;
        {
            py::gil_scoped_release unlocked;
            value = device_->read(reg);
        }
        if (!value && !complaints_.empty())
            failure = complaints_.back();
        complaints_.clear();
        return value;
    }

private:
    void checkOpen() const {
        if (!open_)
            throw py::value_error("the board is closed");
    }

    // The library's check of a raw access, as the command's `--force` skips it.
    static void refuse(uint8_t reg, chip::Access wanted, bool force, const char *verb) {
        if (force)
            return;
        if (const std::string why = chip::accessRefusal(reg, wanted); !why.empty())
            throw py::value_error(why + " (force=True " + verb + " it all the same)");
    }

    // Runs `work` on the board without the interpreter's lock (a shared
    // board may wait for another program), then lets go of the holds it
    // took beyond `keep` (by default those it found), so that the board is
    // free again between two calls; raises what the library told when it
    // fails.
    template <typename F> auto run(F &&work, int keep = -1) -> decltype(work()) {
        checkOpen();
        complaints_.clear();
        const int before = device_->holds();
        if (keep < 0)
            keep = before;
        decltype(work()) result{};
        {
            py::gil_scoped_release unlocked;
            result = work();
            device_->releaseTo(result ? keep : before);
        }
        if (!result)
            fail();
        complaints_.clear();
        return result;
    }

    [[noreturn]] void fail() {
        char text[512] = {};
        const int32_t r = vtxLastError(text, sizeof text);
        std::string message;
        for (const std::string &line : complaints_)
            message += (message.empty() ? "" : "\n") + line;
        complaints_.clear();
        if (message.empty())
            message = "the board failed";
        const bool busy = message.rfind(board::kBusy, 0) == 0;
        const int error = busy ? EBUSY : r < 0 ? -r : EIO;
        std::string reason = busy ? "another program holds it" : text[0] ? text : vtx::reason(r);
        throw BoardFailure(error, registerNamedIn(message), reason, message);
    }

    std::unique_ptr<board::Device> device_;
    std::vector<std::string> complaints_;
    bool open_ = false;
};

namespace {

// board.simulation: the fault inputs of the simulated board the board is on.
class Simulation {
public:
    explicit Simulation(py::object board) : board_(std::move(board)) {}

    void powerOff() {
        run([] { return vtx::sim::setBoardSupply(false); });
    }
    void powerOn() {
        run([] { return vtx::sim::setBoardSupply(true); });
    }
    void raiseFlags(std::optional<bool> ocp, std::optional<bool> ovp, std::optional<bool> tsd) {
        uint8_t raise = 0, clear = 0;
        for (const auto &[flag, bit] :
             {std::pair{ocp, vtx::sim::kOcp}, std::pair{ovp, vtx::sim::kOvp},
              std::pair{tsd, vtx::sim::kTsd}}) {
            if (flag)
                (*flag ? raise : clear) |= bit;
        }
        run([&] { return vtx::sim::setFaultFlags(raise, clear); });
    }
    void clearFlags() {
        run([] {
            return vtx::sim::setFaultFlags(0, vtx::sim::kOcp | vtx::sim::kOvp | vtx::sim::kTsd);
        });
    }
    void failNext(long long reads, long long writes) {
        for (const long long n : {reads, writes}) {
            if (n < 0 || n > 0xFFFF)
                throw py::value_error("fail_next: " + std::to_string(n) +
                                      " is not a number from 0 to 65535");
        }
        run([&] {
            return vtx::sim::failNext(static_cast<int32_t>(reads), static_cast<int32_t>(writes));
        });
    }

private:
    // A shared board may make the change wait for another program.
    template <typename F> void run(F &&change) {
        if (board_.cast<const Board &>().closed())
            throw py::value_error("the board is closed");
        int32_t result;
        {
            py::gil_scoped_release unlocked;
            result = change();
        }
        if (result < 0)
            throw BoardFailure(-result, std::nullopt, vtx::reason(result),
                               "simulated board: " + vtx::reason(result));
    }

    py::object board_;
};

// `with board.transaction():` holds the board for the block.
class Transaction {
public:
    explicit Transaction(py::object board) : board_(std::move(board)) {}
    py::object enter() {
        depth_ = board_.cast<Board &>().lock();
        return board_;
    }
    void exit(const py::args &) { board_.cast<Board &>().unlock(depth_); }

private:
    py::object board_;
    int depth_ = 0;
};

// The same targets and events as the command's `watch`, read through a board.
class BoardWatcher {
public:
    BoardWatcher(py::object board, const std::vector<std::string> &names)
        : board_(std::move(board)), watcher_(targets(names)) {}

    py::list poll() {
        Board &b = board_.cast<Board &>();
        const std::vector<watch::Event> events =
            watcher_.poll([&](uint8_t reg, std::string &why) { return b.readForWatch(reg, why); });
        const std::string time = watch::timestamp();
        py::list out;
        for (const watch::Event &e : events)
            out.append(toPython(watch::jsonLine(time, e)));
        return out;
    }

private:
    static std::vector<watch::Target> targets(const std::vector<std::string> &names) {
        if (names.empty())
            return watch::everyRegister();
        std::vector<watch::Target> out;
        for (const std::string &name : names) {
            std::string reason;
            const auto t = watch::parseTarget(name, reason);
            if (!t)
                throw py::value_error(reason);
            out.push_back(*t);
        }
        return out;
    }

    py::object board_;
    watch::Watcher watcher_;
};

} // namespace

void bindBoard(py::module_ &m) {
    py::class_<Simulation>(m, "Simulation", R"(The fault inputs of a simulated board.

They model the chip's fault flags and the board's supply, not its analogue
behaviour. On a shared board (sim:NAME) every program on it sees them: the
panel's readback, `xq4620 watch`, other scripts.)")
        .def("power_off", &Simulation::powerOff,
             "Cut the board's supply: the chip answers nothing (every register access raises "
             "BoardError) until power_on().")
        .def("power_on", &Simulation::powerOn,
             "Restore the board's supply: the chip starts from its reset values, flags cleared.")
        .def("raise_flags", &Simulation::raiseFlags, py::kw_only(), py::arg("ocp") = py::none(),
             py::arg("ovp") = py::none(), py::arg("tsd") = py::none(),
             "Set (True) or clear (False) fault flags of Interrupt Status, 0x09: OCP bit 2, OVP "
             "bit 1, TSD bit 0. A flag not named is left as it is. The chip latches them: a "
             "software reset or a power cycle clears them too.")
        .def("clear_flags", &Simulation::clearFlags, "Clear every fault flag.")
        .def("fail_next", &Simulation::failNext, py::arg("reads") = 0, py::arg("writes") = 0,
             "Make the next `reads` register reads and `writes` register writes fail with EIO "
             "(0 to 65535 each; 0 and 0 end it).");

    py::class_<Transaction>(m, "Transaction", "A hold on the board for a `with` block.")
        .def("__enter__", &Transaction::enter)
        .def("__exit__", &Transaction::exit);

    py::class_<BoardWatcher>(m, "_Watcher")
        .def(py::init<py::object, std::vector<std::string>>())
        .def("poll", &BoardWatcher::poll);

    py::class_<Board>(m, "Board", R"(An XQ4620 on its evaluation board, set up and ready.

Get one with xq4620.open(). Registers and values are ints (a register may
also be a hex text, '0x03'); fields are named as xq4620.fields() lists them,
with '_' for '-' in keyword arguments. Failures of the adapter or the chip
raise xq4620.BoardError; bad registers, fields, values and files raise
ValueError or KeyError before anything reaches the bus.)")
        .def(py::init<std::optional<std::string>>(), py::arg("adapter") = py::none())
        .def_property_readonly("adapter", &Board::adapter,
                               "The adapter as VTX_ADAPTER names it ('' for automatic detection).")
        .def_property_readonly("closed", &Board::closed)
        .def_property_readonly(
            "simulation",
            [](py::object self) -> py::object {
                if (self.cast<const Board &>().closed() || !vtx::sim::simulatedBoardInUse())
                    return py::none();
                return py::cast(Simulation(self));
            },
            "The fault inputs of a simulated board (xq4620.Simulation); None on real hardware.")
        .def("close", &Board::close, "Let go of the board; it may be opened again.")
        .def("__enter__", [](Board &b) -> Board & { return b; })
        .def("__exit__", [](Board &b, const py::args &) { b.close(); })
        .def("read", &Board::read, py::arg("reg"), py::kw_only(), py::arg("force") = false,
             "Read one register; returns 0 to 255. A write-only register, or one the chip "
             "lacks, raises ValueError unless force=True.")
        .def("write", &Board::write, py::arg("reg"), py::arg("value"), py::kw_only(),
             py::arg("force") = false,
             "Write one byte to one register, as it is. A read-only register, or one the chip "
             "lacks, raises ValueError unless force=True.")
        .def("dump", &Board::dump,
             "Every readable register with its decoded fields: a dict with the keys of "
             "`xq4620 dump --json`. A register that cannot be read raises BoardError, naming "
             "every one that failed.")
        .def("save", &Board::save, py::arg("path"),
             "Save registers 0x00 to 0x08 to a register file, as `xq4620 save` does.")
        .def("load", &Board::load, py::arg("path"),
             "Check a register file whole (ValueError naming every bad line, nothing written), "
             "then write it in address order and read it back, as `xq4620 load` does.")
        .def("reset", &Board::reset,
             "Software reset: every register to its reset value, the fault flags cleared.")
        .def("sleep", &Board::sleep, "Set the Sleep bit of Control, keeping the rest.")
        .def("get", &Board::get, py::arg("field"),
             "One field's value: the choice text of a field with choices ('24 V'), an int "
             "otherwise.")
        .def(
            "transaction", [](py::object self) { return Transaction(self); },
            R"(Hold the board for a `with` block: no other program of ours (the panel, the
command, another script) gets between its reads and writes, on a shared
simulated board and on a real bus alike. Waits as long as every call does
(5 s) for another program to let go, then raises BoardError (EBUSY).
Transactions nest.)")
        .def("set", &Board::set,
             "Change fields by keyword, keeping every other bit: set(ovp='32 V', led_a_en=1). "
             "Each register touched is read once and written once.");
}

} // namespace xqpy
