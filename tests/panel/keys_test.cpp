// SPDX-License-Identifier: MIT
// Ending the panel from the keyboard, and Enter on the push buttons.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <string>

#include "panel_fixture.h"
#include "res/resource.h"

TEST_F(PanelTest, EnterRightAfterStartClicksExit) {
    StartPanel();
    QTest::keyClick(dlg->focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected); // Exit is the cancel command
}

TEST_F(PanelTest, EnterInAnEditOrOnABoxEndsThePanelWithoutWriteOrRead) {
    // The main keyboard's Return, Enter, and Enter on the keypad as X
    // delivers it.
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char *name;
    } enters[] = {{Qt::Key_Return, Qt::NoModifier, "Return"},
                  {Qt::Key_Enter, Qt::NoModifier, "Enter"},
                  {Qt::Key_Enter, Qt::KeypadModifier, "keypad Enter"}};
    for (const auto &enter : enters)
        for (int id : {IDC_REGADDR, IDC_DATA, IDC_LINEAR_A, IDC_OVP, IDC_BRIGHT_B, IDC_FMODE,
                       IDC_RAMP_STOP}) {
            SCOPED_TRACE(std::string(enter.name) + " on " + std::to_string(id));
            ResetProcessState();
            StartPanel();
            ClearCalls();
            QWidget *target = dlg->GetDlgItem(id);
            target->setFocus();
            // In a list, after typing: a prefix of a choice, or a choice in
            // another case, is no choice.
            if (auto *list = qobject_cast<QComboBox *>(target); list && id != IDC_OVP) {
                target = list->lineEdit();
                list->lineEdit()->clear();
                QTest::keyClicks(target, id == IDC_FMODE ? "1" : "16 S");
            }
            if (auto *edit = qobject_cast<QLineEdit *>(target))
                QTest::keyClicks(edit, "0");
            QTest::keyClick(target, enter.key, enter.modifiers);
            EXPECT_FALSE(dlg->isVisible());
            EXPECT_EQ(dlg->result(), QDialog::Accepted);
            EXPECT_TRUE(calls.empty()) << calls.front(); // neither Write nor Read ran
        }
}

TEST_F(PanelTest, EnterOnAFocusedReadOrWriteButtonClicksItAndThePanelStays) {
    StartPanel();
    TypeInto(IDC_REGADDR, QStringLiteral("1"));
    TypeInto(IDC_DATA, QStringLiteral("5A"));
    ClearCalls();
    dlg->GetDlgItem(IDC_WRITE)->setFocus();
    QTest::keyClick(dlg->GetDlgItem(IDC_WRITE), Qt::Key_Return);
    dlg->GetDlgItem(IDC_READ)->setFocus();
    QTest::keyClick(dlg->GetDlgItem(IDC_READ), Qt::Key_Return);
    Settle();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Writes(), (std::vector<std::string>{"0x01=0x5A"}));
    EXPECT_EQ(calls.back(), "vtxI2C_RegisterRead(1, 0x36, 0x01) = 90");
}

TEST_F(PanelTest, EscapeEndsThePanel) {
    StartPanel();
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);

    // Also from a list's edit field, where the list would keep it.
    ResetProcessState();
    StartPanel();
    ClearCalls();
    QLineEdit *edit = List(IDC_OVP)->lineEdit();
    edit->setFocus();
    QTest::keyClicks(edit, "1");
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_TRUE(calls.empty());
}

// Alt+Space opens the panel's system menu wherever the focus is; the focused
// control never sees it, so no button is clicked and no box toggles.
TEST_F(PanelTest, AltSpaceOpensTheMenuAndNeverReachesTheFocusedControl) {
    StartPanel();
    for (int id : {IDCANCEL, IDC_SW_RESET, IDC_LINEAR_A, IDC_SLEEP_BUTTON, IDC_OVP, IDC_BRIGHT_A,
                   IDC_DATA}) {
        SCOPED_TRACE(id);
        ClearCalls();
        QWidget *target = dlg->GetDlgItem(id);
        if (QWidget *proxy = target->focusProxy())
            target = proxy; // a list's edit field
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Space, Qt::AltModifier);
        Settle();
        EXPECT_TRUE(dlg->GetSystemMenu()->isVisible());
        dlg->GetSystemMenu()->hide();
        dlg->activateWindow();
        Settle();
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_TRUE(calls.empty()) << calls.front();
    }
    EXPECT_FALSE(Box(IDC_LINEAR_A)->isChecked());
}
