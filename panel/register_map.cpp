// SPDX-License-Identifier: MIT
#include "panel/register_map.h"

#include <cstdlib>
#include <iterator>
#include <vector>

#include "chip/xq4620.h"
#include "res/resource.h"

const char g_deviceAddress[] = "36";

int32_t g_shadow[kShadowCount] = {};
int32_t g_lastSent[4] = {};
const int32_t g_codeOfIndex[kCodeCount] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

uint8_t DeviceAddress() {
    return static_cast<uint8_t>(std::strtoul(g_deviceAddress, nullptr, 16) & 0xFF);
}

// The defaults: 0x00 has bit 6 set beside Sleep; 0x02 is OVP code 1 with OCP
// code 3, Slow Start off and Fmode code 0, the lists' start selections.
const RegisterInfo kRegisters[] = {
    {0x00, IDC_REG00, 0xC0}, {0x01, IDC_REG01, 0x18}, {0x02, IDC_REG02, 0x38},
    {0x03, IDC_REG03, 0x00}, {0x04, IDC_REG04, 0x00}, {0x05, IDC_REG05, 0x1F},
    {0x06, IDC_REG06, 0x1F}, {0x07, IDC_REG07, 0x00}, {0x08, IDC_REG08, 0x00},
    {0x09, IDC_REG09, -1},   {0x0A, IDC_REG0A, -1},   {0x0B, IDC_REG0B, -1},
    {0x12, IDC_REG12, -1},
};
const std::size_t kRegisterCount = sizeof kRegisters / sizeof kRegisters[0];

const RegisterInfo *FindRegister(uint8_t reg) {
    for (const RegisterInfo &info : kRegisters) {
        if (info.reg == reg)
            return &info;
    }
    return nullptr;
}

void ResetShadows() {
    for (const RegisterInfo &info : kRegisters) {
        if (info.shadowDefault >= 0)
            g_shadow[info.reg] = info.shadowDefault;
    }
}

void ResetSliderMemory() {
    for (std::size_t i = 0; i < std::size(g_lastSent); ++i)
        g_lastSent[i] = FindRegister(static_cast<uint8_t>(kFirstSliderRegister + i))->shadowDefault;
}

namespace {

// A list's choices are those of the chip's field it sets, in the chip's
// order (code 0 first).
ListChoices ChoicesOf(int listId, const char *field) {
    const std::vector<const char *> &choices = chip::findField(field)->choices;
    return {listId, choices.data(), static_cast<int>(choices.size())};
}

} // namespace

const ListChoices kListChoices[] = {
    ChoicesOf(IDC_FMODE, "fmode"),
    ChoicesOf(IDC_OVP, "ovp"),
    ChoicesOf(IDC_OCP, "ocp"),
    ChoicesOf(IDC_RAMP_ON, "ramp-on"),
    ChoicesOf(IDC_RAMP_OFF, "ramp-off"),
    ChoicesOf(IDC_RAMP_START, "ramp-start"),
    ChoicesOf(IDC_RAMP_STOP, "ramp-stop"),
};
const std::size_t kListCount = sizeof kListChoices / sizeof kListChoices[0];
