// SPDX-License-Identifier: MIT
// xq4620 doctor: the adapter chain checked link by link, one line a check.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/messages.h"
#include "doctor/checks.h"

namespace cli {

int runDoctor(bool json) {
    doctor::Environment env = doctor::systemEnvironment();
    doctor::holdWhileReading(env);
    doctor::Report report = doctor::run(env);
    // What the checks found may hold what a person typed (VTX_ADAPTER) or
    // what the system calls things: shown as every other message is.
    report.adapter = escaped(report.adapter);
    for (doctor::Check &c : report.checks) {
        c.found = escaped(c.found);
        c.fix = escaped(c.fix);
    }
    if (json) {
        // Every check has every key; "fix" is null where nothing needs doing.
        nlohmann::ordered_json checks = nlohmann::ordered_json::array();
        for (const doctor::Check &c : report.checks)
            checks.push_back({{"check", c.name},
                              {"status", doctor::verdictText(c.verdict)},
                              {"found", c.found},
                              {"fix", c.fix.empty() ? nlohmann::ordered_json()
                                                    : nlohmann::ordered_json(c.fix)}});
        const nlohmann::ordered_json out = {
            {"adapter", report.adapter}, {"ok", report.ok()}, {"checks", checks}};
        std::printf("%s\n", out.dump(2).c_str());
    } else {
        std::fputs(doctor::formatReport(report).c_str(), stdout);
    }
    return report.ok() ? kSuccess : kDeviceFailure;
}

} // namespace cli
