// SPDX-License-Identifier: MIT
// The lists' edit fields. A list stands for its choices only: what the user
// types there is text, never a choice. A list whose text is exactly one of
// its choices has that choice selected; any other text leaves it with no
// selection (index -1), so an action that reads it writes nothing rather
// than a choice the list no longer shows. Nothing typed raises an action.
#include <QComboBox>
#include <QLineEdit>

#include "panel/ceval_dlg.h"

namespace {

void FollowText(QComboBox *list) {
    QLineEdit *edit = list->lineEdit();
    const QString text = edit->text();
    const int index = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index == list->currentIndex())
        return;
    const int cursor = edit->cursorPosition();
    // Selecting from code raises no action; dropping the selection clears
    // the edit field, which gets the typed text back.
    list->setCurrentIndex(index);
    if (index < 0) {
        edit->setText(text);
        edit->setCursorPosition(cursor);
    }
}

} // namespace

void CEvalDlg::WireListTexts() {
    for (QComboBox *list :
         {m_cbFmode, m_cbOcp, m_cbOvp, m_cbRampOff, m_cbRampStop, m_cbRampOn, m_cbRampStart}) {
        QLineEdit *edit = list->lineEdit();
        // The list would otherwise choose for the user when the field loses
        // the focus or takes Enter with a text that matches a choice in
        // another case.
        disconnect(edit, &QLineEdit::editingFinished, list, nullptr);
        disconnect(edit, &QLineEdit::returnPressed, list, nullptr);
        connect(edit, &QLineEdit::textChanged, list, [list] { FollowText(list); });
        // A choice from the drop-down shows that choice's text, whatever was
        // typed before.
        connect(list, &QComboBox::activated, list, [list](int index) {
            if (list->lineEdit()->text() != list->itemText(index))
                list->lineEdit()->setText(list->itemText(index));
        });
    }
}
