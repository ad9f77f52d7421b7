// SPDX-License-Identifier: MIT
// xq4620 adapters: every I2C bus, and the name that picks each out.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/messages.h"
#include "vtx/adapters.h"

namespace cli {
namespace {

nlohmann::ordered_json orNull(const std::string &text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(escaped(text));
}

std::string describe(const vtx::AdapterListing &a) {
    std::string line = a.bus + " \"" + escaped(a.title) + "\"" +
                       (a.driver.empty() ? "" : " (driver " + escaped(a.driver) + ")") + ": ";
    if (a.bridge) {
        line += "USB-to-I2C bridge " + a.product;
        line += a.serial.empty() ? ", no serial number" : ", serial " + escaped(a.serial);
        line += ", port " + a.port;
    } else {
        line += "no bridge (" + a.whyNotBridge + ")";
    }
    line += "\n    " + a.node + ": " + (a.mayOpen ? "you may open it" : a.whyNotOpen);
    line += "\n    VTX_ADAPTER=" + escaped(a.name);
    if (a.automatic)
        line += " (taken when VTX_ADAPTER is unset)";
    return line + "\n";
}

} // namespace

int runAdapters(bool json) {
    const std::vector<vtx::AdapterListing> list = vtx::listAdapters();
    if (json) {
        nlohmann::ordered_json adapters = nlohmann::ordered_json::array();
        for (const vtx::AdapterListing &a : list)
            adapters.push_back({{"name", escaped(a.name)},
                                {"bus", a.bus},
                                {"node", a.node},
                                {"title", escaped(a.title)},
                                {"driver", orNull(a.driver)},
                                {"bridge", a.bridge},
                                {"why_not_bridge", orNull(a.whyNotBridge)},
                                {"product", orNull(a.product)},
                                {"serial", orNull(a.serial)},
                                {"port", orNull(a.port)},
                                {"may_open", a.mayOpen},
                                {"why_not_open", orNull(a.whyNotOpen)},
                                {"automatic", a.automatic}});
        std::printf("%s\n", nlohmann::ordered_json{{"adapters", adapters}}.dump(2).c_str());
        return kSuccess;
    }
    if (list.empty())
        std::printf("no I2C buses in /sys/class/i2c-dev (load the i2c-dev module: sudo modprobe "
                    "i2c-dev)\n");
    for (const vtx::AdapterListing &a : list)
        std::fputs(describe(a).c_str(), stdout);
    return kSuccess;
}

} // namespace cli
