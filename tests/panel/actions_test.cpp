// SPDX-License-Identifier: MIT
// What each control writes, driven by real input on the shown panel.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <cerrno>
#include <functional>

#include "panel/choose_adapter_dlg.h"
#include "panel/register_map.h"
#include "panel_fixture.h"
#include "res/resource.h"
#include "tests/support/sim_session.h"
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

// Typed text counts when the focus leaves the list (Tab here): a choice it
// names is chosen and written; anything else gives way to the choice.
TEST_F(Actions, TypedListTextTakesEffectWhenTheListLosesTheFocus) {
    struct Row {
        int id;
        const char *typed;
        const char *shown; // the list's text afterwards
        const char *write; // nullptr: nothing reaches the bus
        const char *status;
    };
    // From OVP 24 V, OCP 1.2 A, Fmode 500 kHz and the ramps at their first
    // choice, one row after the other.
    const Row rows[] = {
        {IDC_OVP, "40 V", "40 V", "0x02=0x78", "Ready"},      // exactly a choice
        {IDC_FMODE, " 1mhz ", "1 MHz", "0x02=0x79", "Ready"}, // case and spaces aside
        {IDC_RAMP_OFF, "16S", "16 s", "0x07=0x07", "Ready"},  //
        {IDC_OCP, "abc", "1.2 A", nullptr, "Invalid choice"}, // no choice
        {IDC_FMODE, "1", "1 MHz", nullptr, "Invalid choice"}, // a prefix is none
        {IDC_RAMP_ON, "", "4 ms", nullptr, "Invalid choice"}, //
        {IDC_OVP, "40v", "40 V", "0x02=0x79", "Ready"},       // as the drop-down would
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.id << " \"" << row.typed << "\"");
        ClearCalls();
        TypeInto(List(row.id)->lineEdit(), QString::fromLatin1(row.typed));
        EXPECT_TRUE(calls.empty()) << "typing alone sends nothing";
        QTest::keyClick(List(row.id), Qt::Key_Tab);
        Settle();
        EXPECT_FALSE(List(row.id)->hasFocus());
        EXPECT_EQ(Writes(), row.write ? Writes_{row.write} : Writes_{});
        EXPECT_EQ(List(row.id)->lineEdit()->text(), QString::fromUtf8(row.shown));
        EXPECT_EQ(List(row.id)->currentText(), QString::fromUtf8(row.shown));
        EXPECT_EQ(Text(IDC_STATUS), QString::fromLatin1(row.status));
    }
}

// The focus moving to another list takes the first list's text before the
// second list acts: nothing typed rides along with, or blocks, its write.
TEST_F(Actions, TypedListTextIsTakenBeforeAnotherListActs) {
    TypeInto(List(IDC_OVP)->lineEdit(), QStringLiteral("40 V"));
    QTest::mouseClick(List(IDC_OCP)->lineEdit(), Qt::LeftButton);
    QTest::keyClick(List(IDC_OCP), Qt::Key_Up);
    Settle();
    EXPECT_EQ(Writes(), (Writes_{"0x02=0x78", "0x02=0x70"}));

    ClearCalls();
    TypeInto(List(IDC_OCP)->lineEdit(), QStringLiteral("abc"));
    ChooseItem(IDC_OVP, 0); // "16 V", with the mouse
    EXPECT_EQ(Writes(), (Writes_{"0x02=0x10"}));
    EXPECT_EQ(List(IDC_OCP)->currentText(), QStringLiteral("1.0 A"));
    EXPECT_EQ(vtx::sim::chipRegister(0x02), 0x10);
}

