// SPDX-License-Identifier: MIT
// xq4620-emulated-bridge: the simulated evaluation board, plugged into this
// machine's kernel as a USB-to-I2C bridge. See docs/real-hardware.md.
#include "emulated_bridge/bridge_device.h"
#include "emulated_bridge/vhci.h"
#include "vtx/backend.h"
#include "vtx/i2cdev/detect.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *const kProgram = "xq4620-emulated-bridge";
constexpr uint8_t kChipAddress = 0x36;
// An MCP2221's driver takes about 25 s to start on Debian 12's kernel.
constexpr auto kBusWait = std::chrono::seconds(60);

std::atomic<bool> g_stop{false};
std::atomic<int> g_stopSignals{0};
emulated_bridge::Faults g_faults;

void onSignal(int signal) {
    switch (signal) {
    case SIGUSR1:
        g_faults.unpowered = !g_faults.unpowered;
        break;
    case SIGUSR2:
        g_faults.stretching = !g_faults.stretching;
        break;
    case SIGHUP:
        g_faults.unplug = true;
        break;
    default:
        g_stop = true;
        ++g_stopSignals;
    }
}

void usage(std::ostream &out) {
    out << "usage: " << kProgram
        << " [--bridge NAME] [--serial TEXT] [--release M.mm] [--unplug-after N] [--dump]\n"
        << "       [--supply-line [!]LINE] [--other-function LINE] [--log FILE]\n"
        << "Plugs the simulated XQ4620 evaluation board into the kernel as a USB-to-I2C bridge\n"
        << "(through vhci-hcd; needs root), prints its /dev/i2c-N once the kernel's driver has\n"
        << "bound, and serves it until interrupted.\n"
        << "  --bridge NAME     tiny-usb (default), mcp2221, cp2112 or ft260\n"
        << "  --serial TEXT     USB serial number, printable ASCII (default XQEB-0001)\n"
        << "  --release M.mm    USB release number, bcdDevice (default 1.02)\n"
        << "  --unplug-after N  pull the bridge out after N I2C messages\n"
        << "  --dump            on exit, print the chip's registers, one \"0xRR 0xVV\" a line\n"
        << "  --supply-line L   the board's supply is switched by GPIO line L (GP0-GP3 of an\n"
        << "                    mcp2221, GPIO.0-GPIO.7 of a cp2112; !L: on while low); the\n"
        << "                    board starts unpowered\n"
        << "  --other-function L  an mcp2221's pin L is set to another function than GPIO\n"
        << "  --log FILE        append each GPIO request and I2C message to FILE (- for stderr)\n"
        << "SIGUSR1 switches the board's supply off or back on, SIGUSR2 starts or ends\n"
        << "stretching every transfer, SIGHUP pulls the bridge out.\n";
}

