// SPDX-License-Identifier: MIT
// What the panel knows of the XQ4620: registers, list choices and their field
// codes, the shadow registers and the sliders' memory of what they last sent.
#ifndef PANEL_REGISTER_MAP_H
#define PANEL_REGISTER_MAP_H

#include <cstddef>
#include <cstdint>

// The chip's address as the setting text; converted at every access.
extern const char g_deviceAddress[];

// Shadows of the registers the controls write (0x00..0x08). Only the low
// eight bits are ever sent. A read of the chip loads a shadow only where it
// also moves the register's controls: a readback sets the Control boxes and
// with them the shadow of 0x00.
constexpr std::size_t kShadowCount = 9;
extern int32_t g_shadow[kShadowCount];

// Last position each slider sent, for registers 0x03..0x06 (index reg - 3),
// whether the chip took it or not. Zero at process start; the slider action,
// a SW Reset and a Load change them.
constexpr uint8_t kFirstSliderRegister = 0x03;
extern int32_t g_lastSent[4];

// A list's selection index is its field code, through this table.
constexpr int kCodeCount = 16;
extern const int32_t g_codeOfIndex[kCodeCount];

// The device address as sent: base-16 conversion of the setting, low 8 bits.
uint8_t DeviceAddress();

// Sets every shadow to the value the panel assumes the chip holds at start,
// which are the chip's reset values.
void ResetShadows();

// After a reset of the chip: each slider's memory holds the register's reset
// value, which is what the chip now holds.
void ResetSliderMemory();

struct RegisterInfo {
    uint8_t reg;
    int textId;            // control showing the register as two hex digits
    int32_t shadowDefault; // -1: the panel keeps no shadow of it
};

// The registers the panel shows, in readback order.
extern const RegisterInfo kRegisters[];
extern const std::size_t kRegisterCount;
const RegisterInfo *FindRegister(uint8_t reg);

// The drop-down lists' choices; a choice's position is its field code.
struct ListChoices {
    int listId;
    const char *const *items;
    int count;
};
extern const ListChoices kListChoices[];
extern const std::size_t kListCount;

#endif
