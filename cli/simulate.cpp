// SPDX-License-Identifier: MIT
// `simulate`: the simulated board's fault inputs from a shell, so that a
// script's error handling can be tried before real hardware is on the bench.
#include <string>

#include "board/device.h"
#include "cli/commands.h"
#include "cli/messages.h"
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

    // The library picks its adapter at its first call; only a simulated
    // board has fault inputs to drive.
    vtxFindControllers();
    if (!vtx::sim::simulatedBoardInUse())
        return complain(kUsageError, "simulate works on a simulated board only (--adapter sim:NAME "
                                     "or sim); the adapter here is real hardware");
    // Set up like every other command, so that a flag is raised on a
    // powered chip and stays there.
    board::Device device(complainer());
    if (!device.open())
        return kDeviceFailure;
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
    if (r < 0)
        return complain(kDeviceFailure, "simulated board: " + vtx::reason(r));
    return kSuccess;
}

} // namespace cli
