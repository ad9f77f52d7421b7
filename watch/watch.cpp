// SPDX-License-Identifier: MIT
#include "watch/watch.h"

#include <chrono>
#include <ctime>
#include <map>

#include "chip/field_value.h"
#include "chip/hex_byte.h"

namespace watch {

std::optional<Target> parseTarget(std::string_view text, std::string &reason) {
    if (const chip::Field *f = chip::findFieldUnderscored(std::string(text)))
        return Target{f->name, f->reg, f};
    const auto reg = chip::parseHexByte(text);
    if (!reg) {
        reason = "\"" + std::string(text) + "\" is neither a field nor a register";
        return std::nullopt;
    }
    if (const std::string why = chip::accessRefusal(*reg, chip::Access::ReadOnly); !why.empty()) {
        reason = why;
        return std::nullopt;
    }
    return Target{chip::hexByte(*reg), *reg, nullptr};
}

std::vector<Target> everyRegister() {
    std::vector<Target> out;
    for (const uint8_t reg : chip::readableRegisters())
        out.push_back({chip::hexByte(reg), reg, nullptr});
    return out;
}

Watcher::Watcher(std::vector<Target> targets)
    : targets_(std::move(targets)), last_(targets_.size()) {}

std::vector<Event> Watcher::poll(const ReadFn &read) {
    struct Read {
        std::optional<uint8_t> value;
        std::string failure;
    };
    std::map<uint8_t, Read> reads;
    for (const Target &t : targets_)
        reads.emplace(t.reg, Read{});
    for (auto &[reg, r] : reads)
        r.value = read(reg, r.failure);

    std::vector<Event> events;
    for (size_t i = 0; i < targets_.size(); ++i) {
        const Target &t = targets_[i];
        Last &last = last_[i];
        const Read &r = reads[t.reg];
        if (!r.value) {
            anyFailed_ = true;
            if (!last.failed)
                events.push_back({&t, std::nullopt, r.failure});
            last.failed = true;
            continue;
        }
        const unsigned value = t.field ? t.field->valueIn(*r.value) : *r.value;
        if (!last.known || last.failed || value != last.value)
            events.push_back({&t, value, {}});
        last = {true, false, value};
    }
    return events;
}

std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
    return text;
}

namespace {

std::string valueText(const Target &t, unsigned value) {
    if (!t.field)
        return chip::hexByte(static_cast<uint8_t>(value));
    return chip::typedText(*t.field, value);
}

} // namespace

std::string textLine(const std::string &time, const Event &event) {
    const Target &t = *event.target;
    if (!event.value)
        return time + " " + t.name + ": " + event.error;
    return time + " " + t.name + "=" + valueText(t, *event.value);
}

nlohmann::ordered_json jsonLine(const std::string &time, const Event &event) {
    const Target &t = *event.target;
    nlohmann::ordered_json line = {{"time", time}, {"name", t.name}};
    if (!event.value)
        line["error"] = event.error;
    else if (t.field && !t.field->choices.empty())
        line["value"] = chip::fieldText(*t.field, *event.value);
    else
        line["value"] = *event.value;
    return line;
}

} // namespace watch
