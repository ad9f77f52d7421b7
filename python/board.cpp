// SPDX-License-Identifier: MIT
// xq4620.Board: one evaluation board, opened and set up as the command sets
// it up, with register and field access, register files, reset and sleep.
//
// A program may open any number of boards side by side, each on the adapter
// it names (sim:ref beside sim:dut, usb:A1 beside sim:ref), each with its own
// handle, hold and simulated faults. Opening `sim` with no board open on
// `sim` gives a fresh private simulated board, which is what the pytest
// fixture relies on.
//
// Threads: every call into the library is made without the interpreter's
// lock, so that a wait for a held board never stops the other threads; the
// library calls back (whether Ctrl+C was pressed, a notice to log) only with
// that lock let go, and takes it for the moment it needs. Nothing here ever
// waits for the library while holding the interpreter's lock.
#include "python/module.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "board/device.h"
#include "board/operations.h"
#include "chip/field_value.h"
#include "chip/hex_byte.h"
#include "chip/xq4620.h"
#include "regfile/register_file.h"
#include "vtx/adapter_name.h"
#include "vtx/adapters.h"
#include "vtx/bench_gpio.h"
#include "vtx/interrupt.h"
#include "vtx/reason.h"
#include "vtx/sim.h"
#include "vtx/vtx.h"
#include "watch/watch.h"

namespace py = pybind11;

namespace xqpy {
namespace {

// How many boards are open on the process's own simulated board (`sim`):
// the first of them starts it afresh. Taken without the interpreter's lock.
struct PrivateBoard {
    std::mutex mutex;
    int boards = 0;
};
PrivateBoard &privateBoard() {
    static auto *p = new PrivateBoard;
    return *p;
}

bool interpreterUsable() {
    return Py_IsInitialized() && !_Py_IsFinalizing();
}

// Asked by the library while a thread waits: Ctrl+C (or any signal with a
// Python handler that raises) ends the wait, and its exception is what the
// call then raises.
bool pythonInterrupted() {
    if (!interpreterUsable())
        return false;
    const PyGILState_STATE state = PyGILState_Ensure();
    // Once interrupted, every later wait of the same call ends at once too.
    const bool stop = PyErr_Occurred() || PyErr_CheckSignals() != 0;
    PyGILState_Release(state);
    return stop;
}

// The library's notices ("waiting for simulated board bench: another program
// holds it") go to the "xq4620" logger as warnings, where a program's own
// logging set-up decides what becomes of them.
void toLogging(const char *line) {
    if (!interpreterUsable()) {
        std::fprintf(stderr, "vtx: %s\n", line);
        return;
    }
    const PyGILState_STATE state = PyGILState_Ensure();
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback); // a pending Ctrl+C survives
    try {
        py::module_::import("logging").attr("getLogger")("xq4620").attr("warning")("%s", line);
    } catch (py::error_already_set &e) {
        e.discard_as_unraisable("xq4620 logging a notice");
    }
    PyErr_Restore(type, value, traceback);
    PyGILState_Release(state);
}

// Without the interpreter's lock, and with Ctrl+C ending any wait inside.
template <typename F> auto unlocked(F &&work) -> decltype(work()) {
    py::gil_scoped_release released;
    vtx::setWaitInterrupt(pythonInterrupted);
    return work();
}

// The int an argument stands for (an int, numpy's integers, anything with
// __index__), never a bool; nothing for anything else.
std::optional<py::object> asInt(const py::handle &arg) {
    if (py::isinstance<py::bool_>(arg))
        return std::nullopt;
    PyObject *index = PyNumber_Index(arg.ptr());
    if (!index) {
        PyErr_Clear();
        return std::nullopt;
    }
    return py::reinterpret_steal<py::object>(index);
}

// An int from 0 to `max`: a TypeError "TAKES, not TYPE" for anything else,
// a ValueError "NOUN N is not RANGE" out of range.
long long intArgument(const py::handle &arg, const std::string &takes, const std::string &noun,
                      const std::string &range, long long max) {
    const std::optional<py::object> number = asInt(arg);
    if (!number)
        throw py::type_error(takes + ", not " + std::string(Py_TYPE(arg.ptr())->tp_name));
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(number->ptr(), &overflow);
    if (overflow || value < 0 || value > max)
        throw py::value_error(noun + " " + py::str(*number).cast<std::string>() + " is not " +
                              range);
    return value;
}

uint8_t registerArgument(const py::handle &reg) {
    if (py::isinstance<py::str>(reg)) {
        const std::string text = reg.cast<std::string>();
        if (const auto value = chip::parseHexByte(text))
            return *value;
        throw py::value_error("register \"" + text +
                              "\" is not a hex byte (00 to FF, optionally with 0x)");
    }
    return static_cast<uint8_t>(intArgument(reg,
                                            "a register is an int (0 to 255) or a hex byte text",
                                            "register", "a byte (0 to 255)", 0xFF));
}

uint8_t valueArgument(const py::handle &value) {
    return static_cast<uint8_t>(intArgument(value, "a register value is an int (0 to 255)", "value",
                                            "a byte (0 to 255)", 0xFF));
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

// A path as the system takes it: str, bytes or os.PathLike, in the
// file system's encoding.
std::string pathArgument(const py::handle &path) {
    return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
}

// The standard OSError subclass for `error` (FileNotFoundError for ENOENT,
// PermissionError for EACCES, ...), with `filename` as the caller gave it.
[[noreturn]] void raiseOSError(int error, const std::string &why, const py::handle &filename) {
    py::object e = py::reinterpret_borrow<py::object>(PyExc_OSError)(error, why, filename);
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(e.ptr())), e.ptr());
    throw py::error_already_set();
}

