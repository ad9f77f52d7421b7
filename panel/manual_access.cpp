// SPDX-License-Identifier: MIT
// Manual Control: read or write any register by typed hex address and data.
#include "link/link.h"
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"

// Typed text that is not a byte writes and reads nothing and stays as typed
// for the user to correct.

void CEvalDlg::OnManualWrite(EventArgs &) {
    Pull();
    uint8_t reg = 0;
    uint8_t value = 0;
    if (!ParseHexByte(m_strRegAddr, &reg)) {
        ShowError(QStringLiteral("Invalid Reg Addr"));
        return;
    }
    if (!ParseHexByte(m_strData, &value)) {
        ShowError(QStringLiteral("Invalid Data"));
        return;
    }
    // Shadows are left alone, and so are the register texts unless the
    // write failed.
    WriteRegister(reg, value);
    Push();
}

void CEvalDlg::OnManualRead(EventArgs &) {
    Pull();
    uint8_t reg = 0;
    if (!ParseHexByte(m_strRegAddr, &reg)) {
        ShowError(QStringLiteral("Invalid Reg Addr"));
        return;
    }
    uint8_t value = 0;
    const bool failed = LinkReadRegister(DeviceAddress(), reg, &value);
    // A failed read must not pass off what was typed as the chip's value.
    m_strData = failed ? NoValueText() : HexByte(value);
    NoteAccess(failed, QStringLiteral("Read Error"));
    Push();
}