TEST_F(Actions, TheWheelMovesOnlyAListOrSliderThatHasTheFocus) {
    auto wheel = [](QWidget *target, int steps) {
        const QPointF at = QPointF(target->rect().center());
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120 * steps),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
        Settle();
    };
    dlg->GetDlgItem(IDCANCEL)->setFocus();
    wheel(List(IDC_OCP), 1);
    wheel(List(IDC_OCP)->lineEdit(), 1);
    wheel(Slider(IDC_CURRENT_B), 3);
    wheel(Slider(IDC_BRIGHT_A), -3);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(List(IDC_OCP)->currentIndex(), 3);
    EXPECT_EQ(Slider(IDC_CURRENT_B)->value(), 31);

    // With the focus, the wheel is one more way to change the control.
    Slider(IDC_BRIGHT_B)->setFocus();
    wheel(Slider(IDC_BRIGHT_B), -1);
    List(IDC_RAMP_ON)->setFocus();
    wheel(List(IDC_RAMP_ON), 1);
    const Writes_ writes = Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].substr(0, 5), "0x04=");
    EXPECT_EQ(writes[1], "0x07=0x08");
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
    TypeInto(IDC_DATA, QStringLiteral("ff"));
    ClickButton(IDC_WRITE);
    EXPECT_EQ(Writes(), (Writes_{"0x03=0xFF"}));
    EXPECT_EQ(vtx::sim::chipRegister(0x03), 0xFF);
    EXPECT_EQ(g_shadow[0x03], 0); // shadow and text of 0x03 left alone
    EXPECT_EQ(Text(IDC_REG03), QStringLiteral("00"));

    // Read needs no Data.
    TypeInto(IDC_DATA, QString());
    ClickButton(IDC_READ);
    EXPECT_EQ(Text(IDC_DATA), QStringLiteral("FF"));

    // A register the chip does not acknowledge is not shown as a value, and
    // the "--" left in Data is not a byte a Write could send.
    TypeInto(IDC_REGADDR, QStringLiteral("20"));
    TypeInto(IDC_DATA, QStringLiteral("1f"));
    ClickButton(IDC_READ);
    EXPECT_EQ(Text(IDC_DATA), QStringLiteral("--"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Read Error"));
    TypeInto(IDC_REGADDR, QStringLiteral("3"));
    ClearCalls();
    ClickButton(IDC_WRITE);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Invalid Data"));
    EXPECT_EQ(vtx::sim::chipRegister(0x03), 0xFF);
}

TEST_F(Actions, ManualInputIsAHexByteOrNothingIsSent) {
    struct Row {
        const char *addr;
        const char *data;
        const char *write; // nullptr: nothing reaches the bus
        const char *status;
    };
    const Row rows[] = {
        {" 0x1 ", "0X1a", "0x01=0x1A", "Ready"}, // spaces around, either prefix
        {"4", "00ff", "0x04=0xFF", "Ready"},     // leading zeros
        {"07", "  7F", "0x07=0x7F", "Ready"},
        {"10F", "1", nullptr, "Invalid Reg Addr"}, // not 0x0F, the reset
        {"4", "100", nullptr, "Invalid Data"},     // not 0x00
        {"+2", "1", nullptr, "Invalid Reg Addr"},  // no sign
        {"2", "-1", nullptr, "Invalid Data"},
        {"zz", "7", nullptr, "Invalid Reg Addr"},
        {"1", "7g", nullptr, "Invalid Data"}, // no trailing junk
        {"", "5", nullptr, "Invalid Reg Addr"},
        {"5", "", nullptr, "Invalid Data"},
        {"0x", "5", nullptr, "Invalid Reg Addr"}, // a prefix is no digit
        {"5", " ", nullptr, "Invalid Data"},
        {"5", "1 2", nullptr, "Invalid Data"},
        {"5", "--", nullptr, "Invalid Data"},
        {"x5", "0x", nullptr, "Invalid Reg Addr"}, // the address is judged first
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "\"" << row.addr << "\" / \"" << row.data << "\"");
        ClearCalls();
        TypeInto(IDC_REGADDR, QString::fromLatin1(row.addr));
        TypeInto(IDC_DATA, QString::fromLatin1(row.data));
        ClickButton(IDC_WRITE);
        EXPECT_EQ(Writes(), row.write ? Writes_{row.write} : Writes_{});
        EXPECT_EQ(calls.size(), row.write ? 1u : 0u);
        EXPECT_EQ(Text(IDC_STATUS), QString::fromLatin1(row.status));
        // What was typed stays for the user to correct.
        EXPECT_EQ(Text(IDC_REGADDR), QString::fromLatin1(row.addr));
        EXPECT_EQ(Text(IDC_DATA), QString::fromLatin1(row.data));
    }
    // Read takes a valid Reg Addr whatever Data holds, and refuses any other.
    TypeInto(IDC_REGADDR, QStringLiteral("0a"));
    TypeInto(IDC_DATA, QStringLiteral("zz"));
    ClearCalls();
    ClickButton(IDC_READ);
    EXPECT_EQ(calls, (Writes_{"vtxI2C_RegisterRead(1, 0x36, 0x0A) = 70"}));
    EXPECT_EQ(Text(IDC_DATA), QStringLiteral("46"));
    TypeInto(IDC_REGADDR, QStringLiteral("100"));
    ClearCalls();
    ClickButton(IDC_READ);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Invalid Reg Addr"));
    EXPECT_EQ(Text(IDC_DATA), QStringLiteral("46"));
}

