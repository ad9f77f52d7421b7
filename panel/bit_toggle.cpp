// SPDX-License-Identifier: MIT
// The check boxes that each drive one bit of a register.
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"
#include "res/resource.h"

namespace {

struct BitToggleRow {
    int id;
    int CEvalDlg::*field;
    uint8_t reg;
    uint8_t setBit;
    uint8_t clearMask;
};

// The clear masks are the chip's, not the complements of the set bits: every
// clear on 0x00 also clears bit 5, clearing Sleep also clears bit 6 (the 0xC0
// default loses it for good), and every clear on 0x01 also clears bits 7-5.
// Slow Start's clear touches bit 2 alone.
const BitToggleRow kBitToggles[] = {
    {IDC_SLEEP, &CEvalDlg::m_bSleep, 0x00, 0x80, 0x1F},
    {IDC_LINEAR_A, &CEvalDlg::m_bLinearA, 0x00, 0x10, 0xCF},
    {IDC_LINEAR_B, &CEvalDlg::m_bLinearB, 0x00, 0x08, 0xD7},
    {IDC_LED_A_EN, &CEvalDlg::m_bLedAEn, 0x00, 0x04, 0xDB},
    {IDC_LED_B_EN, &CEvalDlg::m_bLedBEn, 0x00, 0x02, 0xDD},
    {IDC_LED2_ON_A, &CEvalDlg::m_bLed2OnA, 0x00, 0x01, 0xDE},
    {IDC_FEEDBACK_B, &CEvalDlg::m_bFeedbackB, 0x01, 0x10, 0x0F},
    {IDC_FEEDBACK_A, &CEvalDlg::m_bFeedbackA, 0x01, 0x08, 0x17},
    {IDC_PWM_ACTIVE_LOW, &CEvalDlg::m_bPwmActiveLow, 0x01, 0x04, 0x1B},
    {IDC_PWM_B, &CEvalDlg::m_bPwmB, 0x01, 0x02, 0x1D},
    {IDC_PWM_A, &CEvalDlg::m_bPwmA, 0x01, 0x01, 0x1E},
    {IDC_SLOW_START, &CEvalDlg::m_bSlowStart, 0x02, 0x04, 0xFB},
};

} // namespace

void CEvalDlg::OnBitToggle(EventArgs &args) {
    for (const BitToggleRow &row : kBitToggles) {
        if (row.id != args.id)
            continue;
        Pull();
        int32_t &shadow = g_shadow[row.reg];
        if (this->*row.field)
            shadow |= row.setBit;
        else
            shadow &= row.clearMask;
        *RegisterText(row.reg) = HexByte(static_cast<uint32_t>(shadow));
        // A failed write keeps the composed shadow: the next action that
        // succeeds carries it to the chip.
        WriteRegister(row.reg, shadow);
        Push();
        return;
    }
}
