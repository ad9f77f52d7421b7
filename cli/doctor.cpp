// SPDX-License-Identifier: MIT
// xq4620 doctor: the adapter chain checked link by link, one line a check.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/messages.h"
#include "doctor/checks.h"

namespace cli {

int runDoctor(bool json) {
    const doctor::Report report = doctor::run(doctor::systemEnvironment());
    if (json) {
        nlohmann::ordered_json checks = nlohmann::ordered_json::array();
        for (const doctor::Check &c : report.checks) {
            nlohmann::ordered_json check = {
                {"check", c.name}, {"status", doctor::verdictText(c.verdict)}, {"found", c.found}};
            if (!c.fix.empty())
                check["fix"] = c.fix;
            checks.push_back(check);
        }
        const nlohmann::ordered_json out = {
            {"adapter", report.adapter}, {"ok", report.ok()}, {"checks", checks}};
        std::printf("%s\n", out.dump(2).c_str());
    } else {
        std::fputs(doctor::formatReport(report).c_str(), stdout);
    }
    return report.ok() ? kSuccess : kDeviceFailure;
}

} // namespace cli
