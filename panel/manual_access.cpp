// Manual Control: read or write any register by typed hex address and data.
#include "link/link.h"
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"

void CEvalDlg::OnManualWrite(EventArgs &) {
    Pull();
    const auto value = static_cast<uint8_t>(ParseHexTyped(m_strData) & 0xFF);
    const auto reg = static_cast<uint8_t>(ParseHexTyped(m_strRegAddr) & 0xFF);
    // Shadows, register texts and the status line are left alone.
    LinkWriteRegister(DeviceAddress(), reg, value);
    Push();
}

void CEvalDlg::OnManualRead(EventArgs &) {
    Pull();
    auto buffer = static_cast<uint8_t>(ParseHexTyped(m_strData) & 0xFF);
    const auto reg = static_cast<uint8_t>(ParseHexTyped(m_strRegAddr) & 0xFF);
    const bool failed = LinkReadRegister(DeviceAddress(), reg, &buffer);
    // A failed read must not pass off what was typed as the chip's value.
    m_strData = failed ? FailedReadText() : HexByte(buffer);
    Push();
}
