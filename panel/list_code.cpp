// SPDX-License-Identifier: MIT
#include "panel/list_code.h"

#include <QComboBox>

#include "panel/register_map.h"

bool SelectedCode(const QComboBox *list, int32_t *code) {
    const int index = list->currentIndex();
    if (index < 0 || index >= kCodeCount)
        return false;
    *code = g_codeOfIndex[index];
    return true;
}
