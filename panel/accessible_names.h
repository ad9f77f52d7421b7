// SPDX-License-Identifier: MIT
// Names that screen readers and UI automation find the controls by.
#ifndef PANEL_ACCESSIBLE_NAMES_H
#define PANEL_ACCESSIBLE_NAMES_H

#include <QHash>

class QWidget;

// Names the controls that show no text of their own: register edits
// ("Register 0x03"), the manual edits, the lists and the sliders by the
// labels beside them. Controls with text are named by it.
void NameControls(const QHash<int, QWidget *> &controls);

#endif