// The errno behind a file error in words ("Permission denied (the file is
// read-only)"); EIO when the words are no system's.
int errnoOf(const std::string &why) {
    int best = EIO;
    size_t bestLength = 0;
    for (int e = 1; e < 134; ++e) {
        const std::string text = std::strerror(e);
        if (text.size() > bestLength && why.compare(0, text.size(), text) == 0) {
            best = e;
            bestLength = text.size();
        }
    }
    return best;
}

// "register 0x03 ..." at the start of a message names the register.
std::optional<uint8_t> registerNamedIn(const std::string &message) {
    const std::string prefix = "register ";
    if (message.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return chip::parseHexByte(message.substr(prefix.size(), 4));
}

// What the board library tells during one call of this thread; a Board's
// calls in several threads each keep their own.
thread_local std::vector<std::string> *told = nullptr;

class Told {
public:
    Told() : outer_(told) { told = &lines; }
    ~Told() { told = outer_; }
    Told(const Told &) = delete;
    Told &operator=(const Told &) = delete;
    std::vector<std::string> lines;

private:
    std::vector<std::string> *outer_;
};

void tellLine(const std::string &message) {
    if (told)
        told->push_back(message);
}

// What the library told, a line each.
std::string joined(const std::vector<std::string> &lines) {
    std::string message;
    for (const std::string &line : lines)
        message += (message.empty() ? "" : "\n") + line;
    return message;
}

// The library's last failure in this thread ("" when none), with its result.
int32_t lastFailure(std::string &text) {
    char buffer[512] = {};
    const int32_t last = unlocked([&] { return vtxLastError(buffer, sizeof buffer); });
    text = buffer;
    return last;
}

// The whole message of a failure, and the library's reason and errno for
// it. The thread's last failure in the library is this one's only when the
// message tells it: it may be another board's, or older than a failure of
// the board's own checks.
[[noreturn]] void fail(const std::vector<std::string> &lines, int32_t result = 0) {
    // Ctrl+C during a wait: its KeyboardInterrupt is the answer.
    if (PyErr_Occurred())
        throw py::error_already_set();
    std::string text;
    const int32_t last = lastFailure(text);
    std::string message = joined(lines);
    if (message.empty())
        message = "the board failed";
    const bool told =
        !text.empty() && message.find(text) != std::string::npos && (result == 0 || result == last);
    if (result == 0 && told)
        result = last;
    const bool busy = message.find(board::kBusy) != std::string::npos;
    const int error = busy ? EBUSY : result < 0 ? -result : EIO;
    // Without the library's sentence, the most particular line says why
    // (the refusal to pick one of several bridges is its own reason).
    std::string reason = lines.empty() ? message : lines.back();
    if (busy)
        reason = "another program holds it";
    else if (told)
        reason = text;
    else if (result < 0 && result != vtx::kNotUnique)
        reason = vtx::reason(result);
    throw BoardFailure(error, registerNamedIn(message), reason, message);
}

} // namespace

