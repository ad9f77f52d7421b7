// SPDX-License-Identifier: MIT
// A slider's action runs before each of its repaints. It writes the chip only
// when the position differs from what that slider last sent, which is what
// keeps hover, focus and uncovering repaints off the bus.
#include <QSlider>

#include "chip/xq4620.h"
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"
#include "panel/slider_action.h"
#include "res/resource.h"

namespace {

const SliderRow kSliders[] = {
    {IDC_BRIGHT_A, 0x03, "brightness-a", 0},
    {IDC_BRIGHT_B, 0x04, "brightness-b", 0},
    {IDC_CURRENT_A, 0x05, "max-current-a", 31},
    {IDC_CURRENT_B, 0x06, "max-current-b", 31},
};

} // namespace

const SliderRow *FindSliderRow(int id) {
    for (const SliderRow &row : kSliders) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}

const SliderRow *FindSliderRowOf(uint8_t reg) {
    for (const SliderRow &row : kSliders) {
        if (row.reg == reg)
            return &row;
    }
    return nullptr;
}

const chip::Field &SliderRow::Field() const {
    return *chip::findField(field);
}

void CEvalDlg::OnSliderDraw(EventArgs &args) {
    const SliderRow *row = FindSliderRow(args.id);
    Pull();
    const int32_t position = qobject_cast<QSlider *>(GetDlgItem(row->id))->value();
    // A position counts as sent once it was tried, whether the chip took it
    // or not: the user's next move writes again, a repaint never does. Only
    // a write changes the register's text, so a repaint leaves what a
    // readback showed there.
    int32_t &lastSent = g_lastSent[row->reg - kFirstSliderRegister];
    if (position != lastSent) {
        lastSent = position;
        // The slider's field only; the register's other bits stay as the
        // panel last set them.
        int32_t &shadow = g_shadow[row->reg];
        shadow =
            row->Field().placedIn(static_cast<uint8_t>(shadow), static_cast<unsigned>(position));
        *RegisterText(row->reg) = HexByte(static_cast<uint32_t>(shadow));
        WriteRegister(row->reg, shadow); // a failure shows "--" in the text
    }
    Push();
    if (row->id == IDC_BRIGHT_A)
        SetStatus(QStringLiteral("Ready"));
    args.result = 0; // paint in the default way
}
