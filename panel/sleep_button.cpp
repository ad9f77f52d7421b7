// SPDX-License-Identifier: MIT
// SLEEP: one click puts the chip to sleep.
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"

void CEvalDlg::OnSleepButton(EventArgs &) {
    Pull();
    g_shadow[0x00] |= 0x80;
    m_bSleep = 1;
    m_strReg00 = HexByte(static_cast<uint32_t>(g_shadow[0x00]));
    WriteRegister(0x00, g_shadow[0x00]);
    Push();
}
