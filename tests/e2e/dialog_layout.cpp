// SPDX-License-Identifier: MIT
#include "dialog_layout.h"

namespace {

// Inset from a control's edge, in dialog units: inside a check box's
// indicator, a slider's handle or a list's arrow button at any font size.
constexpr int kInset = 3;
// A closed list is as tall as an edit field; this is well inside one.
constexpr int kListArrowY = 6;
// Larger bases than this would make a window wider than any screen.
constexpr int kMaxBase = 200;

} // namespace

std::optional<DialogLayout> DialogLayout::FromWindowSize(const res::DialogTemplate &tmpl, int width,
                                                         int height, int scale) {
    // Both conversions grow strictly with the base, so at most one base fits.
    std::optional<int> baseX;
    std::optional<int> baseY;
    for (int base = 1; base <= kMaxBase; ++base) {
        const DialogUnits units{base, base};
        if (units.x(tmpl.width) * scale == width)
            baseX = base;
        if (units.y(tmpl.height) * scale == height)
            baseY = base;
    }
    if (!baseX || !baseY)
        return std::nullopt;
    return DialogLayout(tmpl, DialogUnits{*baseX, *baseY}, scale);
}

const res::ControlTemplate *DialogLayout::Find(int id) const {
    for (std::size_t i = 0; i < m_tmpl->count; ++i) {
        if (m_tmpl->controls[i].id == id)
            return &m_tmpl->controls[i];
    }
    return nullptr;
}

QRect DialogLayout::Rect(int id) const {
    const res::ControlTemplate *c = Find(id);
    if (!c)
        return QRect();
    const QRect r = m_units.rect(c->x, c->y, c->w, c->h);
    return QRect(r.x() * m_scale, r.y() * m_scale, r.width() * m_scale, r.height() * m_scale);
}

QPoint DialogLayout::CheckBoxPoint(int id) const {
    const res::ControlTemplate *c = Find(id);
    if (!c)
        return QPoint();
    const QRect r = m_units.rect(c->x, c->y, c->w, c->h);
    const int inset = m_units.x(kInset);
    // A box with its text on the left has its indicator at the right end.
    const int x = (c->style & res::kTextLeft) ? r.x() + r.width() - inset : r.x() + inset;
    return Device(x, r.y() + r.height() / 2);
}

QPoint DialogLayout::CenterPoint(int id) const {
    const res::ControlTemplate *c = Find(id);
    if (!c)
        return QPoint();
    const QRect r = m_units.rect(c->x, c->y, c->w, c->h);
    return Device(r.x() + r.width() / 2, r.y() + r.height() / 2);
}

QPoint DialogLayout::ListArrowPoint(int id) const {
    const res::ControlTemplate *c = Find(id);
    if (!c)
        return QPoint();
    // The template height is the opened drop-down; only the width counts.
    const QRect r = m_units.rect(c->x, c->y, c->w, c->h);
    return Device(r.x() + r.width() - m_units.x(kInset), r.y() + m_units.y(kListArrowY));
}

QPoint DialogLayout::SliderEndPoint(int id, bool atMaximum) const {
    const res::ControlTemplate *c = Find(id);
    if (!c)
        return QPoint();
    const QRect r = m_units.rect(c->x, c->y, c->w, c->h);
    const int inset = m_units.x(kInset);
    return Device(atMaximum ? r.x() + r.width() - inset : r.x() + inset, r.y() + r.height() / 2);
}
