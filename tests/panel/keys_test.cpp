// Ending the panel from the keyboard, and Enter on the push buttons.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "panel_fixture.h"
#include "res/resource.h"

TEST_F(PanelTest, EnterRightAfterStartClicksExit) {
    StartPanel();
    QTest::keyClick(dlg->focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected); // Exit is the cancel command
}

TEST_F(PanelTest, EnterInAnEditOrOnABoxEndsThePanelWithoutWriteOrRead) {
    for (int id : {IDC_REGADDR, IDC_DATA, IDC_LINEAR_A, IDC_OVP, IDC_BRIGHT_B}) {
        SCOPED_TRACE(id);
        ResetProcessState();
        StartPanel();
        ClearCalls();
        QWidget *target = dlg->GetDlgItem(id);
        target->setFocus();
        if (auto *edit = qobject_cast<QLineEdit *>(target))
            QTest::keyClicks(edit, "0");
        QTest::keyClick(target, Qt::Key_Enter);
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
}
