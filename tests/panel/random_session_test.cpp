// A long seeded session of random input: the chip always holds what the
// panel last sent it, and the panel survives.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <random>

#include "panel_fixture.h"
#include "res/resource.h"
#include "vtx/sim.h"

namespace {

const int kBoxes[] = {IDC_SLEEP,          IDC_LINEAR_A,  IDC_LINEAR_B,   IDC_LED_A_EN,
                      IDC_LED_B_EN,       IDC_LED2_ON_A, IDC_FEEDBACK_B, IDC_FEEDBACK_A,
                      IDC_PWM_ACTIVE_LOW, IDC_PWM_B,     IDC_PWM_A,      IDC_SLOW_START,
                      IDC_FLAG_OCP};
const int kLists[] = {IDC_FMODE,     IDC_OVP,     IDC_OCP,       IDC_RAMP_OFF,
                      IDC_RAMP_STOP, IDC_RAMP_ON, IDC_RAMP_START};
const int kSliders[] = {IDC_BRIGHT_A, IDC_BRIGHT_B, IDC_CURRENT_A, IDC_CURRENT_B};
const Qt::Key kSliderKeys[] = {Qt::Key_Left, Qt::Key_Right,  Qt::Key_Home,
                               Qt::Key_End,  Qt::Key_PageUp, Qt::Key_PageDown};
const int kResetValues[] = {0xC0, 0x18, 0x38, 0x00, 0x00, 0x1F, 0x1F, 0x00, 0x00};

void Pump() {
    QApplication::processEvents();
    QApplication::processEvents();
}

} // namespace

TEST_F(PanelTest, ARandomSessionKeepsTheChipInStepWithWhatThePanelSent) {
    StartPanel();
    std::mt19937 random(4620);
    auto pick = [&random](auto &array) {
        return array[std::uniform_int_distribution<std::size_t>(0, std::size(array) - 1)(random)];
    };

    // What the chip must hold, from the writes the panel made.
    int expected[9];
    std::copy(std::begin(kResetValues), std::end(kResetValues), expected);
    std::size_t seen = 0;
    auto followWrites = [&] {
        for (; seen < calls.size(); ++seen) {
            unsigned reg = 0, value = 0;
            if (std::sscanf(calls[seen].c_str(), "vtxI2C_RegisterWrite(1, 0x36, 0x%X, 0x%X) = 0",
                            &reg, &value) != 2)
                continue;
            if (reg <= 0x08)
                expected[reg] = static_cast<int>(value);
            else if (reg == 0x0F && value == 1)
                std::copy(std::begin(kResetValues), std::end(kResetValues), expected);
        }
    };

    for (int step = 0; step < 2500; ++step) {
        const int kind = std::uniform_int_distribution<int>(0, 99)(random);
        if (kind < 35) {
            QCheckBox *box = Box(pick(kBoxes));
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Space);
        } else if (kind < 60) {
            QComboBox *list = List(pick(kLists));
            list->setFocus();
            QTest::keyClick(list, std::uniform_int_distribution<int>(0, 1)(random) ? Qt::Key_Down
                                                                                   : Qt::Key_Up);
        } else if (kind < 90) {
            QSlider *slider = Slider(pick(kSliders));
            slider->setFocus();
            QTest::keyClick(slider, pick(kSliderKeys));
        } else if (kind < 93) {
            ClickButton(IDC_SLEEP_BUTTON);
        } else if (kind < 96) {
            ClickButton(IDC_READBACK_ALL);
        } else if (kind < 98) {
            TypeInto(IDC_REGADDR,
                     QString::number(std::uniform_int_distribution<int>(0, 8)(random), 16));
            TypeInto(IDC_DATA,
                     QString::number(std::uniform_int_distribution<int>(0, 255)(random), 16));
            ClickButton(IDC_WRITE);
        } else {
            ClickButton(IDC_SW_RESET);
        }
        Pump();
        followWrites();
        for (uint8_t reg = 0; reg <= 0x08; ++reg)
            ASSERT_EQ(vtx::sim::chipRegister(reg), expected[reg])
                << "register " << int(reg) << " after step " << step;
    }
    EXPECT_TRUE(dlg->isVisible());
    // The session exercised the lists through the keyboard, not just boxes.
    EXPECT_GT(std::count_if(
                  calls.begin(), calls.end(),
                  [](const std::string &c) { return c.find("0x36, 0x07,") != std::string::npos; }),
              10);
}
