// SPDX-License-Identifier: MIT
#include "doctor/checks.h"

#include "chip/xq4620.h"
#include "vtx/adapter_name.h"
#include "vtx/adapters.h"
#include "vtx/i2cdev/detect.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace doctor {
namespace {

using vtx::i2cdev::BusInfo;

constexpr unsigned kI2cDevMajor = 89;
constexpr unsigned kRead = 4, kWrite = 2;
// The functionality bits of linux/i2c.h the chip needs.
constexpr unsigned long kReadByteData = 0x00080000;
constexpr unsigned long kWriteByteData = 0x00100000;

std::string hex(unsigned byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte & 0xFF);
    return text;
}

std::string modeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISREG(mode) ? "-" : "?";
    const char letters[] = "rwx";
    for (int bit = 8; bit >= 0; --bit)
        text += (mode & (1u << bit)) ? letters[(8 - bit) % 3] : '-';
    return text;
}

class Chain {
public:
    explicit Chain(const Environment &env) : env_(env) {}

    Report run() {
        const std::string &s = env_.setting;
        report_.adapter =
            s.empty() ? "VTX_ADAPTER unset: USB-to-I2C bridges only" : "VTX_ADAPTER=" + s;
        const bool simulated = s == "sim" || s.rfind("sim:", 0) == 0;
        if (const std::string why = vtx::adapterNameProblem(s); !why.empty()) {
            if (simulated)
                add("adapter", Verdict::Fail, why,
                    "name the board with letters, digits, '.', '_' and '-' only: "
                    "VTX_ADAPTER=sim:bench");
            else
                add("adapter", Verdict::Fail, "\"" + s + "\" names no adapter",
                    "set VTX_ADAPTER to sim, sim:NAME, /dev/i2c-N, usb:SERIAL or usb-port:PORT "
                    "(xq4620 adapters lists the bridges' names), or leave it unset for USB "
                    "bridges");
        } else if (simulated) {
            // The board is opened here, as the panel opens it, so that a
            // board another program holds, a damaged state file or a folder
            // that is not ours fails this line, with its fix.
            const std::string board = s == "sim" ? "the simulated evaluation board, this "
                                                   "program's own"
                                                 : "the simulated board \"" + s.substr(4) +
                                                       "\", shared by every program that names it";
            const ChipRead opened = env_.openAdapter();
            if (opened.result < 0) {
                failed("adapter", board + ": ", opened);
                return report_;
            }
            add("adapter", Verdict::Pass, board);
            identify();
        } else if (i2cDev()) {
            busThrough();
        }
        return report_;
    }

private:
    void add(std::string name, Verdict verdict, std::string found, std::string fix = {}) {
        report_.checks.push_back({std::move(name), verdict, std::move(found), std::move(fix)});
    }

    bool i2cDev() {
        std::error_code ec;
        if (!fs::is_directory(fs::path(env_.sysfsRoot) / "class" / "i2c-dev", ec)) {
            add("i2c-dev", Verdict::Fail, "not loaded: no I2C bus has a device node",
                "sudo modprobe i2c-dev (the package loads it at every boot)");
            return false;
        }
        buses_ = vtx::i2cdev::listBuses(env_.sysfsRoot);
        add("i2c-dev", Verdict::Pass,
            "loaded, " + std::to_string(buses_.size()) + " I2C bus" +
                (buses_.size() == 1 ? "" : "es"));
        for (const BusInfo &bus : buses_) {
            std::string found = adapterName(bus) + ": ";
            if (bus.bridge())
                found += "a USB-to-I2C bridge, driver " + bus.driver +
                         (bus.serial.empty() ? "" : ", serial " + bus.serial) +
                         ", VTX_ADAPTER=" + vtx::i2cdev::nameOf(bus, buses_);
            else
                found += "no bridge (" + vtx::i2cdev::whyNotBridge(bus) + ")";
            add(bus.name, Verdict::Info, found);
        }
        return true;
    }

