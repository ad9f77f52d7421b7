// SPDX-License-Identifier: MIT
// A list's selection as its field code.
#ifndef PANEL_LIST_CODE_H
#define PANEL_LIST_CODE_H

#include <cstdint>

class QComboBox;

// The code of the list's selection, through the code table; false when the
// list has no selection (an editable list can report none) or the index has
// no code.
bool SelectedCode(const QComboBox *list, int32_t *code);

#endif
