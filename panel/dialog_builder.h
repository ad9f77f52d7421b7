// SPDX-License-Identifier: MIT
// Builds a dialog's widgets from its template, laid out in dialog units
// converted to pixels from the dialog's font, and finds them by control ID.
#ifndef PANEL_DIALOG_BUILDER_H
#define PANEL_DIALOG_BUILDER_H

#include <QHash>
#include <QRect>

#include "res/dialog_template.h"

class QDialog;
class QFont;
class QWidget;

// Dialog units the way the window system converts them: a horizontal unit is
// a quarter of the average width of the 52 letters A-Z a-z, a vertical unit an
// eighth of the font's height.
struct DialogUnits {
    int baseX = 0;
    int baseY = 0;

    static DialogUnits ForFont(const QFont &font);
    int x(int dlu) const { return (dlu * baseX + 2) / 4; }
    int y(int dlu) const { return (dlu * baseY + 4) / 8; }
    QRect rect(int x0, int y0, int w, int h) const { return QRect(x(x0), y(y0), x(w), y(h)); }
};

// The property every built widget carries: its control ID (IDC_STATIC for
// labels, group boxes and pictures).
inline constexpr char kControlIdProperty[] = "controlId";

// Creates the template's controls as children of `dialog`, sets its title and
// fixed client size, and chains the tab order in template order. Push buttons
// with IDOK and IDCANCEL end the dialog as accept and cancel. Returns the
// controls that have an ID, by ID.
QHash<int, QWidget *> BuildDialog(QDialog *dialog, const res::DialogTemplate &tmpl);

#endif
