// What each control writes, driven by real input on the shown panel.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "panel/register_map.h"
#include "panel_fixture.h"
#include "res/resource.h"
#include "vtx/sim.h"
#include "vtx/vtx_testing.h"

using Writes_ = std::vector<std::string>;

// After start-up: the panel as the user first sees it, trace cleared.
class Actions : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        StartPanel();
        ClearCalls();
    }
};

TEST_F(PanelTest, FirstDisplayWritesMaxCurrentOnceAndShowsSliderValues) {
    StartPanel();
    EXPECT_EQ(Writes(), (Writes_{"0x05=0x1F", "0x06=0x1F"}));
    EXPECT_EQ(Text(IDC_REG03), QStringLiteral("00"));
    EXPECT_EQ(Text(IDC_REG04), QStringLiteral("00"));
    EXPECT_EQ(Text(IDC_REG05), QStringLiteral("1F"));
    EXPECT_EQ(Text(IDC_REG06), QStringLiteral("1F"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Ready"));
    // Repaints without a change of position write nothing.
    ClearCalls();
    for (int id : {IDC_BRIGHT_A, IDC_BRIGHT_B, IDC_CURRENT_A, IDC_CURRENT_B})
        Slider(id)->update();
    Settle();
    EXPECT_TRUE(Writes().empty());
}

TEST_F(Actions, BitTogglesComposeFromTheShadowWithTheChipsClearMasks) {
    ClickBox(IDC_LED_A_EN);
    EXPECT_EQ(Text(IDC_REG00), QStringLiteral("C4"));
    ClickBox(IDC_LED_A_EN);
    ClickBox(IDC_LINEAR_A);
    ClickBox(IDC_LINEAR_A);
    // Clearing Sleep also clears bit 6 of the 0xC0 default.
    ClickBox(IDC_SLEEP);
    ClickBox(IDC_SLEEP);
    // Unchecking a Configuration box also clears bits 7-5.
    ClickBox(IDC_FEEDBACK_A);
    ClickBox(IDC_SLOW_START);
    ClickBox(IDC_SLOW_START);
    EXPECT_EQ(Writes(), (Writes_{"0x00=0xC4", "0x00=0xC0", "0x00=0xD0", "0x00=0xC0", "0x00=0x00",
                                 "0x00=0x80", "0x01=0x10", "0x02=0x3C", "0x02=0x38"}));
    EXPECT_EQ(Text(IDC_REG01), QStringLiteral("10"));
    EXPECT_EQ(vtx::sim::chipRegister(0x00), 0x80);
}

TEST_F(Actions, EveryBoxDrivesItsOwnBit) {
    struct Row {
        int id;
        const char *write;
    };
    // From the defaults 0xC0 / 0x18, one click each, undone before the next.
    const Row rows[] = {
        {IDC_LINEAR_B, "0x00=0xC8"},       {IDC_LED_B_EN, "0x00=0xC2"},
        {IDC_LED2_ON_A, "0x00=0xC1"},      {IDC_FEEDBACK_B, "0x01=0x08"},
        {IDC_PWM_ACTIVE_LOW, "0x01=0x1C"}, {IDC_PWM_B, "0x01=0x1A"},
        {IDC_PWM_A, "0x01=0x19"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.id);
        ClearCalls();
        ClickBox(row.id);
        ASSERT_EQ(Writes().size(), 1u);
        EXPECT_EQ(Writes()[0], row.write);
        ClickBox(row.id);
        g_shadow[0x00] = 0xC0; // undo the extra bits the clear masks took
        g_shadow[0x01] = 0x18;
    }
}

TEST_F(Actions, BoostListsComposeTheRegisterAndKeepSlowStart) {
    ChooseItem(IDC_OVP, 1);   // "24 V"
    ChooseItem(IDC_OCP, 3);   // "1.2 A"
    ChooseItem(IDC_FMODE, 0); // "500 kHz"
    EXPECT_EQ(Writes(), (Writes_{"0x02=0x38", "0x02=0x38", "0x02=0x38"}));
    ClearCalls();
    ChooseItem(IDC_FMODE, 2); // "450 kHz" is code 2
    ClickBox(IDC_SLOW_START);
    ChooseItem(IDC_OVP, 3); // "40 V": Slow Start stays on
    EXPECT_EQ(Writes(), (Writes_{"0x02=0x3A", "0x02=0x3E", "0x02=0x7E"}));
    EXPECT_EQ(Text(IDC_REG02), QStringLiteral("7E"));
    EXPECT_TRUE(Checked(IDC_SLOW_START));
}

TEST_F(Actions, RampListsSetOneFieldEach) {
    ChooseItem(IDC_RAMP_ON, 6);  // "8 s"
    ChooseItem(IDC_RAMP_OFF, 1); // "261 ms"
    ChooseItem(IDC_RAMP_START, 7);
    ChooseItem(IDC_RAMP_STOP, 2);
    EXPECT_EQ(Writes(), (Writes_{"0x07=0x30", "0x07=0x31", "0x08=0x38", "0x08=0x3A"}));
    EXPECT_EQ(Text(IDC_REG07), QStringLiteral("31"));
    EXPECT_EQ(Text(IDC_REG08), QStringLiteral("3A"));
}

TEST_F(Actions, AListWithoutASelectionWritesNothing) {
    List(IDC_OCP)->setCurrentIndex(-1);
    List(IDC_RAMP_OFF)->setCurrentIndex(-1);
    ChooseItem(IDC_OVP, 2);
    ChooseItem(IDC_RAMP_OFF, 3);
    List(IDC_RAMP_OFF)->setCurrentIndex(-1);
    ChooseItem(IDC_RAMP_ON, 1);
    // The OVP choice found OCP empty; the On choice is fine on its own field.
    EXPECT_EQ(Writes(), (Writes_{"0x07=0x03", "0x07=0x0B"}));
    EXPECT_EQ(g_shadow[0x02], 0x38);
    EXPECT_EQ(Text(IDC_REG02), QStringLiteral("38"));
}

TEST_F(Actions, DraggingASliderWritesEachNewPositionOnceAndRepaintsWriteNothing) {
    DragSlider(IDC_BRIGHT_B, 128);
    const Writes_ writes = Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), "0x04=0x80");
    for (std::size_t i = 1; i < writes.size(); ++i)
        EXPECT_NE(writes[i], writes[i - 1]) << "a position written twice in a row";
    for (const std::string &w : writes)
        EXPECT_EQ(w.substr(0, 4), "0x04");
    EXPECT_EQ(Text(IDC_REG04), QStringLiteral("80"));
    EXPECT_EQ(g_shadow[0x04], 128);

    ClearCalls();
    QSlider *slider = Slider(IDC_BRIGHT_B);
    slider->update();                                  // a plain repaint
    QTest::mouseMove(slider, slider->rect().center()); // hover
    slider->setFocus();                                // focus in and out
    Settle();
    dlg->GetDlgItem(IDCANCEL)->setFocus();
    QWidget cover; // covered, then uncovered
    cover.setGeometry(dlg->geometry());
    cover.show();
    Settle();
    cover.hide();
    dlg->repaint();
    Settle();
    EXPECT_TRUE(Writes().empty());
}

