// SPDX-License-Identifier: MIT
// Bus traffic per scenario on the shown offscreen panel with the simulated
// board: the library calls each scenario makes, counted from the trace,
// beside the fewest the panel's design allows. More is an excess (a defect);
// fewer means a change never reached the chip. Start-up is counted by
// bench_startup, from the trace of a whole process.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/panel_harness.h"
#include "res/resource.h"
#include "vtx/vtx_testing.h"

namespace {

using bench::CallCounts;

constexpr int kBrightARegister = 0x03;

void Print(const std::string &figure, int measured, int minimum) {
    std::printf("%s\n", bench::Row("bus", figure, std::to_string(measured), std::to_string(minimum),
                                   bench::CountVerdict(measured, minimum))
                            .c_str());
}

// One user change after another, each let settle as a user's would.
class Scenarios {
public:
    Scenarios(CEvalDlg &dlg, bench::CallRecorder &recorder) : m_dlg(dlg), m_rec(recorder) {}

    CallCounts Since() const { return bench::CountCalls(m_rec.lines); }

    void UserChanges() {
        static const int kBoxes[] = {IDC_SLEEP,      IDC_LINEAR_A,   IDC_LINEAR_B,
                                     IDC_LED_A_EN,   IDC_LED_B_EN,   IDC_LED2_ON_A,
                                     IDC_FEEDBACK_B, IDC_FEEDBACK_A, IDC_PWM_ACTIVE_LOW,
                                     IDC_PWM_B,      IDC_PWM_A,      IDC_SLOW_START};
        m_rec.Clear();
        for (int id : kBoxes) {
            bench::ClickBox(bench::Box(m_dlg, id));
            bench::Settle();
        }
        CallCounts c = Since();
        Print("12 check boxes, one click each: writes", c.writes, 12);
        Print("12 check boxes, one click each: other calls", c.total() - c.writes, 0);

        static const int kLists[] = {IDC_FMODE,   IDC_OVP,       IDC_OCP,       IDC_RAMP_OFF,
                                     IDC_RAMP_ON, IDC_RAMP_STOP, IDC_RAMP_START};
        m_rec.Clear();
        for (int id : kLists) {
            QComboBox *list = bench::List(m_dlg, id);
            const bool last = list->currentIndex() + 1 >= list->count();
            bench::PressKey(list, last ? Qt::Key_Up : Qt::Key_Down);
            bench::Settle();
        }
        c = Since();
        Print("7 lists, one choice each (arrow key): writes", c.writes, 7);
        Print("7 lists, one choice each (arrow key): other calls", c.total() - c.writes, 0);

        m_rec.Clear();
        for (int id : {IDC_BRIGHT_A, IDC_BRIGHT_B, IDC_CURRENT_A, IDC_CURRENT_B}) {
            QSlider *slider = bench::Slider(m_dlg, id);
            // Brightness stands at 0, Max Current at 31: one step inwards.
            bench::PressKey(slider, slider->value() == 0 ? Qt::Key_Right : Qt::Key_Left);
            bench::Settle();
        }
        c = Since();
        Print("4 sliders, one step each (arrow key): writes", c.writes, 4);
        Print("4 sliders, one step each (arrow key): other calls", c.total() - c.writes, 0);

        m_rec.Clear();
        bench::ClickButton(bench::Button(m_dlg, IDC_SLEEP_BUTTON));
        bench::Settle();
        c = Since();
        Print("SLEEP button: calls", c.total(), 1);

        // Typing the address and data costs nothing; Write writes once.
        auto *addr = qobject_cast<QLineEdit *>(m_dlg.GetDlgItem(IDC_REGADDR));
        auto *data = qobject_cast<QLineEdit *>(m_dlg.GetDlgItem(IDC_DATA));
        m_rec.Clear();
        QTest::keyClicks(addr, QStringLiteral("7"));
        QTest::keyClicks(data, QStringLiteral("2A"));
        bench::Settle();
        bench::ClickButton(bench::Button(m_dlg, IDC_WRITE));
        bench::Settle();
        c = Since();
        Print("manual Write (typing included): calls", c.total(), 1);
    }

