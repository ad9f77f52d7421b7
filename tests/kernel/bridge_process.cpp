// SPDX-License-Identifier: MIT
#include "bridge_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include <linux/i2c-dev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <i2c/smbus.h>
}

namespace {

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

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
            return exitStatus(status);
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
    return exitStatus(status);
}

CommandRun runCommand(const std::string &arguments) {
    const char *program = std::getenv("XQ_COMMAND_PROGRAM");
    CommandRun run;
    if (!program)
        return run;
    const std::string command =
        std::string(program) + " " + arguments + " </dev/null 2>/tmp/xq-command.err";
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char chunk[512];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;)
            run.out.append(chunk, n);
        const int status = ::pclose(p);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }
    if (FILE *f = std::fopen("/tmp/xq-command.err", "r")) {
        char chunk[512];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            run.err.append(chunk, n);
        std::fclose(f);
    }
    return run;
}

CommandProcess::~CommandProcess() {
    if (pid_ > 0)
        stop(SIGKILL);
}

bool CommandProcess::start(const std::vector<std::string> &arguments, std::string &error) {
    const char *program = std::getenv("XQ_COMMAND_PROGRAM");
    if (!program) {
        error = "XQ_COMMAND_PROGRAM is not set";
        return false;
    }
    std::vector<std::string> args = {program};
    args.insert(args.end(), arguments.begin(), arguments.end());
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
        ::dup2(fds[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(null, STDIN_FILENO);
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

bool CommandProcess::readSome(int timeoutMs) {
    pollfd p{out_, POLLIN, 0};
    if (out_ < 0 || ::poll(&p, 1, timeoutMs) <= 0)
        return out_ >= 0;
    char chunk[512];
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
        return true;
    if (n <= 0) {
        ::close(out_);
        out_ = -1;
        return false;
    }
    output_.append(chunk, size_t(n));
    return true;
}

bool CommandProcess::awaitOutput(const std::string &text, int seconds, int times) {
    for (int waited = 0; waited < seconds * 10; ++waited) {
        if (occurrences(output_, text) >= times)
            return true;
        if (!readSome(100))
            break;
    }
    return occurrences(output_, text) >= times;
}

int CommandProcess::stop(int signal) {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, signal);
    // Whatever it printed last; one that outlives the signal long is killed.
    for (int waited = 0; readSome(100);) {
        if (++waited == 100)
            ::kill(pid_, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return exitStatus(status);
}

int occurrences(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); !what.empty() && at != std::string::npos;
         at = text.find(what, at + what.size()))
        ++n;
    return n;
}

int bareRead(const std::string &bus, uint8_t reg) {
    const int fd = ::open(bus.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    int value = -EIO;
    if (::ioctl(fd, I2C_SLAVE, 0x36) == 0)
        value = i2c_smbus_read_byte_data(fd, reg);
    ::close(fd);
    return value;
}
