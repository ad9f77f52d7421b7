// SPDX-License-Identifier: MIT
// The subcommands. Each checks its arguments before it touches the adapter,
// so bad usage never reaches the chip, and returns the exit status.
#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace exporter {
class Recorder;
}

namespace cli {

// register_commands.cpp
int runInfo(bool json);
int runDump(bool json);
// Without `force`, an access the chip would not take part in (a read-only
// or absent register written, a write-only or absent one read) is refused.
int runRead(const std::string &reg, bool force);
int runWrite(const std::string &reg, const std::string &value, bool force);
int runReset();
int runSleep();

// field_commands.cpp
int runFields(bool json);
int runGet(const std::vector<std::string> &names, bool json);
int runSet(const std::vector<std::string> &assignments);

// power.cpp: the board's supply (on, off, status) and the bridge's GPIO lines
int runPower(const std::string &setting, bool json);
int runGpio(const std::vector<std::string> &assignments, bool force, bool json);

// adapters.cpp
int runAdapters(bool json);

// doctor.cpp: 0 when the panel would work
int runDoctor(bool json);

// file_commands.cpp
int runSave(const std::string &path);
int runLoad(const std::string &path);

// simulate.cpp
int runSimulate(const std::string &fault, const std::string &setting);

// watch.cpp
int runWatch(const std::vector<std::string> &names, int intervalMs, int count, bool json);

// export_commands.cpp
// A register file (`path`; "" for the chip's current set-up registers, read
// under one hold) in `format`, to `out` ("" or "-": standard output).
int runExport(const std::string &format, const std::string &path, const std::string &out);

// --record: observes every register access from its making to finish(),
// which appends them to the file as a script of `format`. A form that is
// none, or a file that is no recording of it, is told at once: status()
// is then not 0 and the command is not to run.
class Recording {
public:
    Recording(const std::string &path, const std::string &format,
              std::optional<double> longestPause);
    ~Recording();
    int status() const { return status_; }
    // Appends the accesses under `title` (the command line); the command's
    // `status`, or 1 when the file could not be written.
    int finish(const std::string &title, int status);

private:
    std::string path_;
    int status_ = 0;
    std::unique_ptr<exporter::Recorder> recorder_;
};

} // namespace cli

#endif
