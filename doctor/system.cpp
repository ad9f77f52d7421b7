// SPDX-License-Identifier: MIT
// The checks' facts from the running system.
#include "doctor/checks.h"

#include "chip/xq4620.h"
#include "link/link.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/i2c-dev.h>
#include <pwd.h>
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
    env.openAdapter = [] {
        uint8_t firmware = 0;
        if (LinkOpen(&firmware) != 0)
            return lastFailure();
        return ChipRead{};
    };
    env.readRegister = [](uint8_t reg) {
        uint8_t value = 0;
        if (LinkReadRegister(chip::kDeviceAddress, reg, &value))
            return lastFailure();
        return ChipRead{value, {}};
    };
    return env;
}

} // namespace doctor
