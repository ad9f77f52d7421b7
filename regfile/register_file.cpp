// SPDX-License-Identifier: MIT
#include "regfile/register_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "chip/field_value.h"
#include "chip/hex_byte.h"
#include "chip/xq4620.h"

namespace regfile {
namespace {

// A set-up is nine short lines; anything this large is not a register file.
constexpr size_t kMaxFileSize = 1 << 20;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::string quotedWord(std::string_view word) {
    std::string out = "\"";
    for (char c : word) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool allHexDigits(std::string_view word) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X'))
        word.remove_prefix(2);
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c));
    });
}

std::string notAByte(const char *what, std::string_view word) {
    if (allHexDigits(word))
        return std::string(what) + " " + quotedWord(word) + " does not fit in a byte (00 to FF)";
    return std::string(what) + " " + quotedWord(word) + " is not a hex number";
}

} // namespace

Contents parse(std::string_view text) {
    Contents out;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::map<uint8_t, int> seenOn;
    int lineNo = 0;
    while (!text.empty() || lineNo == 0) {
        ++lineNo;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (const size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        const auto w = words(line);
        if (w.empty())
            continue;
        auto refuse = [&](std::string reason) { out.problems.push_back({lineNo, reason}); };
        if (w.size() != 2) {
            refuse(w.size() == 1 ? "a register without a value (expected \"0xRR 0xVV\")"
                                 : "text after the value (expected \"0xRR 0xVV\")");
            continue;
        }
        const auto reg = chip::parseHexByte(w[0]);
        const auto value = chip::parseHexByte(w[1]);
        if (!reg) {
            refuse(notAByte("register", w[0]));
            continue;
        }
        const chip::Register *info = chip::findRegister(*reg);
        if (!info) {
            refuse("register " + chip::hexByte(*reg) + " is not one of the chip's registers");
            continue;
        }
        if (info->access == chip::Access::ReadOnly) {
            refuse(chip::registerLabel(info->address) + " is read-only");
            continue;
        }
        if (info->access == chip::Access::WriteOnly) {
            refuse(chip::registerLabel(info->address) + " is write-only and not part of a set-up");
            continue;
        }
        if (!value) {
            refuse(notAByte("value", w[1]));
            continue;
        }
        const auto [it, fresh] = seenOn.emplace(*reg, lineNo);
        if (!fresh) {
            refuse(chip::registerLabel(info->address) + " is already set on line " +
                   std::to_string(it->second));
            continue;
        }
        out.entries.push_back({*reg, *value, lineNo});
    }
    if (out.problems.empty() && out.entries.empty())
        out.problems.push_back({0, "the file sets no register"});
    if (!out.problems.empty())
        out.entries.clear();
    std::sort(out.entries.begin(), out.entries.end(),
              [](const Entry &a, const Entry &b) { return a.reg < b.reg; });
    return out;
}

namespace {

Contents failed(const std::string &reason) {
    Contents out;
    out.problems.push_back({0, reason});
    out.unreadable = true;
    return out;
}

// Everything `fd` gives up to the end, or the reason it would not.
Contents readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failed(std::strerror(errno));
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxFileSize)
            return failed("larger than a register file can be (1 MiB)");
    }
    return parse(text);
}

} // namespace

Contents read(const std::string &path) {
    // O_NONBLOCK: opening a FIFO nobody writes to would wait for ever; the
    // kind of file is checked on the descriptor, before any read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failed(std::strerror(errno));
    struct stat st {};
    Contents out;
    if (::fstat(fd, &st) != 0)
        out = failed(std::strerror(errno));
    else if (S_ISDIR(st.st_mode))
        out = failed(std::strerror(EISDIR));
    else if (!S_ISREG(st.st_mode))
        out = failed("not a regular file");
    else
        out = readAll(fd);
    ::close(fd);
    return out;
}

Contents readFrom(int fd) {
    return readAll(fd);
}

std::string format(const std::vector<Entry> &entries, std::string_view writer) {
    std::string out = "# XQ4620 register file written by " + std::string(writer) + "\n" +
                      "# One register a line: address and value in hex. '#' starts a comment.\n";
    std::vector<Entry> sorted = entries;
    std::sort(sorted.begin(), sorted.end(),
              [](const Entry &a, const Entry &b) { return a.reg < b.reg; });
    for (const Entry &e : sorted) {
        out += chip::hexByte(e.reg) + " " + chip::hexByte(e.value);
        if (const chip::Register *info = chip::findRegister(e.reg)) {
            out += "  # " + std::string(info->name);
            const std::string set = chip::describeFields(e.reg, e.value);
            if (!set.empty())
                out += ": " + set;
        }
        out += "\n";
    }
    return out;
}

namespace {

// All of `text` to `fd`; false with errno set when it did not go.
bool writeAll(int fd, const std::string &text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The file a path names once symbolic links are followed, whether or not it
// exists yet (a link to a file still to be made names that file).
std::string resolved(const std::string &path, std::string &error) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return target;
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0) {
            error = std::strerror(errno);
            return "";
        }
        link.resize(static_cast<size_t>(n));
        if (!link.empty() && link[0] != '/') {
            const size_t slash = target.rfind('/');
            link = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + link;
        }
        target = link;
    }
    error = std::strerror(ELOOP);
    return "";
}

std::string directoryOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Rewrites an existing file where it is: every hard link keeps it, and so
// do its mode and owner. The new text is whole in memory first; only a
// failing disk can leave the file part-written, and that is said.
bool rewriteInPlace(const std::string &target, const std::string &text, std::string &error) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = ::ftruncate(fd, 0) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok)
        error = std::string(std::strerror(err)) + " (the file may now be incomplete)";
    return ok;
}

} // namespace

bool write(const std::string &path, const std::string &text, std::string &error) {
    const std::string target = resolved(path, error);
    if (target.empty())
        return false;
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
            return false;
        }
        // A file without write permission for us is one its owner meant to
        // keep: refused even where the system would let us (root).
        const bool ours = st.st_uid == ::geteuid();
        if (::access(target.c_str(), W_OK) != 0 || (ours && !(st.st_mode & S_IWUSR))) {
            error = std::string(std::strerror(EACCES)) + " (the file is read-only)";
            return false;
        }
        // Several names for one file, a file of another user's, or a
        // directory closed to us: only an in-place rewrite keeps it whole.
        if (st.st_nlink > 1 || !ours || ::access(directoryOf(target).c_str(), W_OK) != 0)
            return rewriteInPlace(target, text, error);
    }
    // Written beside the target and renamed over it, so that a full disk or
    // a crash leaves the old file as it was rather than half a set-up. The
    // temporary name is short, so that any name the target may have fits.
    std::string temp = directoryOf(target) + "/.xq4620-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // The file's group too, where we may give it (a member of that group).
    if (exists && ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return rewriteInPlace(target, text, error);
    }
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    if (ok)
        err = errno;
    ::unlink(temp.c_str());
    error = std::strerror(err ? err : EIO);
    return false;
}

std::string describe(const Problem &problem) {
    if (problem.line == 0)
        return problem.reason;
    return "line " + std::to_string(problem.line) + ": " + problem.reason;
}

} // namespace regfile
