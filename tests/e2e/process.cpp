// SPDX-License-Identifier: MIT
#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string NameOf(const std::string &entry) {
    return entry.substr(0, entry.find('='));
}

bool Matches(const std::string &pattern, const std::string &name) {
    if (!pattern.empty() && pattern.back() == '*')
        return name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return name == pattern;
}

std::vector<char *> Pointers(const std::vector<std::string> &strings) {
    std::vector<char *> pointers;
    for (const std::string &s : strings)
        pointers.push_back(const_cast<char *>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

Environment Environment::Current() {
    Environment env;
    for (char **entry = environ; *entry; ++entry)
        env.m_entries.emplace_back(*entry);
    return env;
}

Environment &Environment::Without(const std::string &name) {
    std::vector<std::string> kept;
    for (const std::string &entry : m_entries) {
        if (!Matches(name, NameOf(entry)))
            kept.push_back(entry);
    }
    m_entries.swap(kept);
    return *this;
}

Environment &Environment::With(const std::string &name, const std::string &value) {
    Without(name);
    m_entries.push_back(name + "=" + value);
    return *this;
}

std::optional<std::string> Environment::Get(const std::string &name) const {
    for (const std::string &entry : m_entries) {
        if (NameOf(entry) == name)
            return entry.substr(name.size() + 1);
    }
    return std::nullopt;
}

Child::~Child() {
    if (Running())
        Kill(SIGKILL);
}

bool Child::Start(const std::vector<std::string> &argv, const Environment &env, int outFd,
                  int errFd, std::string *error) {
    m_status.reset();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<char *> args = Pointers(argv);
    std::vector<char *> envp = Pointers(env.Entries());
    const int rc = posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        if (error)
            *error = argv[0] + ": " + std::strerror(rc);
        return false;
    }
    return true;
}

std::optional<int> Child::Wait(Millis timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Running()) {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid || (done < 0 && errno != EINTR)) {
            m_pid = -1;
            m_status = status;
            break;
        }
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(Millis(5));
    }
    return m_status;
}

void Child::Kill(int signal) {
    if (!Running())
        return;
    kill(m_pid, signal);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    m_status = status;
}

bool CommandResult::Succeeded() const {
    return started && !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string CommandResult::Describe(const std::vector<std::string> &argv) const {
    std::string text;
    for (const std::string &arg : argv)
        text += (text.empty() ? "" : " ") + arg;
    if (!started)
        return text + ": could not be started: " + err;
    text += timedOut ? ": timed out" : ": " + DescribeStatus(status);
    return err.empty() ? text : text + ": " + err;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DescribeStatus(int status) {
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

CommandResult RunCommand(const std::vector<std::string> &argv, const Environment &env,
                         Millis timeout) {
    CommandResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    Child child;
    result.started = child.Start(argv, env, outPipe[1], errPipe[1], &result.err);
    close(outPipe[1]);
    close(errPipe[1]);

    const Clock::time_point deadline = Clock::now() + timeout;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = result.started ? 2 : 0;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
        if (left <= 0) {
            result.timedOut = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1; // poll skips negative descriptors
                --open;
            }
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    if (result.started && !result.timedOut) {
        const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
        const std::optional<int> status = child.Wait(std::max(left, Millis(0)));
        if (status)
            result.status = *status;
        else
            result.timedOut = true;
    }
    return result; // a child still running is killed here
}
