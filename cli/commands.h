// SPDX-License-Identifier: MIT
// The subcommands. Each checks its arguments before it touches the adapter,
// so bad usage never reaches the chip, and returns the exit status.
#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include <string>
#include <vector>

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

} // namespace cli

#endif
