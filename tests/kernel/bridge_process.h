// SPDX-License-Identifier: MIT
// The emulated bridge program (XQ_BRIDGE_PROGRAM) run as a child process:
// started as one of its bridges with a serial and release, it prints its
// /dev/i2c-N once the kernel's driver has bound; stopped, it unplugs itself
// and prints the chip's registers.
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
    // appeared within 60 s. `options` go on its command line.
    bool start(const std::string &serial, const std::string &release, std::string &error,
               const std::vector<std::string> &options = {});
    // start() in two halves, so that several bridges plug in at once: the
    // program started, then its bus awaited.
    bool launch(const std::string &serial, const std::string &release, std::string &error,
                const std::vector<std::string> &options = {});
    bool awaitBus(std::string &error);
    // Sends it `signal`: SIGUSR1 switches the board's supply, SIGUSR2
    // stretching, SIGHUP pulls it out.
    void signal(int signal) const;
    // "/dev/i2c-N", and N.
    const std::string &bus() const { return bus_; }
    int busNumber() const;
    // Stops the bridge; its register dump ("0x05 0x1F" lines) and exit status.
    int stop(std::vector<std::string> &dump);
    // Waits up to `seconds` for the bridge to end on its own; its exit
    // status, or -1 when it still runs.
    int wait(int seconds);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
    std::string bus_;
};

#endif
