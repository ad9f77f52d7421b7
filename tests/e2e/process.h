// SPDX-License-Identifier: MIT
// Child processes for the end-to-end tests: the X server, the panel and the
// X tools that drive it, each with an environment of its own and a deadline.
#ifndef TESTS_E2E_PROCESS_H
#define TESTS_E2E_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using Millis = std::chrono::milliseconds;

// NAME=value entries, as execve takes them.
class Environment {
public:
    // This process's environment.
    static Environment Current();

    // Drops every variable named `name`, or starting with it when it ends
    // in '*'.
    Environment &Without(const std::string &name);
    // Replaces or adds NAME=value.
    Environment &With(const std::string &name, const std::string &value);
    std::optional<std::string> Get(const std::string &name) const;

    const std::vector<std::string> &Entries() const { return m_entries; }

private:
    std::vector<std::string> m_entries;
};

// One running child. The destructor kills it if it is still running.
class Child {
public:
    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child();

    // Starts argv[0] (looked up in PATH) with standard input from /dev/null
    // and standard output and error into `outFd` and `errFd` (-1: the test's
    // own). Every other descriptor of ours that is not close-on-exec is
    // inherited. Returns false and says why in `error`.
    bool Start(const std::vector<std::string> &argv, const Environment &env, int outFd = -1,
               int errFd = -1, std::string *error = nullptr);

    // Started and not yet seen to end.
    bool Running() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

    // Waits for the child to end; its wait status (kept for later calls),
    // or nothing on time-out.
    std::optional<int> Wait(Millis timeout);
    bool HasEnded() { return Wait(Millis(0)).has_value(); }
    // Ends the child with `signal` and reaps it.
    void Kill(int signal);

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

struct CommandResult {
    bool started = false;
    bool timedOut = false;
    int status = -1; // wait status
    std::string out;
    std::string err;

    bool Succeeded() const;
    // "xdotool ...: exit 1: <stderr>", for failure messages.
    std::string Describe(const std::vector<std::string> &argv) const;
};

// Runs a command to its end, collecting its output; kills it at the deadline.
CommandResult RunCommand(const std::vector<std::string> &argv, const Environment &env,
                         Millis timeout);

// A file's whole text, such as a child's log; empty if it cannot be read.
std::string ReadFile(const std::string &path);

// "exit 0", "signal 9", for messages.
std::string DescribeStatus(int status);

#endif
