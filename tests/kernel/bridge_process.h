// SPDX-License-Identifier: MIT
// The emulated bridge program (XQ_BRIDGE_PROGRAM) run as a child process:
// started with a serial and release, it prints its /dev/i2c-N once the
// kernel's i2c-tiny-usb driver has bound; stopped, it unplugs itself and
// prints the chip's registers.
#ifndef TESTS_KERNEL_BRIDGE_PROCESS_H
#define TESTS_KERNEL_BRIDGE_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

class BridgeProcess {
public:
    BridgeProcess() = default;
    ~BridgeProcess();
    BridgeProcess(const BridgeProcess &) = delete;
    BridgeProcess &operator=(const BridgeProcess &) = delete;

    // False with `error` set when the program did not start or no bus
    // appeared within 60 s.
    bool start(const std::string &serial, const std::string &release, std::string &error);
    // "/dev/i2c-N", and N.
    const std::string &bus() const { return bus_; }
    int busNumber() const;
    // Stops the bridge; its register dump ("0x05 0x1F" lines) and exit status.
    int stop(std::vector<std::string> &dump);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
    std::string bus_;
};

#endif
