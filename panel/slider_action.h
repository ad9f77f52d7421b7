// SPDX-License-Identifier: MIT
// The four sliders: which register each drives, its range and start.
#ifndef PANEL_SLIDER_ACTION_H
#define PANEL_SLIDER_ACTION_H

#include <cstdint>

struct SliderRow {
    int id;
    uint8_t reg;
    int maximum;
    int startPosition;
};

const SliderRow *FindSliderRow(int id);

#endif