// One board, opened and set up by the board library as the command does it;
// every failure the library tells is raised as one BoardError. Calls from
// several threads are each whole: the library serialises them, a hold is
// the thread's that took it, and close() waits for the calls in progress.
class Board {
public:
    explicit Board(std::optional<std::string> adapter) {
        std::string name;
        if (adapter) {
            name = *adapter;
        } else if (const char *env = std::getenv("VTX_ADAPTER")) {
            name = env;
        }
        if (const std::string why = vtx::adapterNameProblem(name); !why.empty())
            throw py::value_error(why);
        Told here;
        bool ok = false;
        unlocked([&] {
            if (name == "sim") {
                PrivateBoard &p = privateBoard();
                std::lock_guard lock(p.mutex);
                if (p.boards++ == 0)
                    vtx::sim::freshBoard();
                private_ = true;
            }
            adapter_ = name;
            open_ = true;
            // The device selects its adapter for the set-up: the boards
            // open beside it keep theirs.
            device_ = std::make_unique<board::Device>(tellLine, name);
            ok = device_->open();
        });
        if (!ok) {
            const int32_t result = device_->openResult();
            close();
            const std::string message = joined(here.lines);
            // The library's reason, which it told the logger, belongs in the
            // exception too (when it is this open's).
            std::string text;
            if (lastFailure(text) == result && !text.empty() && result != -EBUSY &&
                message.find(text) == std::string::npos)
                here.lines.push_back(text);
            if (result == -ENOENT && !name.empty() && name[0] == '/')
                raiseOSError(ENOENT, message, py::str(name));
            fail(here.lines, result);
        }
    }
    ~Board() { close(); }
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    // New calls are refused from here on; the calls in progress end first.
    void close() {
        {
            std::lock_guard lock(state_);
            if (!open_)
                return;
            open_ = false;
        }
        unlocked([&] {
            {
                std::unique_lock lock(state_);
                idle_.wait(lock, [&] { return inFlight_ == 0; });
            }
            // No call can start now. state_ is never held across a library
            // call, which may take the interpreter's lock for a notice.
            device_.reset(); // lets go of every hold, whichever thread's
            if (private_) {
                PrivateBoard &p = privateBoard();
                std::lock_guard count(p.mutex);
                --p.boards;
            }
        });
    }

