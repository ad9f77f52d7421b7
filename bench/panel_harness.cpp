// SPDX-License-Identifier: MIT
#include "bench/panel_harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <cstdlib>
#include <string>

#include "link/link.h"
#include "panel/register_map.h"
#include "vtx/vtx_testing.h"

namespace bench {

void PrepareEnvironment() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The figures are the simulated board's; never reach real hardware.
    setenv("VTX_ADAPTER", "sim", 1);
    unsetenv("VTX_TRACE");
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) {
        static char dir[] = "/tmp/xq-bench-rt-XXXXXX";
        if (mkdtemp(dir))
            setenv("XDG_RUNTIME_DIR", dir, 1);
    }
}

CallRecorder::CallRecorder(bool keepLines) : m_keepLines(keepLines) {
    vtx::test::setTraceSink([this](const std::string &line) {
        ++calls;
        if (line.rfind("vtxI2C_RegisterWrite(", 0) == 0) {
            if (writes++ == 0)
                firstWriteAt = Clock::now();
        } else if (line.rfind("vtxI2C_RegisterRead(", 0) == 0) {
            ++reads;
        }
        if (m_keepLines)
            lines.push_back(line);
    });
}

CallRecorder::~CallRecorder() {
    vtx::test::setTraceSink({});
}

void CallRecorder::Clear() {
    calls = reads = writes = 0;
    firstWriteAt = {};
    lines.clear();
}

void Settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QTest::qWait(5);
    }
}

std::unique_ptr<CEvalDlg> StartPanel() {
    auto dlg = std::make_unique<CEvalDlg>();
    dlg->Create();
    dlg->show();
    if (!QTest::qWaitForWindowExposed(dlg.get()))
        return nullptr;
    dlg->activateWindow();
    Settle();
    return dlg;
}

void ClickBox(QCheckBox *box) {
    // On the box itself: the rest of a wide check box is empty space.
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator =
        box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicator.center());
}

void ClickButton(QAbstractButton *button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void PressKey(QWidget *control, int key) {
    QTest::keyClick(control, static_cast<Qt::Key>(key));
}

QCheckBox *Box(CEvalDlg &dlg, int id) {
    return qobject_cast<QCheckBox *>(dlg.GetDlgItem(id));
}
QComboBox *List(CEvalDlg &dlg, int id) {
    return qobject_cast<QComboBox *>(dlg.GetDlgItem(id));
}
QSlider *Slider(CEvalDlg &dlg, int id) {
    return qobject_cast<QSlider *>(dlg.GetDlgItem(id));
}
QAbstractButton *Button(CEvalDlg &dlg, int id) {
    return qobject_cast<QAbstractButton *>(dlg.GetDlgItem(id));
}

} // namespace bench
