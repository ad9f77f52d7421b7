// SPDX-License-Identifier: MIT
// Keys and wheel turns that the panel decides on before any control sees
// them: Alt+Space opens the system menu wherever the focus is, Enter in a
// list's edit field is the accept command, and the wheel moves a list or a
// slider only while it has the keyboard focus. Installed on every control.
#ifndef PANEL_INPUT_GUARD_H
#define PANEL_INPUT_GUARD_H

#include <QObject>

class CEvalDlg;

class InputGuard : public QObject {
    Q_OBJECT

public:
    explicit InputGuard(CEvalDlg *dialog);

    // Guards every control of the dialog, and keeps wheel turns from giving
    // a list or slider the focus.
    void Watch();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    CEvalDlg *m_dialog;
};

#endif
