// SPDX-License-Identifier: MIT
// The checks' facts from the running system.
#include "doctor/checks.h"

#include "chip/xq4620.h"
#include "link/board_setup.h"
#include "link/link.h"
#include "vtx/bench_gpio.h"
#include "vtx/reason.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/i2c-dev.h>
#include <pwd.h>
#include <set>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace doctor {
namespace {

// The POSIX access ACL as the kernel stores it in the extended attribute
// system.posix_acl_access: a version word, then entries of tag, permission
// and id, all little-endian.
constexpr uint32_t kAclVersion = 2;
constexpr uint16_t kAclUser = 0x02, kAclGroup = 0x08, kAclMask = 0x10;

uint32_t littleEndian(const unsigned char *p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

void readAcl(const std::string &path, NodeFacts &facts) {
    unsigned char buffer[1024];
    const ssize_t size = ::getxattr(path.c_str(), "system.posix_acl_access", buffer, sizeof buffer);
    if (size < 4 || littleEndian(buffer, 4) != kAclVersion)
        return;
    unsigned mask = 7;
    for (ssize_t at = 4; at + 8 <= size; at += 8) {
        if (littleEndian(buffer + at, 2) == kAclMask)
            mask = littleEndian(buffer + at + 2, 2);
    }
    for (ssize_t at = 4; at + 8 <= size; at += 8) {
        const uint32_t tag = littleEndian(buffer + at, 2);
        const unsigned perm = littleEndian(buffer + at + 2, 2) & mask;
        const uint32_t id = littleEndian(buffer + at + 4, 4);
        if (tag == kAclUser)
            facts.aclUsers.emplace_back(static_cast<uid_t>(id), perm);
        else if (tag == kAclGroup)
            facts.aclGroups.emplace_back(static_cast<gid_t>(id), perm);
    }
}

NodeFacts statNode(const std::string &path) {
    NodeFacts facts;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        facts.error = errno == ENOENT ? 0 : errno;
        return facts;
    }
    facts.exists = true;
    facts.mode = st.st_mode;
    facts.major = major(st.st_rdev);
    facts.minor = minor(st.st_rdev);
    facts.uid = st.st_uid;
    facts.gid = st.st_gid;
    readAcl(path, facts);
    return facts;
}

long functionsOf(const std::string &path, unsigned long &funcs) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -errno;
    const long r = ::ioctl(fd, I2C_FUNCS, &funcs) < 0 ? -errno : 0;
    ::close(fd);
    return r;
}

User thisUser(long i2cGroup) {
    User user;
    user.uid = ::getuid();
    user.groups.push_back(::getgid());
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> more(static_cast<size_t>(count));
        if (::getgroups(count, more.data()) == count)
            user.groups.insert(user.groups.end(), more.begin(), more.end());
    }
    if (const passwd *pw = ::getpwuid(user.uid)) {
        user.name = pw->pw_name;
        if (i2cGroup >= 0 && pw->pw_gid == static_cast<gid_t>(i2cGroup))
            user.inI2cGroupFile = true;
    }
    if (const group *gr = ::getgrnam("i2c")) {
        for (char **member = gr->gr_mem; member && *member; ++member)
            user.inI2cGroupFile = user.inI2cGroupFile || user.name == *member;
    }
    // logind names the seat of a session at a local desktop.
    const char *seat = std::getenv("XDG_SEAT");
    user.seated = seat && *seat;
    return user;
}

// Who holds a lock on a file this process has open (the board's state file
// or bus node, which the library keeps open while it waits), from the
// kernel's list of locks: "xq4620-panel, process 4242", "" when no one
// visible from here does.
std::string lockHolder() {
    std::set<std::pair<dev_t, ino_t>> ours;
    if (DIR *fds = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(fds)) {
            struct stat st {};
            if (entry->d_name[0] != '.' &&
                ::stat(("/proc/self/fd/" + std::string(entry->d_name)).c_str(), &st) == 0)
                ours.emplace(st.st_dev, st.st_ino);
        }
        ::closedir(fds);
    }
    // "1: FLOCK  ADVISORY  WRITE 4242 fe:00:10953521 0 EOF"; a waiter's line
    // has "->" after the number.
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream words(line);
        std::string number, kind, mode, access, file;
        long pid = 0;
        words >> number >> kind;
        if (kind == "->")
            continue;
        words >> mode >> access >> pid >> file;
        unsigned high = 0, low = 0;
        unsigned long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%lu", &high, &low, &inode) != 3 || pid <= 0 ||
            pid == ::getpid() || !ours.count({makedev(high, low), static_cast<ino_t>(inode)}))
            continue;
        // The process that took the lock may have ended, leaving it to a
        // child that inherited the file: that one the system does not show.
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        if (!std::getline(comm, name))
            continue;
        return name + ", process " + std::to_string(pid);
    }
    return "";
}

ChipRead lastFailure() {
    ChipRead r;
    r.result = LinkLastError(&r.why);
    if (r.result >= 0) // nothing said why; still a failure
        r.result = -EIO;
    return r;
}

} // namespace

Environment systemEnvironment() {
    Environment env;
    const char *setting = std::getenv("VTX_ADAPTER");
    env.setting = setting ? setting : "";
    if (const group *gr = ::getgrnam("i2c"))
        env.i2cGroup = static_cast<long>(gr->gr_gid);
    env.user = thisUser(env.i2cGroup);
    env.stat = statNode;
    env.functions = functionsOf;
    // The panel's own set-up on the panel's link, step by step, so that the
    // step that failed first says why (a later one only finds no adapter).
    env.openAdapter = [] {
        const BoardSetUp s = SetUpBoard(g_hLink, g_linkSerial);
        if (s.found.result == 0) // none: the library noted why
            return ChipRead{-ENODEV, lastFailure().why};
        for (const SetUpStep *step :
             {&s.found, &s.serial, &s.open, &s.version, &s.bus, &s.gpio, &s.power}) {
            if (step->failed())
                return ChipRead{step->result,
                                step->why.empty() ? vtx::reason(step->result) : step->why};
        }
        return ChipRead{};
    };
    env.readRegister = [](uint8_t reg) {
        uint8_t value = 0;
        if (LinkReadRegister(chip::kDeviceAddress, reg, &value))
            return lastFailure();
        return ChipRead{value, {}};
    };
    env.supply = [] {
        const int32_t state = vtx::supplyState(g_hLink);
        if (state < 0)
            return state == -ENODATA ? ChipRead{state, {}} : lastFailure();
        std::vector<vtx::gpio::LineState> lines;
        std::string found = std::string("the board's supply is ") + (state ? "on" : "off");
        if (vtx::lineStates(g_hLink, lines) == 0) {
            for (const auto &l : lines) {
                if (l.consumer == program_invocation_short_name && l.output)
                    found += "; " + l.name + " driven at " + std::to_string(l.value);
            }
        }
        return ChipRead{state, found};
    };
    env.holder = lockHolder;
    return env;
}

void holdWhileReading(Environment &env) {
    env.hold = [] {
        if (vtxLock(g_hLink, VTX_CALL_WAIT_MS) != 0)
            return lastFailure();
        return ChipRead{};
    };
    env.release = [] { vtxUnlock(g_hLink); };
}

} // namespace doctor
