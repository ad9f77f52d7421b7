#include "panel/register_map.h"

#include <cstdlib>
#include <iterator>

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

// Fixed orders, not sorted by value: Fmode lists 500 kHz before 1 MHz, and the
// On ramp starts at 4 ms where the other ramps start at 0.
const char *const kFmode[] = {"500 kHz", "1 MHz", "450 kHz", "950 kHz"};
const char *const kOvp[] = {"16 V", "24 V", "32 V", "40 V"};
const char *const kOcp[] = {"600 mA", "800 mA", "1.0 A", "1.2 A"};
const char *const kRampOn[] = {"4 ms", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"};
const char *const kRamp[] = {"0", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"};

} // namespace

const ListChoices kListChoices[] = {
    {IDC_FMODE, kFmode, 4},    {IDC_OVP, kOvp, 4},       {IDC_OCP, kOcp, 4},
    {IDC_RAMP_ON, kRampOn, 8}, {IDC_RAMP_OFF, kRamp, 8}, {IDC_RAMP_START, kRamp, 8},
    {IDC_RAMP_STOP, kRamp, 8},
};
const std::size_t kListCount = sizeof kListChoices / sizeof kListChoices[0];
