// SPDX-License-Identifier: MIT
// A session recorded as a script: every register access this process makes
// (as the adapter library reports it), with the pauses between them, as
// the shell, Python or i2ctransfer form. Writes are the script's lines;
// reads, and accesses that failed, are comments at their place, so that the
// script makes the writes the chip took, in order and with their values.
#ifndef EXPORT_RECORDER_H
#define EXPORT_RECORDER_H

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/forms.h"
#include "vtx/observer.h"

namespace exporter {

struct Access {
    vtx::RegisterAccess access;
    std::chrono::steady_clock::time_point at;
    std::chrono::system_clock::time_point wall;
};

// Pauses shorter than this are the bus's own pace and are left out.
inline constexpr double kShortestPause = 0.1; // seconds

// The start of a new recording: the interpreter line, a line that marks
// the file as a recording of `format`, where it came from, and what the
// script needs before its first access (the bus or board it is given).
std::string recordingPreamble(Format format, const Origin &origin);

// Whether `text` (a file's contents) may be appended to as a recording of
// `format`: empty, or starting with its preamble's first lines.
bool continues(std::string_view text, Format format);

// The lines for `accesses` under a comment naming `title`, each pause of at
// least kShortestPause kept (cut to `longest` seconds when given), the
// pause before the first counted from `previous`; a comment ending the
// block records the time of its last access for the next block.
std::string recordingBlock(Format format, std::string_view title,
                           const std::vector<Access> &accesses,
                           std::optional<std::chrono::system_clock::time_point> previous,
                           std::optional<double> longest);

// The time of the last access of the last block of a recording.
std::optional<std::chrono::system_clock::time_point> lastAccessIn(std::string_view text);

// Observes this process's accesses from start() to stop() (or its end) and
// appends them to a file at each flush(), through the register files'
// checked, editor-like writing. One recorder observes at a time.
class Recorder {
public:
    Recorder(std::string path, Format format, std::optional<double> longestPause, Origin origin);
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    enum class Check { Ok, Unreadable, NotRecording };
    // Whether the file can take the recording: absent, or a regular file
    // that is empty or a recording of this form; else `error` says why.
    Check check(std::string &error) const;
    // Writes the preamble now, for a file that is absent or empty. A
    // recording begun this way is a session of its own: its first pause
    // is not counted from the last access of one the file holds already.
    bool begin(std::string &error);
    void start();
    void stop();
    bool pending() const;
    // Appends the accesses observed since the last flush (none: nothing is
    // written) under `title`; false with `error` set, the accesses kept for
    // the next try.
    bool flush(std::string_view title, std::string &error);

    const std::string &path() const { return path_; }
    Format format() const { return format_; }

private:
    void observe(const vtx::RegisterAccess &access);

    std::string path_;
    Format format_;
    std::optional<double> longest_;
    Origin origin_;
    mutable std::mutex mutex_;
    std::vector<Access> accesses_;
    std::optional<std::chrono::system_clock::time_point> last_;
    bool observing_ = false;
    bool fresh_ = false;
};

} // namespace exporter

#endif