    // The adapter's name as the kernel gives it, quoted: "SMBus I801 adapter at efa0".
    std::string adapterName(const BusInfo &bus) const {
        std::string name;
        vtx::i2cdev::readAttribute(
            (fs::path(env_.sysfsRoot) / "class/i2c-dev" / bus.name / "name").string(), name);
        return "\"" + name + "\"";
    }

    // The bus the library would use, then the chain through it.
    void busThrough() {
        std::string path;
        BusInfo bus;
        // Found by detection or by a bridge's name, rather than named by path.
        const bool detected = env_.setting.empty() || vtx::i2cdev::isBridgeName(env_.setting);
        if (detected) {
            std::vector<BusInfo> bridges;
            for (const BusInfo &b : buses_) {
                if (b.bridge())
                    bridges.push_back(b);
            }
            const std::string &name = env_.setting;
            const std::vector<BusInfo> named =
                name.empty() ? bridges : vtx::i2cdev::matching(name, buses_);
            if (bridges.empty() || named.empty()) {
                add("bridge", Verdict::Fail,
                    bridges.empty() ? "none of the " + std::to_string(buses_.size()) +
                                          " I2C buses is a USB-to-I2C bridge"
                                    : "no USB-to-I2C bridge " + name + " among the " +
                                          std::to_string(bridges.size()) + " here",
                    bridges.empty()
                        ? "plug the bridge in and check dmesg that its driver took it; a bus "
                          "that is not detected can be named: VTX_ADAPTER=/dev/i2c-N"
                        : "plug it in, or name one that is here (xq4620 adapters lists them)");
                return;
            }
            if (named.size() > 1) {
                std::string list;
                for (const BusInfo &b : named)
                    list += (list.empty() ? "" : ", ") + vtx::i2cdev::nameOf(b, buses_) + " (" +
                            b.name + ")";
                add("bridge", Verdict::Fail,
                    std::to_string(named.size()) + " USB-to-I2C bridges" +
                        (name.empty() ? "" : " named " + name) + ": " + list +
                        "; nothing picks one of them",
                    "name one with --adapter or VTX_ADAPTER (xq4620 adapters lists them)");
                return;
            }
            bus = named.front();
            path = env_.devDir + "/" + bus.name;
            add("bridge", Verdict::Pass,
                bus.name + (name.empty() ? ", the only bridge" : ", the bridge " + name));
        } else {
            path = env_.setting;
        }

        const NodeFacts node = env_.stat(path);
        if (!node.exists) {
            add("node", Verdict::Fail,
                node.error ? path + ": " + std::strerror(node.error) : path + " is missing",
                detected ? "udev makes it once i2c-dev is loaded: check ls /dev/i2c-*"
                         : "check the bus number: ls /dev/i2c-*");
            return;
        }
        // A detected bus's node must be that bus's; a named one may be any bus.
        if (!S_ISCHR(node.mode) || node.major != kI2cDevMajor ||
            (detected && node.minor != static_cast<unsigned>(bus.number))) {
            add("node", Verdict::Fail,
                path + " is no I2C bus node" +
                    (bus.number >= 0 ? " of " + bus.name : std::string()),
                "let udev make the nodes, or name the bus whose node it is");
            return;
        }
        add("node", Verdict::Pass, path + ": " + describe(node));
        if (!detected) {
            // A bus named by hand is used whatever it is: say so when it is
            // not what the panel is made for.
            bus = vtx::i2cdev::describeBus(env_.sysfsRoot, "i2c-" + std::to_string(node.minor));
            if (bus.bridge())
                add("bridge", Verdict::Pass,
                    bus.name + ", a USB-to-I2C bridge, named by VTX_ADAPTER");
            else
                add("bridge", Verdict::Warn,
                    path + " is no USB-to-I2C bridge: " +
                        (bus.number < 0
                             ? "sysfs knows no i2c-" + std::to_string(node.minor)
                             : adapterName(bus) + ", " + vtx::i2cdev::whyNotBridge(bus)) +
                        "; whatever answers at " + hex(chip::kDeviceAddress) +
                        " on it is taken for the chip, and written to",
                    "make sure the evaluation board is on this bus, or leave VTX_ADAPTER unset to "
                    "use USB-to-I2C bridges only");
        }

        if (!access(path, node))
            return;
        unsigned long funcs = 0;
        if (const long r = env_.functions(path, funcs); r < 0) {
            add("functions", Verdict::Fail,
                "cannot open " + path +
                    " or ask its functions: " + std::strerror(static_cast<int>(-r)),
                "check dmesg for the adapter's driver");
            return;
        }
        if ((funcs & kReadByteData) && (funcs & kWriteByteData))
            add("functions", Verdict::Pass, "SMBus read and write byte data");
        else
            add("functions", Verdict::Fail, "the adapter cannot do SMBus byte-data transfers",
                "use another adapter");

        if (bus.number >= 0)
            boundDriver(bus);
        chip();
    }