    void RepaintsWithoutChange() {
        m_rec.Clear();
        for (int i = 0; i < 20; ++i) {
            m_dlg.update();
            QApplication::processEvents();
        }
        Print("20 whole-window repaints: calls", Since().total(), 0);

        m_rec.Clear();
        for (int i = 0; i < 20; ++i) {
            for (int id : {IDC_BRIGHT_A, IDC_BRIGHT_B, IDC_CURRENT_A, IDC_CURRENT_B})
                bench::Slider(m_dlg, id)->repaint();
        }
        Print("20 repaints of each slider: calls", Since().total(), 0);

        // Pointer and focus moves repaint a slider without moving it.
        m_rec.Clear();
        for (int id : {IDC_BRIGHT_A, IDC_BRIGHT_B, IDC_CURRENT_A, IDC_CURRENT_B}) {
            QSlider *slider = bench::Slider(m_dlg, id);
            for (int x = 0; x < slider->width(); x += 8) {
                QTest::mouseMove(slider, QPoint(x, slider->height() / 2));
                QApplication::processEvents();
            }
            slider->setFocus();
            QApplication::processEvents();
        }
        for (int i = 0; i < 60; ++i) {
            QWidget *focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : &m_dlg, Qt::Key_Tab);
            QApplication::processEvents();
        }
        bench::Settle();
        Print("pointer over the sliders, 60 Tab focus moves: calls", Since().total(), 0);

        m_rec.Clear();
        for (int i = 0; i < 3; ++i) {
            m_dlg.hide();
            bench::Settle();
            m_dlg.show();
            bench::Settle();
        }
        Print("window hidden and shown again 3 times: calls", Since().total(), 0);
    }

    // A slider swept one step at a time by its arrow keys, each step let
    // repaint: each position it passes is written once, in order, to the
    // slider's register, and nothing else.
    void Sweep(int id, int key, int from, int to, const std::string &figure) {
        QSlider *slider = bench::Slider(m_dlg, id);
        const int step = to > from ? 1 : -1;
        const int steps = (to - from) * step;
        m_rec.Clear();
        for (int i = 0; i < steps; ++i) {
            bench::PressKey(slider, key);
            QApplication::processEvents();
        }
        bench::Settle();
        std::map<int, int> written; // position -> times
        int stray = 0;              // writes to any other register
        for (const std::string &line : m_rec.lines) {
            int reg = 0;
            int value = 0;
            if (!bench::ParseWrite(line, &reg, &value))
                continue;
            if (reg == kBrightARegister)
                ++written[value];
            else
                ++stray;
        }
        int notOnce = stray;
        for (int position = from + step; position != to + step; position += step)
            notOnce += written[position] != 1;
        for (const auto &[position, times] : written) {
            const bool passed =
                step > 0 ? position > from && position <= to : position < from && position >= to;
            notOnce += passed ? 0 : times;
        }
        const CallCounts c = Since();
        Print(figure + ": writes", c.writes, steps);
        Print(figure + ": positions not written once", notOnce, 0);
        Print(figure + ": other calls", c.total() - c.writes, 0);
    }

    void Sweeps() {
        QSlider *slider = bench::Slider(m_dlg, IDC_BRIGHT_A);
        // From 0, as the panel starts (the user-change scenario moved it).
        bench::PressKey(slider, Qt::Key_Home);
        bench::Settle();
        Sweep(IDC_BRIGHT_A, Qt::Key_Right, 0, 255, "Bank A brightness 0->255, Right x255");
        Sweep(IDC_BRIGHT_A, Qt::Key_Left, 255, 0, "Bank A brightness 255->0, Left x255");
    }

