// SPDX-License-Identifier: MIT
#include "virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr Millis kServerStartTimeout(15000);

// Reads what Xvfb writes to its -displayfd descriptor once it listens: the
// display number and a newline. Empty if it ends or the time runs out first.
std::string ReadDisplayNumber(int fd) {
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + kServerStartTimeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        pollfd pfd = {fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) == 0)
            return {};
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        if (c == '\n')
            return number;
        number += c;
    }
}

} // namespace

VirtualDisplay::~VirtualDisplay() {
    if (!m_server.Running())
        return;
    m_server.Kill(SIGTERM);
}

bool VirtualDisplay::Start(int width, int height, const std::string &logPath, std::string *error) {
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int ready[2];
    if (log < 0 || pipe2(ready, O_CLOEXEC) != 0) {
        *error = logPath + ": " + std::strerror(errno);
        if (log >= 0)
            close(log);
        return false;
    }
    // The server inherits the write end; we keep only the read end, so an
    // early exit of the server shows as end of file.
    fcntl(ready[1], F_SETFD, 0);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // -noreset: the server outlives the last client, as the tests start one
    // panel after another.
    const bool started = m_server.Start({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen",
                                         "0", screen, "-noreset", "-nolisten", "tcp"},
                                        Environment::Current(), log, log, error);
    close(ready[1]);
    close(log);
    const std::string number = started ? ReadDisplayNumber(ready[0]) : std::string();
    close(ready[0]);
    if (!started)
        return false;
    if (number.empty()) {
        m_server.Kill(SIGKILL);
        *error = "Xvfb did not start: " + ReadFile(logPath);
        return false;
    }
    m_name = ":" + number;
    return true;
}

Environment VirtualDisplay::ClientEnvironment() const {
    Environment env = Environment::Current();
    env.Without("WAYLAND_DISPLAY").Without("QT_QPA_PLATFORM").With("DISPLAY", m_name);
    return env;
}
