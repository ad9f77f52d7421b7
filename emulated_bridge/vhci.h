// SPDX-License-Identifier: MIT
// Plugging a device into the kernel through USB/IP's virtual host controller
// (the vhci-hcd module): one end of a stream socket pair is handed to the
// controller's `attach` file, the other end is where the device answers. No
// network is involved.
#ifndef EMULATED_BRIDGE_VHCI_H
#define EMULATED_BRIDGE_VHCI_H

#include <string>

namespace emulated_bridge {

// The controller's sysfs directory.
inline const char kVhciDir[] = "/sys/devices/platform/vhci_hcd.0";

// The first free USB 2.0 port in the text of the controller's `status` file,
// or -1 when every port is taken.
int freeHighSpeedPort(const std::string &statusText);

// A full-speed device attached to a free port. `deviceFd` is this side's end
// of the connection, -1 when the attach failed; `error` then says why.
struct Attachment {
    int deviceFd = -1;
    int port = -1;
    std::string error;
};
Attachment attachDevice(const std::string &vhciDir = kVhciDir);

// Unplugs the device from `port`; the caller closes its end afterwards.
bool detachDevice(int port, const std::string &vhciDir = kVhciDir);

} // namespace emulated_bridge

#endif