    void ReadbackAndReset() {
        m_rec.Clear();
        bench::ClickButton(bench::Button(m_dlg, IDC_READBACK_ALL));
        bench::Settle();
        CallCounts c = Since();
        Print("Readback All: reads", c.reads, 13);
        Print("Readback All: other calls", c.total() - c.reads, 0);

        // Both brightness sliders at 0: SW Reset moves neither.
        bench::PressKey(bench::Slider(m_dlg, IDC_BRIGHT_B), Qt::Key_Home);
        bench::Settle();
        m_rec.Clear();
        bench::ClickButton(bench::Button(m_dlg, IDC_SW_RESET));
        bench::Settle();
        c = Since();
        Print("SW Reset, brightness at 0: writes", c.writes, 1);
        Print("SW Reset, brightness at 0: reads", c.reads, 13);

        // Bank A at 255, Max Current B at 11: the reset moves both back to
        // their start positions, which are the chip's reset values and so
        // count as sent already: their repaints write nothing.
        bench::PressKey(bench::Slider(m_dlg, IDC_BRIGHT_A), Qt::Key_End);
        bench::PressKey(bench::Slider(m_dlg, IDC_CURRENT_B), Qt::Key_PageDown);
        bench::PressKey(bench::Slider(m_dlg, IDC_CURRENT_B), Qt::Key_PageDown);
        bench::Settle();
        m_rec.Clear();
        bench::ClickButton(bench::Button(m_dlg, IDC_SW_RESET));
        bench::Settle();
        c = Since();
        Print("SW Reset, sliders moved: writes", c.writes, 1);
        Print("SW Reset, sliders moved: reads", c.reads, 13);
    }

    // A slider step the chip refuses counts as sent: once the chip answers
    // again, repaints and the pointer over the slider write nothing; the
    // user's next step writes.
    void RefusedSliderWrite() {
        QSlider *slider = bench::Slider(m_dlg, IDC_BRIGHT_B);
        slider->setFocus();
        bench::Settle();
        m_rec.Clear();
        vtx::test::forceResult(vtx::test::Call::I2C_RegisterWrite, -EIO);
        bench::PressKey(slider, slider->value() == 0 ? Qt::Key_Right : Qt::Key_Left);
        bench::Settle();
        vtx::test::clearForcedResult(vtx::test::Call::I2C_RegisterWrite);
        CallCounts c = Since();
        Print("slider step the chip refuses: writes", c.writes, 1);
        Print("slider step the chip refuses: other calls", c.total() - c.writes, 0);

        m_rec.Clear();
        for (int i = 0; i < 20; ++i)
            slider->repaint();
        for (int x = 0; x < slider->width(); x += 8) {
            QTest::mouseMove(slider, QPoint(x, slider->height() / 2));
            QApplication::processEvents();
        }
        bench::Settle();
        Print("then 20 repaints and the pointer over it: calls", Since().total(), 0);

        m_rec.Clear();
        bench::PressKey(slider, Qt::Key_Home);
        bench::Settle();
        c = Since();
        Print("then the next step: writes", c.writes, 1);
        Print("then the next step: other calls", c.total() - c.writes, 0);
    }

private:
    CEvalDlg &m_dlg;
    bench::CallRecorder &m_rec;
};

} // namespace

int main(int argc, char **argv) {
    bench::PrepareEnvironment();
    QApplication app(argc, argv);
    bench::ResetProcessState();
    bench::CallRecorder recorder(true);
    std::unique_ptr<CEvalDlg> dlg = bench::StartPanel();
    if (!dlg) {
        std::printf("%s\n", bench::Row("bus", "panel shown offscreen", "never exposed", "-",
                                       bench::Verdict::Error)
                                .c_str());
        return 1;
    }
    Scenarios scenarios(*dlg, recorder);
    scenarios.UserChanges();
    scenarios.RepaintsWithoutChange();
    scenarios.Sweeps();
    scenarios.ReadbackAndReset();
    scenarios.RefusedSliderWrite();
    dlg->hide();
    return 0;
}
