// SPDX-License-Identifier: MIT
// SW Reset: the chip back to its reset values, and the panel with it.
#include "link/link.h"
#include "panel/ceval_dlg.h"
#include "panel/register_map.h"

namespace {
constexpr uint8_t kSoftwareReset = 0x0F;
} // namespace

void CEvalDlg::OnSwReset(EventArgs &) {
    // A reset the chip did not take changes nothing it holds, so nothing in
    // the panel moves either.
    if (LinkWriteRegister(DeviceAddress(), kSoftwareReset, 1)) {
        ShowError(QStringLiteral("Write Error"));
        return;
    }
    NoteAccess(false, QString());

    // The chip now holds its reset values, which are what the panel assumes
    // at start-up: shadows, the sliders' memory of what they sent, and every
    // control go back there, so the next change composes from what the chip
    // holds and shows. The sliders' actions run after this one, as events
    // of their own, and find nothing new to send.
    ResetShadows();
    ResetSliderMemory();
    Pull();
    SetStartBoxes();
    SetStartPositions();
    Push();
    ReadbackAll();
    SetStatus(QStringLiteral("Reset"));
}