    const std::string &adapter() const { return adapter_; }
    bool closed() const {
        std::lock_guard lock(state_);
        return !open_;
    }
    std::string repr() const {
        return "<xq4620.Board adapter=" + py::repr(py::str(adapter_)).cast<std::string>() +
               (closed() ? " closed>" : ">");
    }

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
            else if (const std::optional<py::object> number = asInt(value))
                text = py::str(*number).cast<std::string>(); // the range is the field's
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
        Use use(*this);
        Told here;
        const std::vector<board::Reading> readings =
            unlocked([&] { return board::readAll(*device_); });
        for (const board::Reading &r : readings) {
            if (!r.value)
                fail(here.lines);
        }
        return toPython(board::dumpJson(readings));
    }

    // Nothing is written unless every set-up register was read, and the
    // chip is not read for a file that cannot be written where it goes.
    void save(const py::handle &pathArg) {
        const std::string path = pathArgument(pathArg);
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0)
            raiseOSError(errno, std::strerror(errno), pathArg);
        if (!S_ISDIR(st.st_mode))
            raiseOSError(ENOTDIR, std::strerror(ENOTDIR), pathArg);
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
            raiseOSError(errnoOf(error), error, pathArg);
    }

    // A bad file is refused whole, every bad line named, before the bus.
    void load(const py::handle &pathArg) {
        const std::string path = pathArgument(pathArg);
        const regfile::Contents file = regfile::read(path);
        if (!file.ok()) {
            if (file.unreadable) {
                const std::string why = file.problems.front().reason;
                raiseOSError(errnoOf(why), why, pathArg);
            }
            std::string message;
            for (const regfile::Problem &p : file.problems)
                message += path + ": " + regfile::describe(p) + "\n";
            throw py::value_error(message + path + ": nothing was written");
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

    // The board's supply, through the line the bench description names (on
    // a simulated board, the adapter's own switch).
    void power(bool on) {
        run([&] {
            const int32_t r = vtxPower_WriteControl(device_->handle(), on ? 1 : 0, 0);
            if (r < 0)
                device_->complain(std::string("cannot switch the board's supply ") +
                                  (on ? "on: " : "off: ") + board::libraryReason(r));
            return r >= 0;
        });
    }

    // True or False; None when no supply line is described.
    py::object supply() {
        int32_t state = 0;
        run([&] {
            state = vtx::supplyState(device_->handle());
            if (state < 0 && state != -ENODATA)
                device_->complain("the board's supply: " + board::libraryReason(state));
            return state >= 0 || state == -ENODATA;
        });
        return state == -ENODATA ? py::object(py::none()) : py::object(py::bool_(state == 1));
    }

    // Holds the board against every other program of ours, and every other
    // thread of this one, until unlock() with what this returned; nests.
    int lock() {
        Use use(*this);
        // Not under the interpreter's lock: holds() may wait for a thread
        // that is letting go inside the library.
        const int depth = unlocked([&] { return device_->holds(); });
        run([&] { return device_->hold(); }, depth + 1);
        return depth;
    }
    // Nothing to let go of once the board is closed.
    void unlock(int depth) {
        {
            std::lock_guard lock(state_);
            if (!open_)
                return;
            ++inFlight_;
        }
        unlocked([&] { device_->releaseTo(depth); });
        std::lock_guard lock(state_);
        if (--inFlight_ == 0)
            idle_.notify_all();
    }

    // One round of a watch: every register read under one hold, so that a
    // round is one picture of the chip.
    std::vector<watch::Event> poll(watch::Watcher &watcher) {
        Use use(*this);
        Told here;
        std::vector<watch::Event> events = unlocked([&] {
            const int before = device_->holds();
            device_->hold(); // a board held elsewhere: each read says so
            auto out = watcher.poll([&](uint8_t reg, std::string &failure) {
                here.lines.clear();
                const std::optional<uint8_t> value = device_->read(reg);
                if (!value && !here.lines.empty())
                    failure = here.lines.back();
                return value;
            });
            device_->releaseTo(before);
            return out;
        });
        if (PyErr_Occurred())
            throw py::error_already_set();
        return events;
    }

    // For the board's Simulation: `change(handle)` without the
    // interpreter's lock, while the board is open.
    template <typename F> int32_t onBoard(F &&change) {
        Use use(*this);
        const int32_t handle = device_->handle();
        return unlocked([&] { return change(handle); });
    }
    // Whether the board is open on a simulated board.
    bool simulated() {
        {
            std::lock_guard lock(state_);
            if (!open_)
                return false;
        }
        return onBoard([](int32_t handle) { return vtx::sim::simulatedBoardInUse(handle); });
    }

private:
    // One call in progress: refused on a closed board, and waited for by
    // close().
    class Use {
    public:
        explicit Use(Board &b) : b_(b) {
            std::lock_guard lock(b_.state_);
            if (!b_.open_)
                throw py::value_error("the board is closed");
            ++b_.inFlight_;
        }
        ~Use() {
            std::lock_guard lock(b_.state_);
            if (--b_.inFlight_ == 0)
                b_.idle_.notify_all();
        }
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

    private:
        Board &b_;
    };

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
        Use use(*this);
        Told here;
        const auto result = unlocked([&] {
            const int before = device_->holds();
            auto r = work();
            device_->releaseTo(r ? (keep < 0 ? before : keep) : before);
            return r;
        });
        if (!result)
            fail(here.lines);
        return result;
    }

    std::unique_ptr<board::Device> device_;
    std::string adapter_;
    bool private_ = false; // on the process's own simulated board
    mutable std::mutex state_;
    std::condition_variable idle_;
    int inFlight_ = 0;
    bool open_ = false;
};

