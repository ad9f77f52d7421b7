// SPDX-License-Identifier: MIT
// The lists' edit fields. A list holds only its choices. Text typed into its
// field takes effect when the list loses the focus: text naming one of the
// choices as the list writes it (case and spaces aside) chooses it and
// writes at once, exactly as the drop-down would; any other text gives way
// to the current choice and the status says "Invalid choice". Until then no
// action reads what was typed: the actions read the selection, which typing
// never moves.
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>

#include "panel/ceval_dlg.h"
#include "panel/dialog_builder.h"

namespace {

QString Folded(const QString &text) {
    QString folded;
    for (const QChar c : text) {
        if (!c.isSpace())
            folded += c;
    }
    return folded.toCaseFolded();
}

} // namespace

int ChoiceNamedBy(const QComboBox *list, const QString &text) {
    const QString wanted = Folded(text);
    for (int i = 0; i < list->count(); ++i) {
        if (Folded(list->itemText(i)) == wanted)
            return i;
    }
    return -1;
}

// Watches the lists for the focus leaving them.
class ListTextCommit : public QObject {
public:
    ListTextCommit(CEvalDlg *dialog, int id) : QObject(dialog), m_dialog(dialog), m_id(id) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::FocusOut) {
            // A menu or the list's own drop-down borrows the focus, and
            // another window taking it leaves it where it was in this one:
            // the list keeps what was typed until the user moves on here.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                m_dialog->CommitListText(m_id);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    CEvalDlg *m_dialog;
    int m_id;
};

void CEvalDlg::CommitListText(int id) {
    auto *list = qobject_cast<QComboBox *>(GetDlgItem(id));
    QLineEdit *edit = list->lineEdit();
    const QString text = edit->text();
    // Ending the panel (Enter, Escape) takes what was typed nowhere.
    if (m_ending || !isVisible() || text == list->itemText(list->currentIndex()))
        return;
    const int index = ChoiceNamedBy(list, text);
    if (index < 0) {
        edit->setText(list->itemText(list->currentIndex()));
        ShowError(QStringLiteral("Invalid choice"));
        return;
    }
    // Selecting from code is silent; the choice's action runs as the
    // drop-down's would.
    list->setCurrentIndex(index);
    edit->setText(list->itemText(index));
    Dispatch(Event::SelChange, id);
}

void CEvalDlg::WireListTexts() {
    for (QComboBox *list :
         {m_cbFmode, m_cbOcp, m_cbOvp, m_cbRampOff, m_cbRampStop, m_cbRampOn, m_cbRampStart}) {
        QLineEdit *edit = list->lineEdit();
        // The list would otherwise take typed text as a choice of its own
        // when the field loses the focus or takes Enter.
        disconnect(edit, &QLineEdit::editingFinished, list, nullptr);
        disconnect(edit, &QLineEdit::returnPressed, list, nullptr);
        list->installEventFilter(
            new ListTextCommit(this, list->property(kControlIdProperty).toInt()));
        // A choice from the drop-down shows that choice's text, whatever was
        // typed before.
        connect(list, &QComboBox::activated, list, [list](int index) {
            if (list->lineEdit()->text() != list->itemText(index))
                list->lineEdit()->setText(list->itemText(index));
        });
    }
}
