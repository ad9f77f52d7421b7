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

// The states of a vhci port (the kernel's enum usbip_device_status): nobody
// uses it; a device is plugged in and addressed.
constexpr int kPortFree = 4;
constexpr int kPortUsed = 6;

int writeSysfs(const std::string &path, const std::string &text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int err = errno;
    ::close(fd);
    if (n < 0)
        return -err;
    return n == ssize_t(text.size()) ? 0 : -EIO;
}

// One port line of a status file: "hs  0000 006 002 00010002 000003 1-1"
// (hub, port, state, speed, device id, socket, USB device).
struct PortLine {
    std::string hub;
    int port = -1;
    int state = -1;
    std::string device;
};

std::vector<PortLine> portLines(const std::string &statusText) {
    std::vector<PortLine> lines;
    std::istringstream in(statusText);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        PortLine p;
        std::string speed, id, socket;
        // A header line ("hub port sta ...") has no number for the port.
        if (fields >> p.hub >> p.port >> p.state && p.port >= 0) {
            fields >> speed >> id >> socket >> p.device;
            lines.push_back(p);
        }
    }
    return lines;
}

} // namespace

std::vector<int> freePorts(const std::string &statusText, int speed) {
    const std::string hub = speed == kSuperSpeed ? "ss" : "hs";
    std::vector<int> ports;
    for (const PortLine &p : portLines(statusText)) {
        if (p.hub == hub && p.state == kPortFree)
            ports.push_back(p.port);
    }
    return ports;
}

std::string deviceOnPort(const std::string &statusText, int port) {
    for (const PortLine &p : portLines(statusText)) {
        if (p.port == port)
            return p.state == kPortUsed && p.device != "0-0" ? p.device : std::string();
    }
    return {};
}

int attachToFreePort(const std::function<std::string()> &readStatus, int speed,
                     const AttachTry &tryAttach) {
    // Every port taken by someone else between a read and the attach costs
    // one more read; as many as there are ports is more than ever needed.
    std::vector<int> ports = freePorts(readStatus(), speed);
    for (size_t tries = 0, most = ports.size(); !ports.empty(); ++tries) {
        const int r = tryAttach(ports.front());
        if (r == 0)
            return ports.front();
        if (r != -EBUSY || tries == most)
            return r;
        ports = freePorts(readStatus(), speed);
    }
    return -ENOSPC;
}

std::string readStatus(const std::string &vhciDir) {
    std::string text;
    for (int controller = 0;; ++controller) {
        std::ifstream file(vhciDir + "/status" +
                           (controller ? "." + std::to_string(controller) : ""));
        if (!file)
            return text;
        std::stringstream s;
        s << file.rdbuf();
        text += s.str();
    }
}

Attachment attachDevice(int speed, const std::string &vhciDir) {
    Attachment a;
    if (::access((vhciDir + "/status").c_str(), R_OK) != 0) {
        a.error = vhciDir + "/status: cannot read it; load the vhci-hcd module "
                            "(sudo modprobe vhci-hcd)";
        return a;
    }
    int fds[2] = {-1, -1};
    const int port =
        attachToFreePort([&] { return readStatus(vhciDir); }, speed,
                         [&](int p) {
                             if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
                                 return -errno;
                             // The kernel takes its own reference to fds[1] from the number
                             // written here, so this process closes its copy right after. The
                             // device id only labels requests on this connection; it is made like
                             // a remote host's (bus 1, device port + 2).
                             const std::string request =
                                 std::to_string(p) + " " + std::to_string(fds[1]) + " " +
                                 std::to_string(0x10000 | (p + 2)) + " " + std::to_string(speed);
                             const int r = writeSysfs(vhciDir + "/attach", request);
                             ::close(fds[1]);
                             if (r < 0) {
                                 ::close(fds[0]);
                                 fds[0] = -1;
                             }
                             return r;
                         });
    if (port == -ENOSPC) {
        a.error = vhciDir + ": every USB/IP port is in use";
    } else if (port < 0) {
        a.error = vhciDir + "/attach: " + std::strerror(-port);
    } else {
        a.deviceFd = fds[0];
        a.port = port;
    }
    return a;
}

bool detachDevice(int port, const std::string &vhciDir) {
    return writeSysfs(vhciDir + "/detach", std::to_string(port)) == 0;
}

} // namespace emulated_bridge