TEST_F(Actions, SleepSetsBitSevenAndShowsIt) {
    ClickBox(IDC_SLEEP);    // 0x00 -> 0x00
    ClickBox(IDC_LED_A_EN); // -> 0x04
    ClearCalls();
    ClickButton(IDC_SLEEP_BUTTON);
    EXPECT_EQ(Writes(), (Writes_{"0x00=0x84"}));
    EXPECT_TRUE(Checked(IDC_SLEEP));
    EXPECT_EQ(Text(IDC_REG00), QStringLiteral("84"));
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
    // The sliders, moved back to their start positions, find the chip's
    // reset values already sent: nothing more reaches the bus.
    EXPECT_EQ(Writes(), (Writes_{"0x0F=0x01"}));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Ready"));
    const int32_t resetValues[] = {0xC0, 0x18, 0x38, 0x00, 0x00, 0x1F, 0x1F, 0x00, 0x00};
    for (uint8_t reg = 0; reg <= 0x08; ++reg) {
        EXPECT_EQ(g_shadow[reg], resetValues[reg]) << "shadow of " << int(reg);
        EXPECT_EQ(vtx::sim::chipRegister(reg), resetValues[reg]) << "chip register " << int(reg);
    }
    EXPECT_EQ(Text(IDC_REG03), QStringLiteral("00"));
    EXPECT_EQ(Text(IDC_REG06), QStringLiteral("1F"));

    // Every box, list and slider as at start-up.
    EXPECT_TRUE(Checked(IDC_SLEEP));
    EXPECT_FALSE(Checked(IDC_LED_A_EN));
    EXPECT_FALSE(Checked(IDC_FLAG_OVP));
    EXPECT_FALSE(Checked(IDC_SLOW_START));
    EXPECT_TRUE(Checked(IDC_FEEDBACK_A));
    EXPECT_TRUE(Checked(IDC_FEEDBACK_B));
    EXPECT_FALSE(Checked(IDC_PWM_B));
    EXPECT_EQ(List(IDC_OVP)->currentIndex(), 1);
    EXPECT_EQ(List(IDC_RAMP_ON)->currentIndex(), 0);
    EXPECT_EQ(List(IDC_RAMP_ON)->currentText(), QStringLiteral("4 ms"));
    EXPECT_EQ(Slider(IDC_CURRENT_B)->value(), 31);
    EXPECT_EQ(Slider(IDC_BRIGHT_A)->value(), 0);
}

TEST_F(Actions, AfterSwResetTheNextChangesComposeFromTheChipsResetValues) {
    ClickBox(IDC_FEEDBACK_A);
    ClickBox(IDC_SLOW_START);
    ClickButton(IDC_SW_RESET);
    ClearCalls();
    ClickBox(IDC_PWM_A);
    // Slow Start is clear in the box and on the chip; an Fmode choice keeps
    // it clear.
    ChooseItem(IDC_FMODE, 1);
    EXPECT_EQ(Writes(), (Writes_{"0x01=0x19", "0x02=0x39"}));
    EXPECT_TRUE(Checked(IDC_FEEDBACK_A));
    EXPECT_FALSE(Checked(IDC_SLOW_START));
}