    std::string describe(const NodeFacts &node) const {
        const bool acl = !node.aclUsers.empty() || !node.aclGroups.empty();
        std::string text =
            modeText(node.mode) + (acl ? "+ " : " ") + owner(node.uid) + ":" + group(node.gid);
        for (const auto &[uid, perm] : node.aclUsers)
            text += ", ACL user " + owner(uid) + " " + perms(perm);
        for (const auto &[gid, perm] : node.aclGroups)
            text += ", ACL group " + group(gid) + " " + perms(perm);
        return text;
    }

    std::string owner(uid_t uid) const {
        if (uid == 0)
            return "root";
        if (uid == env_.user.uid && !env_.user.name.empty())
            return env_.user.name;
        return std::to_string(uid);
    }

    std::string group(gid_t gid) const {
        if (gid == 0)
            return "root";
        if (env_.i2cGroup >= 0 && gid == static_cast<gid_t>(env_.i2cGroup))
            return "i2c";
        return std::to_string(gid);
    }

    static std::string perms(unsigned perm) {
        return std::string(perm & kRead ? "r" : "-") + (perm & kWrite ? "w" : "-");
    }

    bool inGroup(gid_t gid) const {
        const auto &g = env_.user.groups;
        return std::find(g.begin(), g.end(), gid) != g.end();
    }

    // Whether the user may read and write the node, and by what right.
    bool mayOpen(const NodeFacts &node, std::string &how) const {
        const auto rw = [](unsigned perm) { return (perm & (kRead | kWrite)) == (kRead | kWrite); };
        if (env_.user.uid == 0) {
            how = "as root";
            return true;
        }
        if (node.uid == env_.user.uid) {
            how = "as its owner";
            return rw((node.mode >> 6) & 7);
        }
        for (const auto &[uid, perm] : node.aclUsers) {
            if (uid == env_.user.uid) {
                how = "through its ACL, which udev gives the person at the seat";
                return rw(perm);
            }
        }
        bool grouped = false;
        if (inGroup(node.gid)) {
            grouped = true;
            if (rw((node.mode >> 3) & 7)) {
                how = "as a member of group " + group(node.gid);
                return true;
            }
        }
        for (const auto &[gid, perm] : node.aclGroups) {
            if (inGroup(gid) && rw(perm)) {
                how = "as a member of group " + group(gid) + ", through its ACL";
                return true;
            }
            grouped = grouped || inGroup(gid);
        }
        if (grouped)
            return false;
        how = "as anyone";
        return rw(node.mode & 7);
    }

