// SPDX-License-Identifier: MIT
// The device end of a USB/IP connection: requests arrive from the kernel's
// virtual host controller (vhci-hcd) as USBIP_CMD_SUBMIT records on a stream
// socket and are answered with USBIP_RET_SUBMIT records. Control transfers on
// endpoint 0 are answered at once; an interrupt (or bulk) OUT transfer hands
// its data to the device; an IN transfer on another endpoint waits until the
// device has data for it, or until the host unlinks it. Isochronous transfers
// are not spoken.
#ifndef EMULATED_BRIDGE_USBIP_LINK_H
#define EMULATED_BRIDGE_USBIP_LINK_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace emulated_bridge {

// The eight bytes of a USB control request, fields in host order.
struct SetupPacket {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;

    bool in() const { return requestType & 0x80; }
};

// A device's answer to one control transfer: a USB status (0, or a negated
// errno such as -EPIPE for a stall) and, for an IN request, the data.
struct ControlReply {
    int32_t status = 0;
    std::vector<uint8_t> data;

    static ControlReply stall();
    // No answer at all: the request waits until the host gives up on it.
    static ControlReply unanswered();
    static constexpr int32_t kUnanswered = 1;
};

// A USB device as the connection sees it.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // `out` holds the data stage of an OUT request (empty for IN).
    virtual ControlReply control(const SetupPacket &setup, const std::vector<uint8_t> &out) = 0;
    // Data the host sent to OUT `endpoint` (1 to 15): 0, or a negated errno
    // as the transfer's status (-EPIPE for a stall).
    virtual int32_t transferOut(uint8_t endpoint, const std::vector<uint8_t> &data);
    // The next data for IN `endpoint` (1 to 15, without the direction bit);
    // false while there is none, and the host's request waits.
    virtual bool transferIn(uint8_t endpoint, std::vector<uint8_t> &data);
    // True once the device is pulled out: its requests go unanswered and the
    // connection ends, as when a cable is yanked.
    virtual bool unplugged() const { return false; }
};

// The 48-byte header every USB/IP record starts with.
constexpr std::size_t kUsbipHeaderSize = 48;
constexpr uint32_t kCmdSubmit = 1;
constexpr uint32_t kCmdUnlink = 2;
constexpr uint32_t kRetSubmit = 3;
constexpr uint32_t kRetUnlink = 4;

// Answers requests read from `fd` until the peer closes the connection, `stop`
// becomes true or the device is unplugged (all three return 0), or the stream
// breaks or carries something this device cannot speak (returns a negated
// errno: -EPROTO for a malformed or unsupported record).
int serveUsbip(int fd, UsbDevice &device, const std::atomic<bool> &stop);

} // namespace emulated_bridge

#endif
