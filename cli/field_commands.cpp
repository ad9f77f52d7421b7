// SPDX-License-Identifier: MIT
// Fields by name: the list of them, reading some, and changing some while
// every other bit of their registers stays as the chip holds it.
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "board/operations.h"
#include "chip/field_value.h"
#include "chip/hex_byte.h"
#include "chip/xq4620.h"
#include "cli/commands.h"
#include "cli/messages.h"

namespace cli {
namespace {

std::string bitsText(const chip::Field &f) {
    const int high = f.lsb + f.width - 1;
    if (f.width == 1)
        return "bit " + std::to_string(f.lsb);
    return "bits " + std::to_string(high) + "-" + std::to_string(f.lsb);
}

std::string valuesText(const chip::Field &f) {
    if (f.choices.empty())
        return "0 to " + std::to_string(f.max);
    std::string out;
    for (const char *choice : f.choices)
        out += (out.empty() ? "" : ", ") + std::string(choice);
    return out;
}

const chip::Field *knownField(const std::string &name) {
    const chip::Field *f = chip::findField(name);
    if (!f)
        complain(kUsageError, "unknown field " + quoted(name) + " (xq4620 fields lists them)");
    return f;
}

} // namespace

int runFields(bool json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const chip::Field &f : chip::fields()) {
        const chip::Register &reg = *chip::findRegister(f.reg);
        if (json) {
            nlohmann::ordered_json item = {
                {"name", f.name}, {"register", f.reg}, {"register_name", reg.name},
                {"lsb", f.lsb},   {"width", f.width},  {"access", chip::accessText(reg.access)},
                {"max", f.max}};
            if (!f.choices.empty())
                item["choices"] = f.choices;
            list.push_back(item);
            continue;
        }
        std::printf("%-15s %s %-9s %-10s %s\n", f.name, chip::hexByte(f.reg).c_str(),
                    bitsText(f).c_str(), chip::accessText(reg.access), valuesText(f).c_str());
    }
    if (json)
        std::printf("%s\n", list.dump(2).c_str());
    return kSuccess;
}

int runGet(const std::vector<std::string> &names, bool json) {
    std::vector<const chip::Field *> wanted;
    std::set<uint8_t> regs;
    for (const std::string &name : names) {
        const chip::Field *f = knownField(name);
        if (!f)
            return kUsageError;
        wanted.push_back(f);
        regs.insert(f->reg);
    }
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    auto values = board::readEach(device, regs);
    if (!values)
        return kDeviceFailure;
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    for (const chip::Field *f : wanted) {
        const unsigned v = f->valueIn((*values)[f->reg]);
        if (!json)
            std::printf("%s=%s\n", f->name, chip::typedText(*f, v).c_str());
        else if (f->choices.empty())
            doc[f->name] = v;
        else
            doc[f->name] = chip::fieldText(*f, v);
    }
    if (json)
        std::printf("%s\n", doc.dump(2).c_str());
    return kSuccess;
}

// Every assignment is checked before the adapter is touched; then each
// register a field lies in is read once and written once, in address order,
// with the board held throughout.
int runSet(const std::vector<std::string> &assignments) {
    std::map<const chip::Field *, unsigned> changes;
    for (const std::string &item : assignments) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos)
            return complain(kUsageError, quoted(item) + " is not FIELD=VALUE");
        const chip::Field *f = knownField(item.substr(0, eq));
        if (!f)
            return kUsageError;
        std::string reason;
        const auto value = chip::parseSettableValue(*f, item.substr(eq + 1), reason);
        if (!value)
            return complain(kUsageError, escaped(reason));
        if (!changes.emplace(f, *value).second)
            return complain(kUsageError, std::string(f->name) + " is given more than once");
    }
    board::Device device(complainer());
    if (!device.open())
        return openFailure(device);
    return board::setFields(device, changes) ? kSuccess : kDeviceFailure;
}

} // namespace cli