TEST_F(Actions, SliderKeysWriteEveryPositionOnce) {
    QSlider *slider = Slider(IDC_CURRENT_A);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Home);
    Settle();
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(slider, Qt::Key_Right);
        Settle();
    }
    QTest::keyClick(slider, Qt::Key_End);
    Settle();
    EXPECT_EQ(Writes(), (Writes_{"0x05=0x00", "0x05=0x01", "0x05=0x02", "0x05=0x03", "0x05=0x1F"}));
}

TEST_F(Actions, ManualWriteAndReadUseTheTypedHex) {
    TypeInto(IDC_REGADDR, QStringLiteral("3"));
    TypeInto(IDC_DATA, QStringLiteral("1ff"));
    ClickButton(IDC_WRITE);
    EXPECT_EQ(Writes(), (Writes_{"0x03=0xFF"}));
    EXPECT_EQ(vtx::sim::chipRegister(0x03), 0xFF);
    EXPECT_EQ(g_shadow[0x03], 0); // shadow and text of 0x03 left alone
    EXPECT_EQ(Text(IDC_REG03), QStringLiteral("00"));

    TypeInto(IDC_DATA, QString());
    ClickButton(IDC_READ);
    EXPECT_EQ(Text(IDC_DATA), QStringLiteral("FF"));

    // A register the chip does not acknowledge is not shown as a value.
    TypeInto(IDC_REGADDR, QStringLiteral("20"));
    TypeInto(IDC_DATA, QStringLiteral("1ff"));
    ClickButton(IDC_READ);
    EXPECT_EQ(Text(IDC_DATA), QStringLiteral("--"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Ready"));
}

TEST_F(Actions, TypedHexFollowsStrtoul) {
    struct Row {
        const char *addr;
        const char *data;
        const char *expected;
    };
    const Row rows[] = {
        {" 0x1", "0x1A", "0x01=0x1A"}, // blanks and prefixes
        {"+2", "-1", "0x02=0xFF"},     // a minus negates in unsigned arithmetic
        {"zz", "7g", "0x00=0x07"},     // digits up to the first non-digit; none gives 0
        {"", "", "0x00=0x00"},
        {"107", "123456789", "0x07=0xFF"}, // too large for 32 bits gives 0xFFFFFFFF
    };
    for (const Row &row : rows) {
        ClearCalls();
        TypeInto(IDC_REGADDR, QString::fromLatin1(row.addr));
        TypeInto(IDC_DATA, QString::fromLatin1(row.data));
        ClickButton(IDC_WRITE);
        EXPECT_EQ(Writes(), (Writes_{row.expected})) << row.addr << " / " << row.data;
    }
}

TEST_F(Actions, SleepSetsBitSevenAndLeavesTheTextAlone) {
    ClickBox(IDC_SLEEP);    // 0x00 -> 0x00
    ClickBox(IDC_LED_A_EN); // -> 0x04
    ClearCalls();
    const QString before = Text(IDC_REG00);
    ClickButton(IDC_SLEEP_BUTTON);
    EXPECT_EQ(Writes(), (Writes_{"0x00=0x84"}));
    EXPECT_TRUE(Checked(IDC_SLEEP));
    EXPECT_EQ(Text(IDC_REG00), before);
}

TEST_F(Actions, SwResetRestoresTheChipAndRereadsThePanel) {
    ClickBox(IDC_LED_A_EN);
    ClickBox(IDC_PWM_B);
    ClickBox(IDC_SLOW_START);
    ChooseItem(IDC_OVP, 3);
    ChooseItem(IDC_RAMP_ON, 2);
    DragSlider(IDC_BRIGHT_A, 40);
    DragSlider(IDC_CURRENT_B, 10);
    vtx::sim::raiseInterrupt(vtx::sim::kOvp);
    ClearCalls();

    dlg->GetDlgItem(IDC_SW_RESET)->setFocus();
    QTest::keyClick(dlg->GetDlgItem(IDC_SW_RESET), Qt::Key_Space);
    // Inside SW Reset: the reset, the readback, and "Reset"; the sliders'
    // actions have not run yet.
    ASSERT_GE(calls.size(), 14u);
    EXPECT_EQ(calls[0], "vtxI2C_RegisterWrite(1, 0x36, 0x0F, 0x01) = 0");
    EXPECT_EQ(calls[1], "vtxI2C_RegisterRead(1, 0x36, 0x00) = 192");
    EXPECT_EQ(calls.size(), 14u);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Reset"));

    Settle();
    // Then the Bank A brightness slider, moved to 0, writes 0 as an event of
    // its own; Bank B had sent nothing, so it writes nothing.
    EXPECT_EQ(Writes(), (Writes_{"0x0F=0x01", "0x03=0x00"}));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Ready"));
    EXPECT_EQ(g_shadow[0x03], 0);
    EXPECT_EQ(g_shadow[0x04], 0);
    EXPECT_EQ(Text(IDC_REG03), QStringLiteral("00"));

    // Control and status boxes follow the chip; Slow Start clear; Feedback
    // boxes checked; PWM, lists and Max Current as they were.
    EXPECT_TRUE(Checked(IDC_SLEEP));
    EXPECT_FALSE(Checked(IDC_LED_A_EN));
    EXPECT_FALSE(Checked(IDC_FLAG_OVP));
    EXPECT_FALSE(Checked(IDC_SLOW_START));
    EXPECT_TRUE(Checked(IDC_FEEDBACK_A));
    EXPECT_TRUE(Checked(IDC_FEEDBACK_B));
    EXPECT_TRUE(Checked(IDC_PWM_B));
    EXPECT_EQ(List(IDC_OVP)->currentIndex(), 1);
    EXPECT_EQ(List(IDC_RAMP_ON)->currentIndex(), 2);
    EXPECT_EQ(Slider(IDC_CURRENT_B)->value(), 10);
    EXPECT_EQ(Slider(IDC_BRIGHT_A)->value(), 0);
    // Max Current B did not repaint: its text shows the chip's reset value
    // until it does.
    EXPECT_EQ(Text(IDC_REG06), QStringLiteral("1F"));
}

TEST_F(Actions, AfterSwResetTheShadowAndTheBoxMayDisagree) {
    ClickBox(IDC_FEEDBACK_A);
    ClickButton(IDC_SW_RESET);
    ClearCalls();
    ClickBox(IDC_PWM_A);
    EXPECT_EQ(Writes(), (Writes_{"0x01=0x11"}));
    EXPECT_TRUE(Checked(IDC_FEEDBACK_A));
}

namespace {

// Closes the About box once it is up, noting what it showed.
struct AboutWatcher {
    QString title;
    QStringList texts;
    bool centred = false;
    void Arm(QWidget *panel) {
        QTimer::singleShot(50, [this, panel] {
            auto *about = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!about)
                return;
            title = about->windowTitle();
            for (QLabel *label : about->findChildren<QLabel *>())
                texts << label->text();
            centred = (about->frameGeometry().center() - panel->frameGeometry().center())
                          .manhattanLength() <= 2;
            QTest::keyClick(about, Qt::Key_Escape);
        });
    }
};

} // namespace

TEST_F(Actions, TheAboutEntryOpensTheAboutBox) {
    AboutWatcher watcher;
    watcher.Arm(dlg.get());
    QMenu *menu = dlg->GetSystemMenu();
    menu->actions().last()->trigger();
    EXPECT_EQ(watcher.title, QStringLiteral("About XQ3970"));
    EXPECT_TRUE(watcher.texts.contains(QStringLiteral("XQ3970 Version 1.0")));
    EXPECT_TRUE(watcher.centred);

    for (int command : {0x11, 0x1F}) {
        AboutWatcher again;
        again.Arm(dlg.get());
        dlg->Dispatch(CEvalDlg::Event::SysCommand, 0, command);
        EXPECT_EQ(again.title, QStringLiteral("About XQ3970")) << command;
    }
    Settle();
    // The sliders it covered repaint without writing.
    EXPECT_TRUE(Writes().empty());
    EXPECT_TRUE(dlg->isVisible());

    // Close, the menu's first entry, ends the panel.
    menu->actions().first()->trigger();
    EXPECT_FALSE(dlg->isVisible());
}
