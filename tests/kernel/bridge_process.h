// SPDX-License-Identifier: MIT
// The programs the guest runs beside its tests. The emulated bridge program
// (XQ_BRIDGE_PROGRAM) run as a child process: started as one of its bridges
// with a serial and release, it prints its /dev/i2c-N once the kernel's
// driver has bound; stopped, it unplugs itself and prints the chip's
// registers. And the xq4620 command (XQ_COMMAND_PROGRAM), run to its end or
// kept running, as a watch is.
#ifndef TESTS_KERNEL_BRIDGE_PROCESS_H
#define TESTS_KERNEL_BRIDGE_PROCESS_H

#include <cstdint>
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

// What a run of the command to its end printed, and its exit status.
struct CommandRun {
    int status = -1;
    std::string out, err;
};
// `arguments` as a shell would split them; standard input is /dev/null.
CommandRun runCommand(const std::string &arguments);

// The command kept running, its standard output and error in one pipe.
class CommandProcess {
public:
    CommandProcess() = default;
    ~CommandProcess();
    CommandProcess(const CommandProcess &) = delete;
    CommandProcess &operator=(const CommandProcess &) = delete;

    bool start(const std::vector<std::string> &arguments, std::string &error);
    // Reads until the output holds `text` at least `times` times; false
    // when it does not within `seconds`, or the command ended first.
    bool awaitOutput(const std::string &text, int seconds, int times = 1);
    const std::string &output() const { return output_; }
    pid_t pid() const { return pid_; }
    // Sends `signal` and reads what is left; the exit status, 128 + the
    // signal's number when it ended by one.
    int stop(int signal);

private:
    bool readSome(int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

// How often `what` occurs in `text`.
int occurrences(const std::string &text, const std::string &what);

// A register of the chip at 0x36 read through a descriptor of the test's
// own on `bus` ("/dev/i2c-3"), past the library; a negated errno on failure.
int bareRead(const std::string &bus, uint8_t reg);

#endif
