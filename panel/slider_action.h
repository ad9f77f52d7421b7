// SPDX-License-Identifier: MIT
// The four sliders: which register and field each drives, and its start.
#ifndef PANEL_SLIDER_ACTION_H
#define PANEL_SLIDER_ACTION_H

#include <cstdint>

namespace chip {
struct Field;
}

struct SliderRow {
    int id;
    uint8_t reg;
    const char *field; // the chip's field the slider sets; its range is the field's
    int startPosition;

    const chip::Field &Field() const;
};

const SliderRow *FindSliderRow(int id);
// The slider that drives `reg`, or null.
const SliderRow *FindSliderRowOf(uint8_t reg);

#endif
