// SPDX-License-Identifier: MIT
#include "bridge_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

BridgeProcess::~BridgeProcess() {
    std::vector<std::string> ignored;
    stop(ignored);
}

bool BridgeProcess::start(const std::string &serial, const std::string &release, std::string &error,
                          const std::vector<std::string> &options) {
    return launch(serial, release, error, options) && awaitBus(error);
}

bool BridgeProcess::launch(const std::string &serial, const std::string &release,
                           std::string &error, const std::vector<std::string> &options) {
    const char *program = std::getenv("XQ_BRIDGE_PROGRAM");
    if (!program) {
        error = "XQ_BRIDGE_PROGRAM is not set";
        return false;
    }
    std::vector<std::string> args = {program, "--serial", serial, "--release", release, "--dump"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::execv(program, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    if (pid_ < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool BridgeProcess::awaitBus(std::string &error) {
    if (pid_ <= 0) {
        error = "the bridge was not started";
        return false;
    }
    // TCG makes USB enumeration slow, but not this slow.
    for (int waited = 0; waited < 600; ++waited) {
        const size_t eol = buffered_.find('\n');
        if (eol != std::string::npos) {
            bus_ = buffered_.substr(0, eol);
            buffered_.erase(0, eol + 1);
            return true;
        }
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char chunk[256];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0)
            break;
        buffered_.append(chunk, size_t(n));
    }
    error = "the bridge printed no bus (see its messages above)";
    return false;
}

int BridgeProcess::busNumber() const {
    const size_t dash = bus_.rfind('-');
    return dash == std::string::npos ? -1 : std::atoi(bus_.c_str() + dash + 1);
}

void BridgeProcess::signal(int signal) const {
    if (pid_ > 0)
        ::kill(pid_, signal);
}

int BridgeProcess::wait(int seconds) {
    for (int waited = 0; pid_ > 0 && waited < seconds * 10; ++waited) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            ::close(out_);
            out_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        ::usleep(100000);
    }
    return -1;
}

int BridgeProcess::stop(std::vector<std::string> &dump) {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    char chunk[256];
    for (ssize_t n; (n = ::read(out_, chunk, sizeof chunk)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        buffered_.append(chunk, size_t(n));
    }
    ::close(out_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    out_ = -1;
    for (size_t at = 0, eol; (eol = buffered_.find('\n', at)) != std::string::npos; at = eol + 1)
        dump.push_back(buffered_.substr(at, eol - at));
    buffered_.clear();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
