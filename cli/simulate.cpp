// SPDX-License-Identifier: MIT
// `simulate`: the simulated board's fault inputs from a shell, so that a
// script's error handling can be tried before real hardware is on the bench.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "board/device.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "vtx/adapter_name.h"
#include "vtx/reason.h"
#include "vtx/sim.h"
#include "vtx/vtx.h"

namespace cli {
namespace {

enum class Fault { Flag, Power, FailReads, FailWrites };

struct Known {
    const char *name;
    Fault fault;
    uint8_t flag;
};

const Known kFaults[] = {
    {"ocp", Fault::Flag, vtx::sim::kOcp}, {"ovp", Fault::Flag, vtx::sim::kOvp},
    {"tsd", Fault::Flag, vtx::sim::kTsd}, {"power", Fault::Power, 0},
    {"fail-reads", Fault::FailReads, 0},  {"fail-writes", Fault::FailWrites, 0},
};

std::optional<bool> onOff(const std::string &text) {
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

std::optional<int32_t> count(const std::string &text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int32_t n = std::stoi(text);
    return n <= 0xFFFF ? std::optional<int32_t>(n) : std::nullopt;
}

} // namespace

int runSimulate(const std::string &faultText, const std::string &setting) {
    const Known *known = nullptr;
    for (const Known &k : kFaults) {
        if (faultText == k.name)
            known = &k;
    }
    if (!known)
        return complain(kUsageError, quoted(faultText) +
                                         " is no fault: ocp, ovp, tsd, power, fail-reads or "
                                         "fail-writes");
    std::optional<bool> on;
    std::optional<int32_t> n;
    if (known->fault == Fault::Flag || known->fault == Fault::Power) {
        on = onOff(setting);
        if (!on)
            return complain(kUsageError,
                            std::string(known->name) + " takes on or off, not " + quoted(setting));
    } else {
        n = count(setting);
        if (!n)
            return complain(kUsageError, std::string(known->name) +
                                             " takes a number from 0 to 65535, not " +
                                             quoted(setting));
    }

    // Only a shared simulated board has fault inputs that outlive this
    // command; nothing else is touched, a real bus least of all.
    const char *env = std::getenv("VTX_ADAPTER");
    const std::string adapter = env ? env : "";
    const std::string only = "simulate works on a shared simulated board only (--adapter sim:NAME)";
    if (adapter == "sim")
        return complain(kUsageError, only + ": sim is this command's own board, gone when it "
                                            "ends, so nothing would change; name the board the "
                                            "other programs use, as they name it");
    const bool shared = adapter.rfind("sim:", 0) == 0;
    if (const std::string why = vtx::adapterNameProblem(adapter); !why.empty())
        return complain(kUsageError, only + ": VTX_ADAPTER=" + why);
    if (!shared) {
        struct stat node {};
        std::string what = "the adapter here is real hardware (VTX_ADAPTER";
        if (adapter.empty())
            what = vtxFindControllers() > 0 ? what + " unset: a USB-to-I2C bridge)"
                                            : "no adapter found (VTX_ADAPTER unset)";
        else if (::stat(adapter.c_str(), &node) != 0)
            what = "no adapter found (VTX_ADAPTER=" + escaped(adapter) + ": " +
                   std::strerror(errno) + ")";
        else
            what += "=" + escaped(adapter) + ")";
        return complain(kUsageError, only + ": " + what);
    }
    // Set up like every other command, so that a flag is raised on a
    // powered chip and stays there.
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    int32_t r = 0;
    switch (known->fault) {
    case Fault::Flag:
        r = vtx::sim::setFaultFlags(*on ? known->flag : 0, *on ? 0 : known->flag);
        break;
    case Fault::Power:
        r = vtx::sim::setBoardSupply(*on);
        break;
    case Fault::FailReads:
        r = vtx::sim::failNext(*n, -1);
        break;
    case Fault::FailWrites:
        r = vtx::sim::failNext(-1, *n);
        break;
    }
    if (r < 0) {
        char why[512];
        return complain(kDeviceFailure, vtxLastError(why, sizeof why) == r && why[0]
                                            ? std::string(why)
                                            : "simulated board: " + vtx::reason(r));
    }
    return kSuccess;
}

} // namespace cli
