// SPDX-License-Identifier: MIT
// The Boost Control lists: OVP, OCP and Fmode compose register 0x02 together,
// whichever of them changed.
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/list_code.h"
#include "panel/register_map.h"

namespace {
constexpr uint8_t kBoostControl = 0x02;
constexpr int32_t kSlowStartBit = 0x04;
} // namespace

void CEvalDlg::OnBoostList(EventArgs &) {
    Pull();
    int32_t ocp = 0;
    int32_t ovp = 0;
    int32_t fmode = 0;
    // A list without a selection has no code to compose: write nothing.
    if (!SelectedCode(m_cbOcp, &ocp) || !SelectedCode(m_cbOvp, &ovp) ||
        !SelectedCode(m_cbFmode, &fmode))
        return;
    // Slow Start shares the register; a list change writes it as its box
    // shows it, neither switching it off behind the box's back nor bringing
    // back a bit the box no longer shows.
    int32_t &shadow = g_shadow[kBoostControl];
    shadow = (ovp << 5) | (ocp << 3) | fmode | (m_bSlowStart ? kSlowStartBit : 0);
    m_strReg02 = HexByte(static_cast<uint32_t>(shadow));
    WriteRegister(kBoostControl, shadow);
    Push();
}
