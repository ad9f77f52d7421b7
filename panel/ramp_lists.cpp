// SPDX-License-Identifier: MIT
// The Ramp Times lists: each sets one 3-bit field of register 0x07 or 0x08.
#include <QComboBox>

#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/list_code.h"
#include "panel/register_map.h"
#include "res/resource.h"

namespace {

struct RampRow {
    int id;
    QComboBox *CEvalDlg::*list;
    uint8_t reg;
    bool highField; // bits 5-3; otherwise bits 2-0
};

const RampRow kRamps[] = {
    {IDC_RAMP_OFF, &CEvalDlg::m_cbRampOff, 0x07, false},
    {IDC_RAMP_ON, &CEvalDlg::m_cbRampOn, 0x07, true},
    {IDC_RAMP_STOP, &CEvalDlg::m_cbRampStop, 0x08, false},
    {IDC_RAMP_START, &CEvalDlg::m_cbRampStart, 0x08, true},
};

// Each mask keeps only the other field: bits 7 and 6 are cleared either way.
constexpr int32_t kKeepHighField = 0x38;
constexpr int32_t kKeepLowField = 0x07;

} // namespace

void CEvalDlg::OnRampList(EventArgs &args) {
    for (const RampRow &row : kRamps) {
        if (row.id != args.id)
            continue;
        Pull();
        int32_t code = 0;
        if (!SelectedCode(this->*row.list, &code))
            return;
        int32_t &shadow = g_shadow[row.reg];
        if (row.highField)
            shadow = (shadow & kKeepLowField) | (code << 3);
        else
            shadow = (shadow & kKeepHighField) | code;
        *RegisterText(row.reg) = HexByte(static_cast<uint32_t>(shadow));
        WriteRegister(row.reg, shadow);
        Push();
        return;
    }
}