    bool access(const std::string &path, const NodeFacts &node) {
        std::string how;
        if (mayOpen(node, how)) {
            add("access", Verdict::Pass, "you may open " + path + " " + how);
            return true;
        }
        const std::string who = env_.user.name.empty() ? "you" : "you (" + env_.user.name + ")";
        const bool groupRule = env_.i2cGroup >= 0 &&
                               node.gid == static_cast<gid_t>(env_.i2cGroup) &&
                               ((node.mode >> 3) & 6) == 6;
        std::string fix;
        if (groupRule && env_.user.inI2cGroupFile) {
            fix = "you are in the i2c group, but this session began before you joined: log out "
                  "and in again";
        } else if (groupRule) {
            fix = "join the i2c group: sudo usermod -aG i2c $USER, then log in again";
            if (env_.user.seated)
                fix += "; at this desktop the adapter's uaccess tag should have let you in "
                       "already: unplug it and plug it in again";
        } else {
            fix = "the package's udev rule has not been applied to this bus: install the package "
                  "(or its rule), then unplug the adapter and plug it in again; ";
            fix += env_.user.seated ? "at a desktop seat its uaccess tag lets you open it, "
                                      "elsewhere join the i2c group"
                                    : "away from a desktop seat, also join the i2c group";
        }
        add("access", Verdict::Fail, who + " may not open " + path + " (" + describe(node) + ")",
            fix);
        return false;
    }

    void boundDriver(const BusInfo &bus) {
        char client[16];
        std::snprintf(client, sizeof client, "%d-%04x", bus.number, chip::kDeviceAddress);
        const fs::path device =
            fs::path(env_.sysfsRoot) / "class/i2c-dev" / bus.name / "device" / client;
        std::error_code ec;
        const fs::path driver = fs::read_symlink(device / "driver", ec);
        const std::string address = hex(chip::kDeviceAddress);
        if (ec) {
            add("address", Verdict::Pass,
                "no kernel driver is bound at " + address + " on " + bus.name);
            return;
        }
        const std::string name = driver.filename().string();
        add("address", Verdict::Fail,
            "kernel driver " + name + " is bound at " + address + " on " + bus.name +
                ", so the panel may not use the address",
            std::string("echo ") + client + " | sudo tee /sys/bus/i2c/drivers/" + name + "/unbind");
    }

    void chip() {
        const ChipRead opened = env_.openAdapter();
        supply();
        if (opened.result < 0) {
            failed("chip", "the adapter could not be opened and set up: ", opened);
            return;
        }
        identify();
    }

    // The line that switches the board's supply, when the bench describes
    // one: there, free, a GPIO pin, and at which level.
    void supply() {
        if (!env_.supply)
            return;
        const ChipRead r = env_.supply();
        if (r.result == -ENODATA)
            return;
        if (r.result >= 0) {
            add("supply", Verdict::Pass, r.why);
            return;
        }
        std::string fix;
        switch (-r.result) {
        case ENOENT:
            fix = "the pin's function is kept in the bridge's flash: set it to GPIO with the "
                  "bridge maker's configuration utility, then plug the bridge in again";
            break;
        case EOPNOTSUPP:
            fix = "take the supply line out of the bench description (and VTX_SUPPLY), or use a "
                  "bridge whose driver gives GPIO lines (MCP2221, CP2112)";
            break;
        case EBUSY:
            fix = "end the program that holds the line, then try again";
            break;
        default:
            fix = "mend the bench description (" + r.why.substr(0, r.why.find(':')) +
                  ") or VTX_SUPPLY: name a line the bridge has";
            break;
        }
        add("supply", Verdict::Fail, r.why, fix);
    }

    // A step of opening the board or reaching the chip that failed: the
    // library's sentence, who holds a busy board when the system shows it,
    // and the fix.
    void failed(const std::string &check, const std::string &what, const ChipRead &r) {
        std::string found = what + r.why;
        if (r.result == -EBUSY && env_.holder) {
            holder_ = env_.holder();
            if (!holder_.empty())
                found += " (" + holder_ + ")";
        }
        add(check, Verdict::Fail, found, fixFor(r));
    }