namespace {

// board.simulation: the fault inputs of the simulated board the board is on.
class Simulation {
public:
    explicit Simulation(py::object board) : board_(std::move(board)) {}

    std::string repr() const {
        return "<xq4620.Simulation of " + board_.attr("__repr__")().cast<std::string>() + ">";
    }

    void powerOff() {
        run([](int32_t h) { return vtx::sim::setBoardSupply(false, h); });
    }
    void powerOn() {
        run([](int32_t h) { return vtx::sim::setBoardSupply(true, h); });
    }
    void raiseFlags(std::optional<bool> ocp, std::optional<bool> ovp, std::optional<bool> tsd) {
        uint8_t raise = 0, clear = 0;
        for (const auto &[flag, bit] :
             {std::pair{ocp, vtx::sim::kOcp}, std::pair{ovp, vtx::sim::kOvp},
              std::pair{tsd, vtx::sim::kTsd}}) {
            if (flag)
                (*flag ? raise : clear) |= bit;
        }
        run([&](int32_t h) { return vtx::sim::setFaultFlags(raise, clear, h); });
    }
    void clearFlags() {
        run([](int32_t h) {
            return vtx::sim::setFaultFlags(0, vtx::sim::kOcp | vtx::sim::kOvp | vtx::sim::kTsd, h);
        });
    }
    // Only the counts given change; the other keeps what it had to go.
    void failNext(const py::object &reads, const py::object &writes) {
        int32_t counts[2] = {-1, -1};
        int i = 0;
        for (const py::object &n : {reads, writes}) {
            if (!n.is_none())
                counts[i] = static_cast<int32_t>(
                    intArgument(n, "fail_next: a count is an int (0 to 65535)",
                                "fail_next: a count", "a number from 0 to 65535", 0xFFFF));
            ++i;
        }
        run([&](int32_t h) { return vtx::sim::failNext(counts[0], counts[1], h); });
    }

private:
    // A shared board may make the change wait for another program.
    template <typename F> void run(F &&change) {
        const int32_t result = board_.cast<Board &>().onBoard(change);
        if (PyErr_Occurred())
            throw py::error_already_set();
        if (result == -EBUSY)
            throw BoardFailure(EBUSY, std::nullopt, "another program holds it", board::kBusy);
        if (result < 0) {
            char text[512] = {};
            const bool told = unlocked([&] { return vtxLastError(text, sizeof text); }) == result;
            const std::string why = told && text[0] ? text : vtx::reason(result);
            throw BoardFailure(-result, std::nullopt, why, "simulated board: " + why);
        }
    }

    py::object board_;
};

// `with board.transaction():` holds the board for the block. One object may
// be entered again, nested or later, and from several threads: each
// thread's entries are undone in the reverse order.
class Transaction {
public:
    explicit Transaction(py::object board) : board_(std::move(board)) {}
    py::object enter() {
        const int depth = board_.cast<Board &>().lock();
        std::lock_guard lock(mutex_);
        depths_[std::this_thread::get_id()].push_back(depth);
        return board_;
    }
    void exit(const py::args &) {
        int depth;
        {
            std::lock_guard lock(mutex_);
            auto it = depths_.find(std::this_thread::get_id());
            if (it == depths_.end() || it->second.empty())
                return;
            depth = it->second.back();
            it->second.pop_back();
            if (it->second.empty())
                depths_.erase(it);
        }
        board_.cast<Board &>().unlock(depth);
    }

private:
    py::object board_;
    std::mutex mutex_;
    std::map<std::thread::id, std::vector<int>> depths_;
};

// The same targets and events as the command's `watch`, read through a board.
class BoardWatcher {
public:
    BoardWatcher(py::object board, const std::vector<std::string> &names)
        : board_(std::move(board)), watcher_(targets(names)) {}

