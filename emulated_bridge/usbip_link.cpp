// SPDX-License-Identifier: MIT
#include "emulated_bridge/usbip_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace emulated_bridge {
namespace {

// Every header field travels big-endian; the setup packet inside keeps USB's
// own little-endian layout.
uint32_t getBe32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void putBe32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// A control transfer never carries more than wLength, at most 64 KiB.
constexpr int32_t kMaxTransfer = 65535;

// Why serving ends before the peer does.
bool quitting(const std::atomic<bool> &stop, const UsbDevice &device) {
    return stop.load() || device.unplugged();
}

// Waits until `fd` is readable; false on stop, unplug or error.
bool waitReadable(int fd, const std::atomic<bool> &stop, const UsbDevice &device, int &error) {
    while (!quitting(stop, device)) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, 100);
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR) {
            error = -errno;
            return false;
        }
    }
    error = 0;
    return false;
}

// Reads exactly `size` bytes. 1 done, 0 clean end of stream before the
// first byte (or stop, or unplug), negative errno otherwise.
int readFull(int fd, uint8_t *buffer, size_t size, const std::atomic<bool> &stop,
             const UsbDevice &device) {
    size_t got = 0;
    while (got < size) {
        int error = 0;
        if (!waitReadable(fd, stop, device, error))
            return error;
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (n == 0)
            return got == 0 ? 0 : -EPROTO;
        got += size_t(n);
    }
    return 1;
}

int writeFull(int fd, const std::vector<uint8_t> &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        done += size_t(n);
    }
    return 0;
}

SetupPacket parseSetup(const uint8_t *s) {
    SetupPacket setup;
    setup.requestType = s[0];
    setup.request = s[1];
    setup.value = uint16_t(s[2] | s[3] << 8);
    setup.index = uint16_t(s[4] | s[5] << 8);
    setup.length = uint16_t(s[6] | s[7] << 8);
    return setup;
}

// An IN request waiting for the device's data, or (endpoint 0) a control
// request the device leaves unanswered.
struct WaitingIn {
    uint32_t seqnum;
    uint8_t endpoint;
    int32_t length;
};

std::vector<uint8_t> retSubmit(uint32_t seqnum, int32_t status, const std::vector<uint8_t> &data,
                               int32_t actual) {
    std::vector<uint8_t> reply(kUsbipHeaderSize, 0);
    putBe32(&reply[0], kRetSubmit);
    putBe32(&reply[4], seqnum);
    putBe32(&reply[20], uint32_t(status));
    putBe32(&reply[24], uint32_t(actual));
    reply.insert(reply.end(), data.begin(), data.end());
    return reply;
}

// Answers the waiting IN requests the device has data for, oldest first.
int answerWaiting(int fd, UsbDevice &device, std::vector<WaitingIn> &waiting) {
    for (auto w = waiting.begin(); w != waiting.end();) {
        std::vector<uint8_t> data;
        if (w->endpoint == 0 || !device.transferIn(w->endpoint, data)) {
            ++w;
            continue;
        }
        data.resize(std::min<size_t>(data.size(), size_t(w->length)));
        if (int r = writeFull(fd, retSubmit(w->seqnum, 0, data, int32_t(data.size()))); r < 0)
            return r;
        w = waiting.erase(w);
    }
    return 0;
}

} // namespace

ControlReply ControlReply::stall() {
    ControlReply r;
    r.status = -EPIPE;
    return r;
}

ControlReply ControlReply::unanswered() {
    ControlReply r;
    r.status = kUnanswered;
    return r;
}

int32_t UsbDevice::transferOut(uint8_t, const std::vector<uint8_t> &) {
    return -EPIPE;
}

bool UsbDevice::transferIn(uint8_t, std::vector<uint8_t> &) {
    return false;
}

int serveUsbip(int fd, UsbDevice &device, const std::atomic<bool> &stop) {
    std::vector<WaitingIn> waiting;
    for (;;) {
        if (int w = answerWaiting(fd, device, waiting); w < 0)
            return w;
        uint8_t header[kUsbipHeaderSize];
        int r = readFull(fd, header, sizeof header, stop, device);
        if (r <= 0)
            return r;
        const uint32_t command = getBe32(header);
        const uint32_t seqnum = getBe32(header + 4);
        const uint32_t direction = getBe32(header + 12);
        const uint32_t ep = getBe32(header + 16);

        if (command == kCmdUnlink) {
            // A request still waiting is cancelled (-ECONNRESET) and never
            // answered; any other has been answered already (status 0).
            const uint32_t target = getBe32(header + 20);
            const auto w = std::find_if(waiting.begin(), waiting.end(),
                                        [&](const WaitingIn &in) { return in.seqnum == target; });
            std::vector<uint8_t> reply(kUsbipHeaderSize, 0);
            putBe32(&reply[0], kRetUnlink);
            putBe32(&reply[4], seqnum);
            if (w != waiting.end()) {
                putBe32(&reply[20], uint32_t(-ECONNRESET));
                waiting.erase(w);
            }
            if (int wr = writeFull(fd, reply); wr < 0)
                return wr;
            continue;
        }
        if (command != kCmdSubmit || ep > 15)
            return -EPROTO;

        const int32_t length = int32_t(getBe32(header + 24));
        const uint32_t packets = getBe32(header + 32);
        if (length < 0 || length > kMaxTransfer || (packets != 0 && packets != 0xFFFFFFFF))
            return -EPROTO;
        std::vector<uint8_t> out;
        if (direction == 0 && length > 0) {
            out.resize(size_t(length));
            r = readFull(fd, out.data(), out.size(), stop, device);
            if (r <= 0)
                return r < 0 ? r : -EPROTO;
        }
        // Pulled out: this request is never answered.
        if (device.unplugged())
            return 0;

        if (ep != 0 && direction == 1) {
            waiting.push_back({seqnum, uint8_t(ep), length});
            continue;
        }
        if (ep != 0) {
            const int32_t status = device.transferOut(uint8_t(ep), out);
            if (device.unplugged())
                return 0;
            if (int w = writeFull(fd, retSubmit(seqnum, status, {}, status == 0 ? length : 0));
                w < 0)
                return w;
            continue;
        }

        const ControlReply answer = device.control(parseSetup(header + 40), out);
        if (device.unplugged())
            return 0;
        if (answer.status == ControlReply::kUnanswered) {
            waiting.push_back({seqnum, 0, length});
            continue;
        }
        std::vector<uint8_t> data;
        int32_t actual = 0;
        if (answer.status == 0 && direction == 1) {
            // Never more than the host asked for: vhci refuses a longer reply.
            data.assign(answer.data.begin(),
                        answer.data.begin() + std::min<size_t>(answer.data.size(), size_t(length)));
            actual = int32_t(data.size());
        } else if (answer.status == 0) {
            actual = length;
        }
        if (int w = writeFull(fd, retSubmit(seqnum, answer.status, data, actual)); w < 0)
            return w;
    }
}

} // namespace emulated_bridge