    // What to do when opening the board or reaching the chip failed.
    std::string fixFor(const ChipRead &r) const {
        const std::string &s = env_.setting;
        switch (-r.result) {
        case EBUSY:
            return "let the program that holds it" + (holder_.empty() ? "" : " (" + holder_ + ")") +
                   " finish, resume it if it is stopped, or end it; then try again";
        case EUCLEAN:
            return "remove the damaged state file named above for a fresh board (its registers "
                   "are lost either way)";
        case ENODEV:
            if (s.rfind("sim:", 0) == 0)
                return "the folder of the simulated boards and their files must be yours alone: "
                       "give them back to yourself and close them to others (chmod 700 the "
                       "folder, 600 the files), or remove them for fresh boards";
            break;
        case EIO:
            if (s.rfind("sim:", 0) == 0)
                return "the board's reads are made to fail: xq4620 --adapter " + s +
                       " simulate fail-reads 0";
            break;
        case ENXIO:
            if (s.rfind("sim:", 0) == 0)
                return "the board's supply is cut: xq4620 --adapter " + s + " simulate power on";
            break;
        default:
            break;
        }
        return "check the wiring, and that the board has its own supply switched on (the "
               "adapter gives it none) and the chip's address is " +
               hex(chip::kDeviceAddress) + "; then try again";
    }

    // The chip's identification registers, read under one hold of the
    // board where the environment can hold it.
    void identify() {
        if (env_.hold) {
            const ChipRead held = env_.hold();
            if (held.result < 0) {
                failed("chip", "cannot hold the board: ", held);
                return;
            }
        }
        uint8_t id[3];
        const uint8_t regs[3] = {chip::kPartNumberHighRegister, chip::kPartNumberLowRegister,
                                 chip::kRevisionRegister};
        ChipRead bad;
        int i = 0;
        for (; i < 3 && bad.result >= 0; ++i) {
            const ChipRead r = env_.readRegister(regs[i]);
            if (r.result < 0)
                bad = r;
            else
                id[i] = static_cast<uint8_t>(r.result);
        }
        if (env_.hold && env_.release)
            env_.release();
        if (bad.result < 0) {
            failed("chip", "reading " + chip::registerLabel(regs[i - 1]) + " failed: ", bad);
            return;
        }
        const int high = chip::findRegister(regs[0])->reset;
        const int low = chip::findRegister(regs[1])->reset;
        const std::string address = hex(chip::kDeviceAddress);
        if (id[0] != high || id[1] != low) {
            add("chip", Verdict::Fail,
                "the chip at " + address + " has part number " + hex(id[0]) + " " + hex(id[1]) +
                    ", not the XQ4620's " + hex(high) + " " + hex(low),
                "another chip answers at " + address +
                    ": connect the XQ4620 evaluation board, or check its address pins");
            return;
        }
        add("chip", Verdict::Pass,
            "an XQ4620 answers at " + address + ": part number " + hex(id[0]) + " " + hex(id[1]) +
                ", silicon revision " + hex(id[2]));
    }

    const Environment &env_;
    Report report_;
    std::string holder_; // who held a busy board, as the system shows it
    std::vector<BusInfo> buses_;
};

} // namespace

bool Report::ok() const {
    return std::none_of(checks.begin(), checks.end(),
                        [](const Check &c) { return c.verdict == Verdict::Fail; });
}

const char *verdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Pass:
        return "ok";
    case Verdict::Fail:
        return "FAIL";
    case Verdict::Info:
        return "info";
    case Verdict::Warn:
        return "warn";
    }
    return "";
}

std::string formatReport(const Report &report) {
    size_t width = 0;
    for (const Check &c : report.checks)
        width = std::max(width, c.name.size());
    std::string text = "Adapter: " + report.adapter + "\n";
    for (const Check &c : report.checks) {
        std::string line = verdictText(c.verdict);
        line.resize(6, ' ');
        line += c.name;
        line.resize(6 + width + 2, ' ');
        line += c.found;
        if (!c.fix.empty())
            line += "; fix: " + c.fix;
        text += line + "\n";
    }
    text +=
        report.ok() ? "The panel would work.\n" : "The panel would not work: fix what failed.\n";
    return text;
}

Report run(const Environment &env) {
    return Chain(env).run();
}

} // namespace doctor