    py::list poll() {
        const std::vector<watch::Event> events = board_.cast<Board &>().poll(watcher_);
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
    vtx::setNoticeSink(toLogging);
    m.def("_adapter_problem", &vtx::adapterNameProblem,
          "Why a text is no adapter's name ('' when it is one).");
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
        .def("fail_next", &Simulation::failNext, py::arg("reads") = py::none(),
             py::arg("writes") = py::none(),
             "Make the next `reads` register reads and `writes` register writes fail with EIO "
             "(0 to 65535 each; 0 ends it). A count not given is left as it is.")
        .def("__repr__", &Simulation::repr);

    py::class_<Transaction>(m, "Transaction", R"(A hold on the board for a `with` block.

One object may be entered again, nested or after it was left, and by
several threads: each thread's hold is its own.)")
        .def("__enter__", &Transaction::enter)
        .def("__exit__", &Transaction::exit);

    py::class_<BoardWatcher>(m, "_Watcher")
        .def(py::init<py::object, std::vector<std::string>>())
        .def("poll", &BoardWatcher::poll);

    py::class_<Board>(m, "Board", R"(An XQ4620 on its evaluation board, set up and ready.

Get one with xq4620.open(); a program may open several side by side, each on
its own adapter with its own hold and failures. Registers and values are ints (a register may
also be a hex text, '0x03'); fields are named as xq4620.fields() lists them,
with '_' for '-' in keyword arguments. Failures of the adapter or the chip
raise xq4620.BoardError; bad registers, fields and values raise ValueError,
KeyError or TypeError, and files the standard OSError subclasses, before
anything reaches the bus.

Threads may share a Board: each call is whole, a transaction() keeps the
other threads out as it keeps other programs out, every error names its own
register, and close() waits for the calls in progress (later ones raise
ValueError). No call holds the interpreter's lock while it waits for the
board, and Ctrl+C ends such a wait with KeyboardInterrupt. The library's
notices (a wait for a board another program holds) are warnings of the
"xq4620" logger.)")
        .def(py::init<std::optional<std::string>>(), py::arg("adapter") = py::none())
        .def_property_readonly("adapter", &Board::adapter,
                               "The adapter as VTX_ADAPTER names it ('' for automatic detection).")
        .def_property_readonly("closed", &Board::closed)
        .def_property_readonly(
            "simulation",
            [](py::object self) -> py::object {
                if (!self.cast<Board &>().simulated())
                    return py::none();
                return py::cast(Simulation(self));
            },
            "The fault inputs of a simulated board (xq4620.Simulation); None on real hardware.")
        .def("close", &Board::close,
             "Let go of the board once the calls in progress in other threads have ended; it "
             "may be opened again.")
        .def("__repr__", &Board::repr)
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
        .def("power", &Board::power, py::arg("on"),
             "Switch the board's supply on or off through the bridge's GPIO line the bench "
             "description names (on a simulated board, the adapter's own switch). Off lasts "
             "until a program sets the board up again.")
        .def_property_readonly("supply", &Board::supply,
                               "Whether the board's supply is on; None when no supply line is "
                               "described (the board is powered on its own).")
        .def("get", &Board::get, py::arg("field"),
             "One field's value: the choice text of a field with choices ('24 V'), an int "
             "otherwise.")
        .def(
            "transaction", [](py::object self) { return std::make_unique<Transaction>(self); },
            R"(Hold the board for a `with` block: no other program of ours (the panel, the
command, another script) gets between its reads and writes, on a shared
simulated board and on a real bus alike. Waits as long as every call does
(5 s) for another program to let go, then raises BoardError (EBUSY).
Transactions nest, and keep the other threads of this program out too.)")
        .def("set", &Board::set,
             "Change fields by keyword, keeping every other bit: set(ovp='32 V', led_a_en=1). "
             "Each register touched is read once and written once.");
}

} // namespace xqpy