TEST_F(Actions, AFailedSwResetMovesNothing) {
    ClickBox(IDC_LED_A_EN);
    ChooseItem(IDC_RAMP_ON, 2);
    DragSlider(IDC_BRIGHT_A, 40);
    ClearCalls();
    vtx::test::forceResult(vtx::test::Call::I2C_RegisterWrite, -5);
    ClickButton(IDC_SW_RESET);
    EXPECT_EQ(Writes(), (Writes_{"0x0F=0x01"})); // and no readback
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
    EXPECT_TRUE(Checked(IDC_LED_A_EN));
    EXPECT_EQ(List(IDC_RAMP_ON)->currentIndex(), 2);
    EXPECT_EQ(Slider(IDC_BRIGHT_A)->value(), 40);
    EXPECT_EQ(g_shadow[0x00], 0xC4);
    EXPECT_EQ(Text(IDC_REG00), QStringLiteral("C4"));
}

// Each kind of write the chip refuses: the status line and the register's
// text say so, the chip keeps what it had.
TEST_F(Actions, EveryFailedWriteIsShown) {
    struct Row {
        const char *what;
        std::function<void()> act;
        int textId;  // the register's text, which shows "--"
        uint8_t reg; // whose chip value must not change
    };
    const Row rows[] = {
        {"box", [this] { ClickBox(IDC_LED_B_EN); }, IDC_REG00, 0x00},
        {"Boost list", [this] { ChooseItem(IDC_OCP, 0); }, IDC_REG02, 0x02},
        {"ramp list", [this] { ChooseItem(IDC_RAMP_STOP, 5); }, IDC_REG08, 0x08},
        {"slider",
         [this] {
             Slider(IDC_BRIGHT_B)->setFocus();
             QTest::keyClick(Slider(IDC_BRIGHT_B), Qt::Key_End);
             Settle();
         },
         IDC_REG04, 0x04},
        {"SLEEP", [this] { ClickButton(IDC_SLEEP_BUTTON); }, IDC_REG00, 0x00},
        {"manual Write",
         [this] {
             TypeInto(IDC_REGADDR, QStringLiteral("7"));
             TypeInto(IDC_DATA, QStringLiteral("2d"));
             ClickButton(IDC_WRITE);
         },
         IDC_REG07, 0x07},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const uint8_t before = vtx::sim::chipRegister(row.reg);
        vtx::test::forceResult(vtx::test::Call::I2C_RegisterWrite, -EIO);
        ClearCalls();
        row.act();
        EXPECT_FALSE(Writes().empty());
        EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
        EXPECT_EQ(Text(row.textId), QStringLiteral("--"));
        EXPECT_EQ(vtx::sim::chipRegister(row.reg), before);
        // Repaints of the Bank A brightness slider do not claim "Ready".
        Slider(IDC_BRIGHT_A)->update();
        Settle();
        EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
        vtx::test::clearForcedResult(vtx::test::Call::I2C_RegisterWrite);
        ClickButton(IDC_READBACK_ALL); // the bus works again
        EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Readback Complete"));
    }
}

