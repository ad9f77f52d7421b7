// SPDX-License-Identifier: MIT
#include "vtx/gpio/bench_description.h"

#include "vtx/i2cdev/detect.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace vtx::gpio {
namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

bool digitsOnly(std::string_view s, size_t maxDigits) {
    return !s.empty() && s.size() <= maxDigits &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// GPn or GPIO.n, n a number of at most two digits.
bool isLineName(std::string_view s) {
    if (s.rfind("GPIO.", 0) == 0)
        return digitsOnly(s.substr(5), 2);
    return s.rfind("GP", 0) == 0 && digitsOnly(s.substr(2), 2);
}

std::string shown(std::string_view text) {
    std::string out = "\"";
    for (const char c : text)
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return out + "\"";
}

} // namespace

const Wiring *Description::find(const std::string &name) const {
    for (const auto &[bridge, wiring] : bridges) {
        if (bridge == name)
            return &wiring;
    }
    return nullptr;
}

std::optional<Line> parseSupply(std::string_view text, std::string &reason) {
    Line line;
    text = trimmed(text);
    if (!text.empty() && text.front() == '!') {
        line.activeLow = true;
        text.remove_prefix(1);
    }
    if (!isLineName(text)) {
        reason = "supply line " + shown(text) +
                 " is no GPIO line's name (GP0 to GP3 on an MCP2221, GPIO.0 to GPIO.7 on a "
                 "CP2112; ! in front for a switch that is on when the line is low)";
        return std::nullopt;
    }
    line.name = std::string(text);
    return line;
}

Description parse(std::string_view text) {
    Description d;
    std::set<std::string> sections;
    std::set<std::string> keys, lines;
    Wiring *current = nullptr;
    int number = 0;
    const auto problem = [&](const std::string &reason) { d.problems.push_back({number, reason}); };
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (const size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = trimmed(line);
        if (line.empty())
            continue;
        if (line.front() == '[') {
            current = nullptr;
            if (line.back() != ']') {
                problem("a section is a bridge's name in brackets: [usb:A1]");
                continue;
            }
            const std::string name(trimmed(line.substr(1, line.size() - 2)));
            const bool named = (i2cdev::isBridgeName(name) && name.back() != ':') ||
                               (name.rfind("/dev/", 0) == 0 && name.size() > 5);
            if (!named) {
                problem(shown(name) + " names no bridge: use usb:SERIAL, usb-port:PORT or "
                                      "/dev/i2c-N (xq4620 adapters lists them)");
                continue;
            }
            if (!sections.insert(name).second) {
                problem("bridge " + name + " is described twice");
                continue;
            }
            d.bridges.emplace_back(name, Wiring());
            current = &d.bridges.back().second;
            keys.clear();
            lines.clear();
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            problem("expected KEY = VALUE, or a [bridge] line");
            continue;
        }
        const std::string key(trimmed(line.substr(0, eq)));
        const std::string_view value = trimmed(line.substr(eq + 1));
        if (!current) {
            problem(key + " before any [bridge] line");
            continue;
        }
        if (key != "supply" && key != "settle-ms" && key != "hold") {
            problem("unknown key " + shown(key) + " (supply, settle-ms, hold)");
            continue;
        }
        if (!keys.insert(key).second) {
            problem(key + " is given twice for this bridge");
            continue;
        }
        if (key == "supply") {
            std::string reason;
            if (auto supply = parseSupply(value, reason)) {
                if (!lines.insert(supply->name).second)
                    problem("line " + supply->name + " is given twice for this bridge");
                current->supply = supply;
            } else {
                problem(reason);
            }
        } else if (key == "settle-ms") {
            if (!digitsOnly(value, 5) || std::atoi(std::string(value).c_str()) > 10000)
                problem("settle-ms " + shown(value) + " is not a time from 0 to 10000 ms");
            else
                current->settleMs = std::atoi(std::string(value).c_str());
        } else {
            std::istringstream items{std::string(value)};
            std::string item;
            bool any = false;
            while (items >> item) {
                any = true;
                const size_t at = item.find('=');
                const std::string name = item.substr(0, at);
                const std::string level = at == std::string::npos ? "" : item.substr(at + 1);
                if (!isLineName(name) || (level != "0" && level != "1"))
                    problem("hold " + shown(item) + " is not LINE=0 or LINE=1 (GP1=1)");
                else if (!lines.insert(name).second)
                    problem("line " + name + " is given twice for this bridge");
                else
                    current->hold.emplace_back(name, level == "1" ? 1 : 0);
            }
            if (!any)
                problem("hold names no line (GP1=1 GP3=0)");
        }
    }
    return d;
}

Description read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Description d;
        if (errno != ENOENT)
            d.problems.push_back({0, std::strerror(errno)});
        return d;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str());
}

std::string defaultPath() {
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/xq4620/bench.conf";
    const char *home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/xq4620/bench.conf";
}

std::string describe(const std::string &path, const Problem &problem) {
    return path + (problem.line > 0 ? " line " + std::to_string(problem.line) : "") + ": " +
           problem.reason;
}

std::optional<Wiring> wiringFor(const std::string &name, std::string &problem) {
    const std::string path = defaultPath();
    const Description d = read(path);
    if (!d.ok()) {
        problem = describe(path, d.problems.front()) + "; nothing is driven until it is mended";
        return std::nullopt;
    }
    Wiring wiring;
    if (const Wiring *w = d.find(name))
        wiring = *w;
    if (const char *supply = std::getenv("VTX_SUPPLY"); supply && *supply) {
        std::string reason;
        const auto line = parseSupply(supply, reason);
        if (!line) {
            problem = "VTX_SUPPLY: " + reason;
            return std::nullopt;
        }
        wiring.supply = line;
    }
    return wiring;
}

} // namespace vtx::gpio
