// SPDX-License-Identifier: MIT
#include "emulated_bridge/vhci.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace emulated_bridge {
namespace {

// The states of a vhci port (the kernel's enum usbip_device_status): nobody
// uses it; a device is plugged in and addressed.
constexpr int kPortFree = 4;
constexpr int kPortUsed = 6;
// How often a port whose old device is on its way out is looked at again.
constexpr int kSettlePollMs = 20;

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
// (hub, port, state, speed, device id, socket, USB device), and where the
// port is: each file starts with a header line, then lists the USB 2 hub's
// ports and the USB 3 hub's of its controller, in order.
struct PortLine {
    std::string hub;
    int port = -1;
    int state = -1;
    std::string device;
    int controller = 0;
    int hubPort = 0;
};

std::vector<PortLine> portLines(const std::string &statusText) {
    std::vector<PortLine> lines;
    std::istringstream in(statusText);
    int controller = -1, hs = 0, ss = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("hub ", 0) == 0) {
            ++controller;
            hs = ss = 0;
            continue;
        }
        std::istringstream fields(line);
        PortLine p;
        std::string speed, id, socket;
        if (fields >> p.hub >> p.port >> p.state && p.port >= 0) {
            fields >> speed >> id >> socket >> p.device;
            p.controller = controller < 0 ? 0 : controller;
            p.hubPort = p.hub == "ss" ? ++ss : ++hs;
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

bool portPlace(const std::string &statusText, int port, int &controller, int &hubPort) {
    for (const PortLine &p : portLines(statusText)) {
        if (p.port == port) {
            controller = p.controller;
            hubPort = p.hubPort;
            return true;
        }
    }
    return false;
}

int attachToFreePort(const std::function<std::string()> &readStatus, int speed,
                     const AttachTry &tryAttach, const PortSettling &settling, int settleMs) {
    // Every port taken by someone else between a read and the attach costs
    // one more read; as many as there are ports is more than ever needed.
    size_t lost = 0, most = 0;
    for (int waited = 0;;) {
        const std::string status = readStatus();
        const std::vector<int> ports = freePorts(status, speed);
        if (ports.empty())
            return -ENOSPC;
        most = std::max(most, ports.size());
        int port = -1;
        for (int p : ports) {
            if (!settling(status, p)) {
                port = p;
                break;
            }
        }
        if (port < 0) {
            if (waited >= settleMs)
                return -EAGAIN;
            std::this_thread::sleep_for(std::chrono::milliseconds(kSettlePollMs));
            waited += kSettlePollMs;
            continue;
        }
        const int r = tryAttach(port);
        if (r == 0)
            return port;
        if (r != -EBUSY || ++lost > most)
            return r;
    }
}

bool hubHoldsDevice(const std::string &vhciDir, const std::string &statusText, int port,
                    int speed) {
    int controller = 0, hubPort = 0;
    if (!portPlace(statusText, port, controller, hubPort))
        return false;
    // vhci_hcd.0's siblings vhci_hcd.1... are the other controllers; each
    // has a root hub of each speed, usbN, whose ports hold devices N-P.
    const std::string dir = vhciDir.substr(0, vhciDir.rfind('.') + 1) + std::to_string(controller);
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        std::ifstream rate(entry.path() / "speed");
        int mbits = 0;
        if (name.rfind("usb", 0) != 0 || !(rate >> mbits) ||
            (mbits >= 5000) != (speed == kSuperSpeed))
            continue;
        return std::filesystem::exists(
            entry.path() / (name.substr(3) + "-" + std::to_string(hubPort)), error);
    }
    return false;
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
    const auto attach = [&](int port) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return -errno;
        // The kernel takes its own reference to fds[1] from the number
        // written here, so this process closes its copy right after. The
        // device id only labels requests on this connection; it is made like
        // a remote host's (bus 1, device port + 2).
        const std::string request = std::to_string(port) + " " + std::to_string(fds[1]) + " " +
                                    std::to_string(0x10000 | (port + 2)) + " " +
                                    std::to_string(speed);
        const int r = writeSysfs(vhciDir + "/attach", request);
        ::close(fds[1]);
        if (r < 0) {
            ::close(fds[0]);
            fds[0] = -1;
        }
        return r;
    };
    const auto settling = [&](const std::string &status, int port) {
        return hubHoldsDevice(vhciDir, status, port, speed);
    };
    const int port = attachToFreePort([&] { return readStatus(vhciDir); }, speed, attach, settling);
    if (port == -ENOSPC) {
        a.error = vhciDir + ": every USB/IP port is in use";
    } else if (port == -EAGAIN) {
        a.error = vhciDir + ": the kernel is still removing the devices last plugged into every "
                            "free port (does a program keep their /dev/i2c-N open?)";
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