bool printable(const std::string &text) {
    if (text.empty() || text.size() > 126) // a string descriptor holds 126 characters
        return false;
    for (char c : text) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

// Prints the bridge's bus once the kernel has made it, so that a script can
// read it from standard output: the bus of the USB device in `port`, which
// another bridge with the same serial beside it does not share.
void announceBus(const std::string &serial, const char *module, int port) {
    const auto deadline = std::chrono::steady_clock::now() + kBusWait;
    while (!g_stop && std::chrono::steady_clock::now() < deadline) {
        const std::string device =
            emulated_bridge::deviceOnPort(emulated_bridge::readStatus(), port);
        for (const auto &bus : device.empty() ? std::vector<vtx::i2cdev::BusInfo>()
                                              : vtx::i2cdev::listBuses("/sys")) {
            if (bus.bridge() && bus.serial == serial && bus.port() == device &&
                bus.usbDevice.find("/vhci_hcd.") != std::string::npos) {
                std::cout << "/dev/" << bus.name << std::endl;
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!g_stop)
        std::cerr << kProgram << ": no I2C bus appeared within 60 s; load " << module
                  << " and i2c-dev (sudo modprobe -a " << module << " i2c-dev) and check dmesg\n";
}

// Returns once the kernel has removed the unplugged USB device `usbDevice`
// ("3-2"), so that the next bridge started finds the bus gone, or at a
// second SIGINT or SIGTERM. The kernel waits for every program that has the
// bus open to close it.
void awaitRemoval(const std::string &usbDevice) {
    const std::string dir = "/sys/bus/usb/devices/" + usbDevice;
    const int signals = g_stopSignals;
    for (int waited = 0; ::access(dir.c_str(), F_OK) == 0 && g_stopSignals == signals;
         waited += 20) {
        if (waited == 1000)
            std::cerr << kProgram
                      << ": waiting for the programs that have the bus open to close it "
                         "(interrupt again to stop at once)\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Why a bridge has no line of that name, after the bridge's name.
const char *noLine(const std::string &bridge) {
    if (bridge == "mcp2221")
        return " has the lines GP0 to GP3 (! in front: on while low)";
    if (bridge == "cp2112")
        return " has the lines GPIO.0 to GPIO.7 (! in front: on while low)";
    return " has no GPIO lines";
}

} // namespace

int main(int argc, char **argv) {
    std::string serial = "XQEB-0001";
    uint16_t release = 0x0102;
    bool dump = false;
    long unplugAfter = -1;
    std::string supplyLine, otherFunction, logPath;
    const emulated_bridge::BridgeKind *kind = emulated_bridge::findBridge("tiny-usb");
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--serial" && hasValue) {
            serial = argv[++i];
            if (!printable(serial)) {
                std::cerr << kProgram << ": --serial \"" << serial
                          << "\": not 1 to 126 printable ASCII characters\n";
                return 2;
            }
        } else if (arg == "--release" && hasValue) {
            const std::string text = argv[++i];
            if (!emulated_bridge::parseRelease(text, release)) {
                std::cerr
                    << kProgram << ": --release " << text
                    << ": not a release such as 1.02 (one or two digits, a dot, two digits)\n";
                return 2;
            }
        } else if (arg == "--bridge" && hasValue) {
            const std::string name = argv[++i];
            kind = emulated_bridge::findBridge(name);
            if (!kind) {
                std::cerr << kProgram << ": --bridge " << name
                          << ": not tiny-usb, mcp2221, cp2112 or ft260\n";
                return 2;
            }
        } else if (arg == "--unplug-after" && hasValue) {
            const std::string text = argv[++i];
            char *end = nullptr;
            errno = 0;
            unplugAfter = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno != 0 || unplugAfter < 1 || text[0] == '+') {
                std::cerr << kProgram << ": --unplug-after " << text
                          << ": not a number of messages from 1 up\n";
                return 2;
            }
        } else if (arg == "--supply-line" && hasValue) {
            supplyLine = argv[++i];
        } else if (arg == "--other-function" && hasValue) {
            otherFunction = argv[++i];
        } else if (arg == "--log" && hasValue) {
            logPath = argv[++i];
        } else if (arg == "--dump") {
            dump = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(std::cout);
            return 0;
        } else {
            std::cerr << kProgram << ": " << arg
                      << (arg.rfind("--", 0) == 0 && !hasValue ? ": needs a value" : ": unknown")
                      << "\n";
            usage(std::cerr);
            return 2;
        }
    }

    // The lines are checked once the bridge is known, whatever the order.
    emulated_bridge::GpioWiring wiring;
    if (!supplyLine.empty()) {
        wiring.supply = emulated_bridge::gpioLineOffset(kind->name, supplyLine, &wiring.activeLow);
        if (wiring.supply < 0) {
            std::cerr << kProgram << ": --supply-line " << supplyLine << ": " << kind->name
                      << noLine(kind->name) << "\n";
            return 2;
        }
    }
    if (!otherFunction.empty()) {
        wiring.otherFunction = std::string(kind->name) == "mcp2221"
                                   ? emulated_bridge::gpioLineOffset(kind->name, otherFunction)
                                   : -1;
        if (wiring.otherFunction < 0 || otherFunction[0] == '!') {
            std::cerr << kProgram << ": --other-function " << otherFunction << ": "
                      << (std::string(kind->name) == "mcp2221"
                              ? std::string("an mcp2221 has the pins GP0 to GP3")
                              : std::string("only an mcp2221's pins have other functions"))
                      << "\n";
            return 2;
        }
    }
    std::FILE *log = nullptr;
    if (logPath == "-") {
        log = stderr;
    } else if (!logPath.empty() && !(log = std::fopen(logPath.c_str(), "ae"))) {
        std::cerr << kProgram << ": --log " << logPath << ": " << std::strerror(errno) << "\n";
        return 2;
    }

    // The board is set up the way the panel sets it up: found, opened and
    // its supply switched on, which starts the chip from its reset values.
    std::unique_ptr<vtx::Backend> board = vtx::makeSimBackend();
    std::string boardSerial;
    int32_t adapter = -1;
    if (board->findControllers() > 0 && board->serialNumber(0, boardSerial) == 0)
        adapter = board->open(boardSerial);
    if (adapter < 0 || board->powerWriteControl(adapter, 1, 0) < 0) {
        std::cerr << kProgram << ": the simulated board did not start\n";
        return 1;
    }
    emulated_bridge::BoardBus bus(*board, adapter, g_faults, unplugAfter);
    bus.wire(wiring);
    bus.setLog(log);
    const std::unique_ptr<emulated_bridge::BridgeDevice> device =
        emulated_bridge::makeBridge(kind->bridge, bus, serial, release);

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    for (int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGHUP})
        sigaction(signal, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const emulated_bridge::Attachment attached = emulated_bridge::attachDevice();
    if (attached.deviceFd < 0) {
        std::cerr << kProgram << ": " << attached.error
                  << (geteuid() != 0 ? " (attaching a USB/IP device needs root)" : "") << "\n";
        return 1;
    }

    std::thread watcher(announceBus, serial, kind->module, attached.port);
    const int served = emulated_bridge::serveUsbip(attached.deviceFd, *device, g_stop);
    const bool pulled = g_faults.unplug.load();
    const bool stopped = g_stop.exchange(true) && !pulled;
    watcher.join();
    // Pulled out, the connection just ends, as a cable does: the kernel
    // fails what was under way and unplugs the device by itself. Otherwise
    // (unless the kernel ended the connection, when the port is free already
    // and may hold someone else's device by now) the device is unplugged,
    // which waits until every program that has the bus open has closed it,
    // as with a real bridge.
    std::string usbDevice;
    if (!pulled && (stopped || served < 0)) {
        usbDevice = emulated_bridge::deviceOnPort(emulated_bridge::readStatus(), attached.port);
        emulated_bridge::detachDevice(attached.port);
    }
    ::shutdown(attached.deviceFd, SHUT_RDWR);
    ::close(attached.deviceFd);
    if (stopped && !usbDevice.empty())
        awaitRemoval(usbDevice);

    if (dump) {
        for (int reg = 0; reg <= 0x12; ++reg) {
            const int value = bus.registerValue(kChipAddress, uint8_t(reg));
            if (value >= 0)
                std::printf("0x%02X 0x%02X\n", reg, value);
        }
        std::fflush(stdout);
    }
    if (served < 0) {
        std::cerr << kProgram << ": the USB/IP connection failed: " << std::strerror(-served)
                  << "\n";
        return 1;
    }
    if (pulled)
        std::cerr << kProgram << ": pulled out\n";
    else if (!stopped)
        std::cerr << kProgram << ": the kernel unplugged the bridge\n";
    return 0;
}
