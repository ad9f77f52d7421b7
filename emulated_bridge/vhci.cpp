// SPDX-License-Identifier: MIT
#include "emulated_bridge/vhci.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace emulated_bridge {
namespace {

// The vhci port state of a port nobody uses.
constexpr int kPortFree = 4;
// USB_SPEED_FULL: what an i2c-tiny-usb is.
constexpr int kFullSpeed = 2;

bool writeSysfs(const std::string &path, const std::string &text, std::string &error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int err = errno;
    ::close(fd);
    if (n != ssize_t(text.size())) {
        error = path + ": " + (n < 0 ? std::strerror(err) : "short write");
        return false;
    }
    return true;
}

} // namespace

int freeHighSpeedPort(const std::string &statusText) {
    // "hub port sta spd dev      sockfd local_busid" and then one line a
    // port: "hs  0000 004 000 00000000 000000 0-0".
    std::istringstream in(statusText);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string hub;
        int port = -1, state = -1;
        if (fields >> hub >> port >> state && hub == "hs" && state == kPortFree && port >= 0)
            return port;
    }
    return -1;
}

Attachment attachDevice(const std::string &vhciDir) {
    Attachment a;
    std::ifstream statusFile(vhciDir + "/status");
    if (!statusFile) {
        a.error = vhciDir + "/status: cannot read it; load the vhci-hcd module "
                            "(sudo modprobe vhci-hcd)";
        return a;
    }
    std::stringstream status;
    status << statusFile.rdbuf();
    const int port = freeHighSpeedPort(status.str());
    if (port < 0) {
        a.error = vhciDir + ": every USB/IP port is in use";
        return a;
    }

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        a.error = std::string("socketpair: ") + std::strerror(errno);
        return a;
    }
    // The kernel takes its own reference to fds[1] from the number written
    // here, so this process closes its copy right after.
    // The device id only labels requests on this connection; it is made
    // like a remote host's (bus 1, device port + 2).
    const std::string request = std::to_string(port) + " " + std::to_string(fds[1]) + " " +
                                std::to_string(0x10000 | (port + 2)) + " " +
                                std::to_string(kFullSpeed);
    const bool attached = writeSysfs(vhciDir + "/attach", request, a.error);
    ::close(fds[1]);
    if (!attached) {
        ::close(fds[0]);
        return a;
    }
    a.deviceFd = fds[0];
    a.port = port;
    return a;
}

bool detachDevice(int port, const std::string &vhciDir) {
    std::string error;
    return writeSysfs(vhciDir + "/detach", std::to_string(port), error);
}

} // namespace emulated_bridge
