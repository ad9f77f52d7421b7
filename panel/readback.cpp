// SPDX-License-Identifier: MIT
// Readback All: every register the panel knows, shown as hex, with the
// Control and Interrupt Status registers decoded into their boxes.
#include "link/link.h"
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"

void CEvalDlg::ReadbackAll() {
    Pull();
    uint8_t buffer = 0;
    bool controlRead = false;
    bool statusRead = false;
    bool anyFailed = false;
    for (std::size_t i = 0; i < kRegisterCount; ++i) {
        const uint8_t reg = kRegisters[i].reg;
        // A failed read is shown as such, never as the value of the register
        // read before it.
        const bool failed = LinkReadRegister(DeviceAddress(), reg, &buffer);
        *RegisterText(reg) = failed ? NoValueText() : HexByte(buffer);
        anyFailed = anyFailed || failed;
        if (reg == 0x00)
            controlRead = !failed;
        if (reg == 0x09)
            statusRead = !failed;
    }

    // Bits 5 and 6 of the Control register have no box. The boxes and the
    // register's shadow move together: the next box or SLEEP composes from
    // the byte the boxes now show, not from one nobody can see.
    if (controlRead) {
        const int32_t v = ParseHexSigned(m_strReg00);
        g_shadow[0x00] = v;
        m_bLed2OnA = (v >> 0) & 1;
        m_bLedBEn = (v >> 1) & 1;
        m_bLedAEn = (v >> 2) & 1;
        m_bLinearB = (v >> 3) & 1;
        m_bLinearA = (v >> 4) & 1;
        m_bSleep = (v >> 7) & 1;
    }
    if (statusRead) {
        const int32_t w = ParseHexSigned(m_strReg09);
        m_bFlagOcp = (w >> 2) & 1;
        m_bFlagOvp = (w >> 1) & 1;
        m_bFlagTsd = (w >> 0) & 1;
    }
    Push();
    if (anyFailed) {
        ShowError(QStringLiteral("Read Error"));
    } else {
        NoteAccess(false, QString());
        SetStatus(QStringLiteral("Readback Complete"));
    }
}

void CEvalDlg::OnReadbackAll(EventArgs &) {
    ReadbackAll();
}
