// SPDX-License-Identifier: MIT
#include "vtx/shared_board.h"

#include "vtx/file_lock.h"
#include "vtx/internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vtx::detail {
namespace {

constexpr size_t kMaxName = 64;

bool validName(const std::string &name) {
    if (name.empty() || name.size() > kMaxName || name[0] == '.')
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Ours alone: owned by this user and closed to group and others. Checked on
// the open descriptor, so a path swapped in between cannot pass.
bool privateToUs(int fd, bool directory, const std::string &path, std::string &why) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    if (directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
        why = path + ": not a " + (directory ? "directory" : "regular file");
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        why = path + ": owned by another user";
        return false;
    }
    if (st.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        why = path + ": mode " + mode + " lets other users in";
        return false;
    }
    return true;
}

} // namespace

std::string SharedBoardFile::nameProblem(const std::string &name) {
    if (validName(name))
        return "";
    return quoted(name) +
           " is not a board name (letters, digits, '.', '_' and '-', up to 64, not starting with "
           "'.')";
}

std::unique_ptr<SharedBoardFile> SharedBoardFile::open(const std::string &name, std::string &why) {
    if (!validName(name)) {
        why = nameProblem(name);
        return nullptr;
    }
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = "/tmp";
    std::string sub = "xq4620-sim-" + std::to_string(::geteuid());
    if (runtime && *runtime) {
        base = runtime;
        sub = "xq4620-sim";
    }
    const Fd baseFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (baseFd.get() < 0) {
        why = base + ": " + std::strerror(errno);
        return nullptr;
    }
    const std::string dirPath = base + "/" + sub;
    if (::mkdirat(baseFd.get(), sub.c_str(), 0700) != 0 && errno != EEXIST) {
        why = dirPath + ": " + std::strerror(errno);
        return nullptr;
    }
    // O_NOFOLLOW: a symbolic link planted under that name is not followed.
    const Fd dirFd(
        ::openat(baseFd.get(), sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dirFd.get() < 0) {
        why = dirPath + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!privateToUs(dirFd.get(), true, dirPath, why))
        return nullptr;
    const std::string path = dirPath + "/" + name;
    Fd fd(::openat(dirFd.get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!privateToUs(fd.get(), false, path, why))
        return nullptr;
    return std::unique_ptr<SharedBoardFile>(new SharedBoardFile(fd.release(), name, path));
}

SharedBoardFile::~SharedBoardFile() {
    ::close(fd_);
}

int32_t SharedBoardFile::lock(int32_t timeoutMs) {
    return lockWithin(fd_, timeoutMs, "simulated board " + name_);
}

void SharedBoardFile::unlock() {
    unlockFile(fd_);
}

namespace {

// All of `size` bytes from offset 0, however many calls `io` (pread or
// pwrite) needs for them.
template <typename Io, typename Byte> bool wholeState(Io io, int fd, Byte *state, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = io(fd, state + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

SharedBoardFile::Loaded SharedBoardFile::load(uint8_t *state, size_t size, std::string &why) {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        why = std::strerror(errno);
        return Loaded::Damaged;
    }
    if (st.st_nlink == 0)
        return Loaded::Removed;
    // Only a file just created is empty; one cut short or grown is not
    // quietly taken for a new board.
    if (st.st_size == 0)
        return Loaded::Fresh;
    if (static_cast<size_t>(st.st_size) != size) {
        why = std::to_string(st.st_size) + " bytes where a board's state takes " +
              std::to_string(size);
        return Loaded::Damaged;
    }
    errno = 0;
    if (!wholeState(::pread, fd_, state, size)) {
        why = errno ? std::strerror(errno) : "cut short while being read";
        return Loaded::Damaged;
    }
    return Loaded::Whole;
}

bool SharedBoardFile::store(const uint8_t *state, size_t size) {
    return wholeState(::pwrite, fd_, state, size);
}

} // namespace vtx::detail
