// SPDX-License-Identifier: MIT
// xq4620 power and xq4620 gpio: the board's supply and the bridge's GPIO
// lines, as the bench description wires them.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "board/device.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "vtx/bench_gpio.h"
#include "vtx/gpio/bench_description.h"
#include "vtx/vtx.h"

namespace cli {
int runPower(const std::string &setting, bool json) {
    if (setting != "on" && setting != "off" && setting != "status")
        return complain(kUsageError, quoted(setting) + " is not on, off or status");
    board::Device device(complainer());
    // Only looking leaves the supply as it is; on and off run the set-up,
    // which switches it on, as every program's does.
    if (!device.open(setting != "status"))
        return openFailure(device);
    if (!device.hold())
        return kDeviceFailure;
    if (setting == "off") {
        if (const int32_t r = vtxPower_WriteControl(device.handle(), 0, 0); r < 0)
            return complain(kDeviceFailure,
                            "cannot switch the supply off: " + board::libraryReason(r));
    }
    const int32_t state = vtx::supplyState(device.handle());
    if (state < 0 && state != -ENODATA)
        return complain(kDeviceFailure, "the board's supply: " + board::libraryReason(state));
    const char *text = state == 1 ? "on" : state == 0 ? "off" : nullptr;
    if (json) {
        std::printf("%s\n", nlohmann::ordered_json{{"supply", text ? nlohmann::ordered_json(text)
                                                                   : nlohmann::ordered_json()},
                                                   {"switched", state >= 0}}
                                .dump()
                                .c_str());
    } else if (!text) {
        std::printf("not switched: no supply line is described for this bridge (%s); the board "
                    "is powered on its own\n",
                    vtx::gpio::defaultPath().c_str());
    } else {
        std::printf("%s\n", text);
    }
    if (setting == "off" && state == 0)
        complain(kSuccess, "the supply stays off until a program sets the board up again, which "
                           "switches it on");
    return kSuccess;
}

int runGpio(const std::vector<std::string> &assignments, bool force, bool json) {
    std::vector<std::pair<std::string, int>> sets;
    for (const std::string &a : assignments) {
        const size_t eq = a.find('=');
        const std::string value = eq == std::string::npos ? "" : a.substr(eq + 1);
        if (value != "0" && value != "1")
            return complain(kUsageError, quoted(a) + " is not LINE=0 or LINE=1 (GP1=1)");
        sets.emplace_back(a.substr(0, eq), value == "1" ? 1 : 0);
    }
    board::Device device(complainer());
    if (!device.open(false))
        return openFailure(device);
    if (!device.hold())
        return kDeviceFailure;
    for (const auto &[name, value] : sets) {
        if (const int32_t r = vtx::setLine(device.handle(), name, value, force); r < 0)
            return complain(r == -EPERM || r == -EINVAL ? kUsageError : kDeviceFailure,
                            board::libraryReason(r));
    }
    std::vector<vtx::gpio::LineState> lines;
    if (const int32_t r = vtx::lineStates(device.handle(), lines); r < 0)
        return complain(kDeviceFailure, board::libraryReason(r));
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto &l : lines)
            list.push_back({{"name", l.name},
                            {"direction", l.output ? "output" : "input"},
                            {"value", l.value < 0 ? nlohmann::ordered_json()
                                                  : nlohmann::ordered_json(l.value)},
                            {"consumer", l.consumer.empty() ? nlohmann::ordered_json()
                                                            : nlohmann::ordered_json(l.consumer)}});
        std::printf("%s\n", nlohmann::ordered_json{{"lines", list}}.dump(2).c_str());
    } else {
        for (const auto &l : lines)
            std::printf("%-7s %-6s %s%s\n", l.name.c_str(), l.output ? "output" : "input",
                        l.value < 0 ? "-" : std::to_string(l.value).c_str(),
                        l.consumer.empty() ? "" : ("  held by " + escaped(l.consumer)).c_str());
    }
    return kSuccess;
}

} // namespace cli
