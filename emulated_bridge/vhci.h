// SPDX-License-Identifier: MIT
// Plugging a device into the kernel through USB/IP's virtual host controller
// (the vhci-hcd module): one end of a stream socket pair is handed to the
// controller's `attach` file, the other end is where the device answers. No
// network is involved. Several devices may be plugged in at once, by several
// processes: each takes a free port of the root hub for its speed.
#ifndef EMULATED_BRIDGE_VHCI_H
#define EMULATED_BRIDGE_VHCI_H

#include <functional>
#include <string>
#include <vector>

namespace emulated_bridge {

// The controller's sysfs directory. Its `status` file lists the ports of
// the first controller, `status.1`, `status.2`... those of the others (the
// module's nr_hcs); `attach` and `detach` take a port of any of them.
inline const char kVhciDir[] = "/sys/devices/platform/vhci_hcd.0";

// The kernel's USB_SPEED_FULL and USB_SPEED_SUPER: every bridge emulated
// here is a full-speed device.
constexpr int kFullSpeed = 2;
constexpr int kSuperSpeed = 5;

// The free ports, in the controller's numbering, of the root hub that takes
// a device of `speed` (the USB 3 hub, "ss", for a SuperSpeed device; the
// USB 2 hub, "hs", for the others), in the order of the text of the status
// files, each port a line: "hs  0003 004 000 00000000 000000 0-0".
std::vector<int> freePorts(const std::string &statusText, int speed);

// One attach of a device to `port`: 0, or a negated errno (-EBUSY when the
// port was taken since the status was read).
using AttachTry = std::function<int(int port)>;

// Whether the root hub still holds the device last plugged into free port
// `port` of `statusText`. vhci-hcd frees a port as soon as its connection
// ends, before the hub's thread has removed the device (which waits, for a
// bridge, until every program has closed its /dev/i2c-N); a device attached
// there meanwhile is never enumerated, the hub taking it for the old one.
using PortSettling = std::function<bool(const std::string &statusText, int port)>;

// Attaches to the first free port that `readStatus` lists for `speed` and
// `settling` does not hold, waiting up to `settleMs` while every free port is
// settling; when another process took the port meanwhile, reads the status
// again and tries the next free one. The port, or a negated errno: -ENOSPC
// when every port is taken, -EAGAIN when every free one is still settling,
// the error of a failed attempt otherwise.
int attachToFreePort(const std::function<std::string()> &readStatus, int speed,
                     const AttachTry &tryAttach, const PortSettling &settling,
                     int settleMs = 10000);

// Where `port` is listed: its controller (0 for the `status` file, 1 for
// `status.1`...) and its place on its root hub, from 1 (the P of the N-P of
// the USB device in it); false when it is not listed.
bool portPlace(const std::string &statusText, int port, int &controller, int &hubPort);

// The PortSettling of a real controller: whether sysfs still has a USB
// device in the root hub port where `port` of `statusText` is, for `speed`.
bool hubHoldsDevice(const std::string &vhciDir, const std::string &statusText, int port, int speed);

// A device of `speed` attached to a free port. `deviceFd` is this side's end
// of the connection, -1 when the attach failed; `error` then says why.
struct Attachment {
    int deviceFd = -1;
    int port = -1;
    std::string error;
};
Attachment attachDevice(int speed = kFullSpeed, const std::string &vhciDir = kVhciDir);

// The name of the USB device on `port` ("3-2": bus 3, port 2 of its root
// hub), which is also the directory name of its sysfs device, read from
// the status files once the kernel has addressed it; "" before.
std::string deviceOnPort(const std::string &statusText, int port);

// The text of every status file of the controllers in `vhciDir`, "" when
// there is none.
std::string readStatus(const std::string &vhciDir = kVhciDir);

// Unplugs the device from `port`; the caller closes its end afterwards.
bool detachDevice(int port, const std::string &vhciDir = kVhciDir);

} // namespace emulated_bridge

#endif