TEST_F(Actions, AFailedWriteKeepsTheComposedShadowForTheNextSuccess) {
    vtx::test::forceResult(vtx::test::Call::I2C_RegisterWrite, -EIO);
    ClickBox(IDC_LED_A_EN);
    EXPECT_EQ(Text(IDC_REG00), QStringLiteral("--"));
    EXPECT_EQ(vtx::sim::chipRegister(0x00), 0xC0);
    vtx::test::clearForcedResult(vtx::test::Call::I2C_RegisterWrite);
    ClickBox(IDC_LED_B_EN);
    EXPECT_EQ(Writes(), (Writes_{"0x00=0xC4", "0x00=0xC6"}));
    EXPECT_EQ(vtx::sim::chipRegister(0x00), 0xC6);
    EXPECT_EQ(Text(IDC_REG00), QStringLiteral("C6"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Ready"));
}

// A failed slider write counts as sent: repaints (here after the board got
// its supply back, with the pointer moving over the slider) write nothing;
// the user's next move does.
TEST_F(Actions, ASliderWhoseWriteFailedWritesAgainOnlyAtTheNextMove) {
    QSlider *slider = Slider(IDC_CURRENT_A);
    slider->setFocus();
    vtxPower_WriteControl(g_hLink, 0, 0);
    QTest::keyClick(slider, Qt::Key_Left);
    Settle();
    EXPECT_EQ(Writes(), (Writes_{"0x05=0x1E"}));
    EXPECT_EQ(Text(IDC_REG05), QStringLiteral("--"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
    vtxPower_WriteControl(g_hLink, 1, 0);
    ClearCalls();
    for (int x = 0; x < slider->width(); x += 4) {
        QTest::mouseMove(slider, QPoint(x, slider->height() / 2));
        slider->repaint();
    }
    Settle();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Text(IDC_REG05), QStringLiteral("--"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
    EXPECT_EQ(vtx::sim::chipRegister(0x05), 0x1F);

    QTest::keyClick(slider, Qt::Key_Left);
    Settle();
    EXPECT_EQ(Writes(), (Writes_{"0x05=0x1D"}));
    EXPECT_EQ(Text(IDC_REG05), QStringLiteral("1D"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Ready"));
}

// The readback column shows what was read until a slider writes.
TEST_F(Actions, ASliderRepaintLeavesTheTextAReadbackShowed) {
    vtx::sim::setChipRegister(0x03, 0xC8); // by a script
    ClickButton(IDC_READBACK_ALL);
    ClearCalls();
    QSlider *slider = Slider(IDC_BRIGHT_A);
    QTest::mouseMove(slider, slider->rect().center());
    slider->repaint();
    Settle();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Text(IDC_REG03), QStringLiteral("C8"));
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    Settle();
    EXPECT_EQ(Writes(), (Writes_{"0x03=0x01"}));
    EXPECT_EQ(Text(IDC_REG03), QStringLiteral("01"));
}

TEST_F(Actions, AReadbackWithAFailedReadEndsWithReadError) {
    vtx::test::forceResult(vtx::test::Call::I2C_RegisterRead, -EIO);
    ClickButton(IDC_READBACK_ALL);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Read Error"));
    EXPECT_EQ(Tip(), QStringLiteral("the transfer to address 0x36 failed (I/O error): check the "
                                    "wiring, the address and that the board is powered"));
    EXPECT_EQ(Text(IDC_REG0A), QStringLiteral("--"));
    Slider(IDC_BRIGHT_A)->update();
    Settle();
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Read Error"));
    vtx::test::clearForcedResult(vtx::test::Call::I2C_RegisterRead);
    ClickButton(IDC_READBACK_ALL);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Readback Complete"));
    EXPECT_EQ(Tip(), QString()) << "no reason outlives its error";
    EXPECT_EQ(Text(IDC_REG0A), QStringLiteral("46"));
}

TEST_F(Actions, AnUnpoweredBoardAndAPulledAdapterAreShownAsErrors) {
    ClickBox(IDC_LED_A_EN); // taken by the chip
    vtxPower_WriteControl(g_hLink, 0, 0);
    ClickBox(IDC_LINEAR_A);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
    EXPECT_TRUE(Tip().startsWith(QStringLiteral("no chip answers at address 0x36: ")))
        << Tip().toStdString();
    EXPECT_EQ(Text(IDC_REG00), QStringLiteral("--"));
    ClickButton(IDC_READBACK_ALL);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Read Error"));

    vtx::sim::unplug();
    Slider(IDC_BRIGHT_B)->setFocus();
    QTest::keyClick(Slider(IDC_BRIGHT_B), Qt::Key_Right);
    Settle();
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
    EXPECT_EQ(Tip(), QStringLiteral("the adapter was unplugged: plug it back in and choose "
                                    "Reconnect Adapter from the context menu"));
    EXPECT_EQ(Text(IDC_REG04), QStringLiteral("--"));
    EXPECT_EQ(vtx::sim::chipRegister(0x00), 0xC4);
    EXPECT_EQ(vtx::sim::chipRegister(0x04), 0x00);
}

// A chosen bridge that does not open leaves no adapter open: the board
// used so far gets nothing more, and nothing claims otherwise.
TEST_F(Actions, ABridgeChosenThatDoesNotOpenLeavesNoAdapterOpen) {
    SetAdapterLister(TwoBridges);
    OnNextModal([](QDialog *chooser) { QTest::keyClick(chooser->focusWidget(), Qt::Key_Return); });
    dlg->Dispatch(CEvalDlg::Event::SysCommand, 0, IDM_CHOOSE);
    EXPECT_EQ(calls.at(0), "vtxSelectAdapter(\"usb:A1\") = 0");
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("USB Initialization Error"));
    ClickBox(IDC_LED_A_EN);
    EXPECT_EQ(vtx::sim::chipRegister(0x00), 0xC0);
}

// Plugged back in, the adapter comes back only through Reconnect Adapter:
// set up again, the chip (started afresh) read back, and nothing written
// until the user acts; the controls keep what the user set.
TEST_F(Actions, ReconnectAdapterAfterAReplugReadsTheChipBackAndWritesNothing) {
    ClickBox(IDC_LED_A_EN);
    DragSlider(IDC_BRIGHT_A, 40);
    vtx::sim::unplug();
    ClickBox(IDC_LED_B_EN);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
    dlg->Dispatch(CEvalDlg::Event::SysCommand, 0, IDM_RECONNECT); // too early
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("USB Initialization Error"));
    EXPECT_EQ(Tip(), QStringLiteral("the adapter was unplugged: plug it back in and choose "
                                    "Reconnect Adapter from the context menu"));
    vtx::sim::plugIn();
    ClearCalls();
    dlg->Dispatch(CEvalDlg::Event::SysCommand, 0, IDM_RECONNECT);
    std::vector<std::string> expected = sim_session::kSetUpCalls;
    expected.insert(expected.end(), sim_session::kFreshReadback.begin(),
                    sim_session::kFreshReadback.end());
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Readback Complete"));
    EXPECT_EQ(Tip(), QString());
    EXPECT_FALSE(Checked(IDC_LED_A_EN));
    EXPECT_EQ(Slider(IDC_BRIGHT_A)->value(), 40);
    dlg->repaint(); // no control writes by itself
    Settle();
    EXPECT_EQ(calls.size(), expected.size());
}

// Board Supply, checked while the board's supply is on (the simulated
// board's own switch): off cuts it and nothing else; on switches it back and
// shows the chip, started afresh, by a readback. No control writes.
TEST_F(Actions, BoardSupplyIsSwitchedByTheUserAndReadsTheChipBackWhenOn) {
    QMenu *menu = dlg->GetSystemMenu();
    QAction *supply = menu->actions().at(8);
    ClickBox(IDC_LED_A_EN);
    emit menu->aboutToShow();
    EXPECT_TRUE(supply->isEnabled());
    EXPECT_TRUE(supply->isChecked());
    ClearCalls();
    supply->trigger();
    EXPECT_EQ(calls, (std::vector<std::string>{"vtxPower_WriteControl(1, 0, 0) = 0"}));
    EXPECT_FALSE(supply->isChecked());
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Board Supply Off"));
    EXPECT_FALSE(vtx::sim::powered());

    ClearCalls();
    supply->trigger();
    std::vector<std::string> expected = {"vtxPower_WriteControl(1, 1, 0) = 0"};
    expected.insert(expected.end(), sim_session::kFreshReadback.begin(),
                    sim_session::kFreshReadback.end());
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(supply->isChecked());
    EXPECT_FALSE(Checked(IDC_LED_A_EN)); // the chip's reset value
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Readback Complete"));
    dlg->repaint();
    Settle();
    EXPECT_EQ(calls.size(), expected.size());
}

// What a user sees, found the way a user finds it: by the texts on the
// screen, not through the template or the control IDs.
namespace {

struct LabelledBit {
    const char *label;
    uint8_t reg;
    uint8_t bit; // 0: a box that only shows a flag and writes nothing
};
const LabelledBit kLabelledBits[] = {
    {"Sleep", 0x00, 0x80},
    {"Linear A", 0x00, 0x10},
    {"Linear B", 0x00, 0x08},
    {"LED_A_EN", 0x00, 0x04},
    {"LED_B_EN", 0x00, 0x02},
    {"LED2_ON_A", 0x00, 0x01},
    {"Feedback B Enable", 0x01, 0x10},
    {"Feedback A Enable", 0x01, 0x08},
    {"PWM active low", 0x01, 0x04},
    {"PWM B", 0x01, 0x02},
    {"PWM A", 0x01, 0x01},
    {"Slow Start", 0x02, 0x04},
    {"OCP", 0x09, 0},
    {"OVP", 0x09, 0},
    {"TSD", 0x09, 0},
};

} // namespace

TEST_F(Actions, EachBoxFoundByItsLabelDrivesItsOwnBit) {
    for (const LabelledBit &row : kLabelledBits) {
        SCOPED_TRACE(row.label);
        QCheckBox *box = nullptr;
        for (QCheckBox *candidate : dlg->findChildren<QCheckBox *>()) {
            if (candidate->text() == QString::fromLatin1(row.label)) {
                ASSERT_EQ(box, nullptr) << "two boxes say " << row.label;
                box = candidate;
            }
        }
        ASSERT_NE(box, nullptr);
        // Each click toggles the box; the byte written then carries the
        // box's bit as the box now shows it, and sets no other bit.
        for (int click = 0; click < 2; ++click) {
            const uint8_t before = vtx::sim::chipRegister(row.reg);
            ClearCalls();
            ClickBox(box);
            const uint8_t after = vtx::sim::chipRegister(row.reg);
            if (row.bit == 0) {
                EXPECT_TRUE(calls.empty());
                continue;
            }
            ASSERT_EQ(Writes().size(), 1u);
            if (box->isChecked())
                EXPECT_EQ(after, before | row.bit);
            else
                EXPECT_EQ(after & (row.bit | ~before), 0);
        }
    }
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

TEST_F(Actions, DiagnoseAdapterShowsTheDoctorsReportToCopy) {
    QString report, copied;
    QTimer::singleShot(50, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto *text = dialog->findChild<QPlainTextEdit *>();
        report = text->toPlainText();
        EXPECT_TRUE(text->isReadOnly());
        EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByMouse);
        for (QPushButton *button : dialog->findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("&Copy"))
                button->click();
        copied = QGuiApplication::clipboard()->text();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    ClearCalls();
    dlg->GetSystemMenu()->actions().at(5)->trigger(); // Diagnose Adapter...
    EXPECT_EQ(report,
              QStringLiteral("Adapter: VTX_ADAPTER=sim\n"
                             "ok    adapter  the simulated evaluation board, this program's own\n"
                             "ok    chip     an XQ4620 answers at 0x36: part number 0x46 0x20, "
                             "silicon revision 0x01\n"
                             "The panel would work.\n"));
    EXPECT_EQ(copied, report);
    // The adapter the panel opened at start, read, never opened again.
    EXPECT_EQ(calls, (std::vector<std::string>{"vtxI2C_RegisterRead(1, 0x36, 0x0A) = 70",
                                               "vtxI2C_RegisterRead(1, 0x36, 0x0B) = 32",
                                               "vtxI2C_RegisterRead(1, 0x36, 0x12) = 1"}));
}

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

    // Close, the entry before the separator, ends the panel.
    menu->actions().at(menu->actions().size() - 3)->trigger();
    EXPECT_FALSE(dlg->isVisible());
}
