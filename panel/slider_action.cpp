// SPDX-License-Identifier: MIT
// A slider's action runs before each of its repaints. It writes the chip only
// when the position differs from what that slider last sent, which is what
// keeps hover, focus and uncovering repaints off the bus.
#include <QSlider>

#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"
#include "panel/slider_action.h"
#include "res/resource.h"

namespace {

const SliderRow kSliders[] = {
    {IDC_BRIGHT_A, 0x03, 255, 0},
    {IDC_BRIGHT_B, 0x04, 255, 0},
    {IDC_CURRENT_A, 0x05, 31, 31},
    {IDC_CURRENT_B, 0x06, 31, 31},
};

} // namespace

const SliderRow *FindSliderRow(int id) {
    for (const SliderRow &row : kSliders) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}

void CEvalDlg::OnSliderDraw(EventArgs &args) {
    const SliderRow *row = FindSliderRow(args.id);
    Pull();
    const int32_t position = qobject_cast<QSlider *>(GetDlgItem(row->id))->value();
    g_shadow[row->reg] = position;
    *RegisterText(row->reg) = HexByte(static_cast<uint32_t>(position));
    // A position counts as sent only once the chip took it: after a failed
    // write the next repaint tries again.
    int32_t &lastSent = g_lastSent[row->reg - kFirstSliderRegister];
    if (position != lastSent && !WriteRegister(row->reg, position))
        lastSent = position;
    Push();
    if (row->id == IDC_BRIGHT_A)
        SetStatus(QStringLiteral("Ready"));
    args.result = 0; // paint in the default way
}
