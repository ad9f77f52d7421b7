// SPDX-License-Identifier: MIT
#include "export/recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "chip/hex_byte.h"
#include "export/script_lines.h"
#include "regfile/register_file.h"

namespace exporter {
namespace {

const char kLastAccess[] = "# last access at unix time ";

// The preamble's lines that mark a recording of `format`: its first two.
std::string marker(Format format) {
    const std::string preamble = recordingPreamble(format, Origin{});
    size_t end = preamble.find('\n');
    end = preamble.find('\n', end + 1);
    return preamble.substr(0, end + 1);
}

std::string errorText(int32_t result) {
    return "error " + std::to_string(result) + ": " + std::strerror(-result);
}

std::string accessLines(Format format, const vtx::RegisterAccess &a) {
    const std::string reg = chip::hexByte(a.reg), value = chip::hexByte(a.value);
    const std::string fields = commentText(fieldWords(a.reg, a.value), format);
    const std::string decoded = fields.empty() ? "" : " (" + fields + ")";
    if (!a.write) {
        if (a.result < 0)
            return "# read of " + reg + " failed here (" + errorText(a.result) + ")\n";
        return "# read " + reg + ": " + value + decoded + "\n";
    }
    const std::string line = writeLine(format, a.device, a.reg, a.value);
    if (a.result < 0)
        return "# the write of " + value + " to " + reg + " failed here (" + errorText(a.result) +
               "); not replayed: " + line + "\n";
    if (line.empty())
        return "# written to device " + chip::hexByte(static_cast<uint8_t>(a.device)) +
               ", which this form cannot reach: " + reg + " " + value + "\n";
    return line + (fields.empty() ? "" : "  # " + fields) + "\n";
}

// Whole file contents; an absent file is empty. Only a regular file is
// read, so that a FIFO or a device cannot hold the program.
bool readWhole(const std::string &path, std::string &text, std::string &error) {
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "not a regular file";
        return false;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

// The file as a recording of `format` to append to.
bool readRecording(const std::string &path, Format format, std::string &text, std::string &error) {
    if (!readWhole(path, text, error))
        return false;
    if (continues(text, format))
        return true;
    error = std::string("not a recording of the ") + formatName(format) +
            " form, so it is not appended to";
    return false;
}

} // namespace

std::string recordingPreamble(Format format, const Origin &origin) {
    return scriptPreamble(format, true, origin);
}

bool continues(std::string_view text, Format format) {
    return text.empty() || text.substr(0, marker(format).size()) == marker(format);
}

std::string recordingBlock(Format format, std::string_view title,
                           const std::vector<Access> &accesses,
                           std::optional<std::chrono::system_clock::time_point> previous,
                           std::optional<double> longest) {
    if (accesses.empty())
        return "";
    std::string out =
        "\n# " + commentText(title, format) + " (" + localTime(accesses.front().wall) + ")\n";
    const auto pause = [&](double seconds) {
        if (seconds < kShortestPause)
            return;
        if (longest && seconds > *longest)
            seconds = *longest;
        if (seconds > 0)
            out += pauseLine(format, seconds) + "\n";
    };
    if (previous)
        pause(std::chrono::duration<double>(accesses.front().wall - *previous).count());
    for (size_t i = 0; i < accesses.size(); ++i) {
        if (i > 0)
            pause(std::chrono::duration<double>(accesses[i].at - accesses[i - 1].at).count());
        out += accessLines(format, accesses[i].access);
    }
    const auto last = std::chrono::duration_cast<std::chrono::milliseconds>(
                          accesses.back().wall.time_since_epoch())
                          .count();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%lld.%03lld", static_cast<long long>(last / 1000),
                  static_cast<long long>(last % 1000));
    return out + kLastAccess + stamp + "\n";
}

std::optional<std::chrono::system_clock::time_point> lastAccessIn(std::string_view text) {
    const size_t at = text.rfind(kLastAccess);
    if (at == std::string_view::npos || (at > 0 && text[at - 1] != '\n'))
        return std::nullopt;
    const std::string rest(text.substr(at + sizeof kLastAccess - 1, 32));
    char *end = nullptr;
    const long long seconds = std::strtoll(rest.c_str(), &end, 10);
    if (end == rest.c_str() || *end != '.' || seconds < 0)
        return std::nullopt;
    const char *ms = end + 1;
    const long long millis = std::strtoll(ms, &end, 10);
    if (end != ms + 3 || (*end != '\n' && *end != '\0'))
        return std::nullopt;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::milliseconds(seconds * 1000 + millis)));
}

Recorder::Recorder(std::string path, Format format, std::optional<double> longestPause,
                   Origin origin)
    : path_(std::move(path)), format_(format), longest_(longestPause), origin_(std::move(origin)) {}

Recorder::~Recorder() {
    stop();
}

Recorder::Check Recorder::check(std::string &error) const {
    std::string text;
    if (!readWhole(path_, text, error))
        return Check::Unreadable;
    return readRecording(path_, format_, text, error) ? Check::Ok : Check::NotRecording;
}

bool Recorder::begin(std::string &error) {
    std::string text;
    if (!readRecording(path_, format_, text, error))
        return false;
    fresh_ = true;
    if (!text.empty())
        return true;
    return regfile::write(path_, recordingPreamble(format_, origin_), error);
}

void Recorder::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    observing_ = true;
    vtx::setAccessObserver([this](const vtx::RegisterAccess &a) { observe(a); });
}

void Recorder::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!observing_)
            return;
        observing_ = false;
    }
    vtx::setAccessObserver(nullptr);
}

void Recorder::observe(const vtx::RegisterAccess &access) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (observing_)
        accesses_.push_back(
            {access, std::chrono::steady_clock::now(), std::chrono::system_clock::now()});
}

bool Recorder::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !accesses_.empty();
}

bool Recorder::flush(std::string_view title, std::string &error) {
    std::vector<Access> accesses;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        accesses = accesses_;
    }
    if (accesses.empty())
        return true;
    std::string text;
    if (!readRecording(path_, format_, text, error))
        return false;
    if (text.empty())
        text = recordingPreamble(format_, origin_);
    const auto previous = last_ || fresh_ ? last_ : lastAccessIn(text);
    text += recordingBlock(format_, title, accesses, previous, longest_);
    if (!regfile::write(path_, text, error))
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    accesses_.erase(accesses_.begin(),
                    accesses_.begin() + static_cast<std::ptrdiff_t>(accesses.size()));
    last_ = accesses.back().wall;
    return true;
}

} // namespace exporter
