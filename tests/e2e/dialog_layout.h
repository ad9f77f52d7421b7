// SPDX-License-Identifier: MIT
// Where a template's controls sit in a shown window, worked out the way the
// panel lays them out: dialog units over the font's bases. The bases are
// recovered from the window's size, so nothing here assumes a font.
#ifndef TESTS_E2E_DIALOG_LAYOUT_H
#define TESTS_E2E_DIALOG_LAYOUT_H

#include <QPoint>
#include <QRect>
#include <optional>

#include "panel/dialog_builder.h"
#include "res/dialog_template.h"

class DialogLayout {
public:
    // The layout behind a window of width x height device pixels drawn at
    // `scale` device pixels per logical pixel; nothing if no pair of bases
    // gives exactly that size.
    static std::optional<DialogLayout> FromWindowSize(const res::DialogTemplate &tmpl, int width,
                                                      int height, int scale = 1);

    const DialogUnits &Units() const { return m_units; }

    // A control's rectangle in device pixels, relative to the window; an
    // empty one for an ID the template does not have.
    QRect Rect(int id) const;

    // Points to click, in device pixels relative to the window:
    // a check box on its indicator (the box's text-side end is text, and
    // beyond the text nothing takes the click);
    QPoint CheckBoxPoint(int id) const;
    // a button or an edit in its middle;
    QPoint CenterPoint(int id) const;
    // a drop-down list on its arrow;
    QPoint ListArrowPoint(int id) const;
    // a slider on its handle, at the start or the end of its travel.
    QPoint SliderEndPoint(int id, bool atMaximum) const;

private:
    DialogLayout(const res::DialogTemplate &tmpl, DialogUnits units, int scale)
        : m_tmpl(&tmpl), m_units(units), m_scale(scale) {}

    const res::ControlTemplate *Find(int id) const;
    QPoint Device(int x, int y) const { return QPoint(x * m_scale, y * m_scale); }

    const res::DialogTemplate *m_tmpl;
    DialogUnits m_units;
    int m_scale;
};

#endif
