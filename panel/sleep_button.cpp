// SLEEP: one click puts the chip to sleep.
#include "link/link.h"
#include "panel/ceval_dlg.h"
#include "panel/register_map.h"

void CEvalDlg::OnSleepButton(EventArgs &) {
    Pull();
    g_shadow[0x00] |= 0x80;
    m_bSleep = 1;
    // The register text keeps its older value until the next readback.
    Push();
    LinkWriteRegister(DeviceAddress(), 0x00, static_cast<uint8_t>(g_shadow[0x00] & 0xFF));
}
