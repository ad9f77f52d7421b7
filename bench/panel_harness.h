// SPDX-License-Identifier: MIT
// The panel shown offscreen on a fresh simulated board inside the benchmark
// process, with every library call seen as it completes, and real input on
// its controls.
#ifndef BENCH_PANEL_HARNESS_H
#define BENCH_PANEL_HARNESS_H

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "panel/ceval_dlg.h"
#include "tests/support/sim_session.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QSlider;

namespace bench {

using Clock = std::chrono::steady_clock;

// Before the QApplication: the offscreen platform (unless a platform was
// chosen), a private runtime directory, the simulated board, no trace file.
void PrepareEnvironment();

// The adapter library, the board, the device link, the shadows and the
// sliders' memory as a fresh process has them.
using sim_session::ResetProcessState;

// Every library call from the moment it is installed until it is destroyed,
// counted (and kept, if asked) as each completes: the library traces a call
// once the backend has answered.
class CallRecorder {
public:
    explicit CallRecorder(bool keepLines);
    ~CallRecorder();
    CallRecorder(const CallRecorder &) = delete;
    CallRecorder &operator=(const CallRecorder &) = delete;

    void Clear();
    int calls = 0;
    int reads = 0;
    int writes = 0;
    Clock::time_point firstWriteAt{}; // since the last Clear
    std::vector<std::string> lines;

private:
    bool m_keepLines;
};

// Lets queued events and repaints run until the panel is quiet.
void Settle();

// Creates the panel the way its modal run does (window created, initialised,
// then shown), waits for it to be exposed and lets it settle.
std::unique_ptr<CEvalDlg> StartPanel();

// Real input, delivered the way the window system delivers it to the
// control; each returns once the control has handled it.
void ClickBox(QCheckBox *box);
void ClickButton(QAbstractButton *button);
void PressKey(QWidget *control, int key);

QCheckBox *Box(CEvalDlg &dlg, int id);
QComboBox *List(CEvalDlg &dlg, int id);
QSlider *Slider(CEvalDlg &dlg, int id);
QAbstractButton *Button(CEvalDlg &dlg, int id);

} // namespace bench

#endif
