// SPDX-License-Identifier: MIT
// The adapter chain checked link by link, as `xq4620 doctor` prints it and the
// panel's Diagnose Adapter shows it: the i2c-dev module, the buses and which
// of them is a bridge, the chosen bus's device node and who may open it, the
// adapter's functions, a kernel driver on the chip's address, and the chip
// itself. Every fact about the system comes in through Environment, so tests
// run the checks on a fake sysfs tree with a made-up user and device node.
#ifndef DOCTOR_CHECKS_H
#define DOCTOR_CHECKS_H

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace doctor {

enum class Verdict {
    Pass, // this link of the chain works
    Fail, // this link is broken; `fix` says what to do
    Info, // a fact worth showing that decides nothing (a bus that is no bridge)
    Warn, // works, but may not be what was meant (a named bus that is no bridge)
};

struct Check {
    std::string name; // "i2c-dev", "i2c-7", "node", "access", "functions", "address", "chip"
    Verdict verdict = Verdict::Info;
    std::string found; // what was found, one line
    std::string fix;   // what to do: for every failure, and for a warning
};

struct Report {
    std::string adapter; // how the adapter is chosen: "VTX_ADAPTER=/dev/i2c-7"
    std::vector<Check> checks;
    // True when no check failed: the panel would work.
    bool ok() const;
};

// "ok", "FAIL", "info" or "warn".
const char *verdictText(Verdict verdict);

// The report as text, one line a check ("ok    chip      XQ4620 at 0x36 ...",
// a failure's fix after it on the same line), and a closing verdict line.
std::string formatReport(const Report &report);

// A device node as stat(2) and its access ACL describe it.
struct NodeFacts {
    bool exists = false;
    int error = 0; // errno of a failed stat, when not ENOENT
    mode_t mode = 0;
    unsigned major = 0, minor = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    // Named users of the POSIX access ACL (what udev's uaccess tag grants)
    // with their permission bits (4 read, 2 write); the ACL mask applied.
    std::vector<std::pair<uid_t, unsigned>> aclUsers;
    std::vector<std::pair<gid_t, unsigned>> aclGroups;
};

// Who runs the checks.
struct User {
    uid_t uid = 0;
    std::vector<gid_t> groups;   // the process's group and supplementary groups
    std::string name;            // login name, "" when unknown
    bool seated = false;         // logged in at a seat (a desktop), where uaccess applies
    bool inI2cGroupFile = false; // listed in the i2c group of /etc/group
};

// What reaching the chip through the adapter gave: a register's value
// (0..255), or a negative result with the library's sentence for it.
struct ChipRead {
    int32_t result = 0;
    std::string why;
};

struct Environment {
    std::string setting; // VTX_ADAPTER as given ("" unset)
    std::string sysfsRoot = "/sys";
    std::string devDir = "/dev";
    User user;
    // The i2c group's id, -1 when the system has none.
    long i2cGroup = -1;
    std::function<NodeFacts(const std::string &path)> stat;
    // Opens the node for reading and writing and asks the adapter's functions
    // (I2C_FUNCS); a negative errno when either fails.
    std::function<long(const std::string &path, unsigned long &funcs)> functions;
    // Opens the adapter the way the panel does, if not open yet: a negative
    // result and its sentence when that fails.
    std::function<ChipRead()> openAdapter;
    // Reads one register of the chip through the opened adapter.
    std::function<ChipRead(uint8_t reg)> readRegister;
    // Holds the opened board against our other programs while the chip's
    // registers are read, and lets go of it; unset, each read is an access
    // of its own.
    std::function<ChipRead()> hold;
    std::function<void()> release;
    // The board's supply as the bench wires it, once the adapter is open:
    // result 1 on, 0 off (and `why` saying which line, at which level),
    // -ENODATA when no supply line is described; another negative result
    // with the library's sentence. Unset: not checked.
    std::function<ChipRead()> supply;
    // Who holds the board this process has open, as the system shows it
    // ("xq4620-panel, process 4242"); "" when it does not show it.
    std::function<std::string()> holder;
};

// The whole chain for `env.setting`.
Report run(const Environment &env);

// The real system: /sys, /dev, this process's user, the node's ACL; the
// adapter reached through the panel's own device link.
Environment systemEnvironment();

// Makes `env` hold the device link's board while the chip is read (the
// command's doctor; the panel reads its own board access by access).
void holdWhileReading(Environment &env);

} // namespace doctor

#endif
