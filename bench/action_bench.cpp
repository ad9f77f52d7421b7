// SPDX-License-Identifier: MIT
// Action cost on the shown offscreen panel with the simulated board.
//
// Every action is driven by real input delivered to its control (a mouse
// press and release on a check box or push button, an arrow key on a list or
// a slider), as the window system would deliver it, and the event loop then
// runs until the panel is quiet. Three instants are taken per iteration:
//
//   input  just before the first input event is delivered;
//   event  when the panel's event is raised: a button's release (emitted
//          right before its click), a list's index change (right before its
//          selection-change notification), a slider's paint event (which the
//          panel's pre-paint hook answers with the slider action);
//   end    when the library's register write returned (the trace reports a
//          call once the board has answered it), or, for Readback All and
//          SW Reset, when the click's handling returned; a repaint without a
//          change ends when the event loop is idle again.
//
// The figure judged is event -> end: the panel's action from its event to
// the completed write. input -> end adds what Qt does before the panel hears
// of it (a button repaints itself, synchronously, on press and on release;
// a slider's write waits for the repaint that a key press schedules). The
// same input on the bare dialog (the start-up floor, no actions) gives Qt's
// share on its own. Each iteration checks that exactly the expected writes
// and reads happened, so a figure never comes from an action that did not
// reach the board.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QSlider>
#include <QTest>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/panel_harness.h"
#include "link/link.h"
#include "panel/dialog_builder.h"
#include "panel/register_map.h"
#include "res/resource.h"
#include "vtx/sim.h"
#include "vtx/vtx_testing.h"

namespace {

using bench::Clock;

CEvalDlg *g_dlg = nullptr;
std::unique_ptr<bench::CallRecorder> g_recorder;

enum class Until { Write, Return, Idle };

struct Expect {
    int writes;
    int reads;
};

// When the panel's event was raised in the current iteration.
Clock::time_point g_eventAt{};
void MarkEvent() {
    if (g_eventAt == Clock::time_point{})
        g_eventAt = Clock::now();
}

// Paint events reach the application's filters before the slider's own
// filters (the panel's pre-paint hook among them).
class PaintWatch : public QObject {
public:
    QObject *watched = nullptr;

protected:
    bool eventFilter(QObject *object, QEvent *event) override {
        if (object == watched && event->type() == QEvent::Paint)
            MarkEvent();
        return QObject::eventFilter(object, event);
    }
};
PaintWatch *g_paintWatch = nullptr;

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void Fail(benchmark::State &state, const std::string &what) {
    static std::string message;
    message = what;
    state.SkipWithError(message.c_str());
}

template <typename Input>
void Measure(benchmark::State &state, Until until, Expect expect, Input &&input) {
    bench::Settle();
    const auto n = static_cast<std::size_t>(state.max_iterations);
    std::vector<double> fromEvent, fromInput, toIdle;
    fromEvent.reserve(n);
    fromInput.reserve(n);
    toIdle.reserve(n);
    int64_t i = 0;
    for (auto _ : state) {
        g_recorder->Clear();
        g_eventAt = {};
        const Clock::time_point start = Clock::now();
        input(i++);
        const Clock::time_point returned = Clock::now();
        QApplication::processEvents();
        const Clock::time_point idle = Clock::now();
        if (g_recorder->writes != expect.writes || g_recorder->reads != expect.reads) {
            Fail(state, "iteration " + std::to_string(i) + ": " +
                            std::to_string(g_recorder->writes) + " writes and " +
                            std::to_string(g_recorder->reads) + " reads, expected " +
                            std::to_string(expect.writes) + " and " + std::to_string(expect.reads));
            break;
        }
        if (g_eventAt == Clock::time_point{}) {
            Fail(state, "iteration " + std::to_string(i) + ": the panel's event was not seen");
            break;
        }
        const Clock::time_point end = until == Until::Write    ? g_recorder->firstWriteAt
                                      : until == Until::Return ? returned
                                                               : idle;
        state.SetIterationTime(std::chrono::duration<double>(end - g_eventAt).count());
        fromEvent.push_back(Microseconds(end - g_eventAt));
        fromInput.push_back(Microseconds(end - start));
        toIdle.push_back(Microseconds(idle - start));
    }
    state.counters["median_us"] = bench::Median(fromEvent);
    state.counters["p90_us"] = bench::Percentile(fromEvent, 90);
    state.counters["input_median_us"] = bench::Median(fromInput);
    state.counters["idle_median_us"] = bench::Median(toIdle);
}

void VerifyChip(benchmark::State &state, uint8_t reg, uint8_t expected) {
    const uint8_t actual = vtx::sim::chipRegister(reg);
    if (actual != expected)
        Fail(state, "chip register " + std::to_string(reg) + " holds " + std::to_string(actual) +
                        ", expected " + std::to_string(expected));
}

// The panel's event of a button is its click, raised right after release().
QMetaObject::Connection WatchButton(QAbstractButton *button) {
    return QObject::connect(button, &QAbstractButton::released, [] { MarkEvent(); });
}

void BM_BitToggle(benchmark::State &state) {
    QCheckBox *box = bench::Box(*g_dlg, IDC_LED_A_EN);
    const QMetaObject::Connection watch = WatchButton(box);
    Measure(state, Until::Write, {1, 0}, [box](int64_t) { bench::ClickBox(box); });
    QObject::disconnect(watch);
    // An even number of clicks leaves LED_A_EN as it was.
    VerifyChip(state, 0x00, static_cast<uint8_t>(g_shadow[0x00]));
}

void BM_ListChange(benchmark::State &state) {
    QComboBox *ovp = bench::List(*g_dlg, IDC_OVP);
    // Emitted inside the selection change, right before "activated".
    const QMetaObject::Connection watch =
        QObject::connect(ovp, &QComboBox::currentIndexChanged, [] { MarkEvent(); });
    Measure(state, Until::Write, {1, 0},
            [ovp](int64_t i) { bench::PressKey(ovp, i % 2 ? Qt::Key_Up : Qt::Key_Down); });
    QObject::disconnect(watch);
    VerifyChip(state, 0x02, static_cast<uint8_t>(g_shadow[0x02]));
}

void BM_SliderChange(benchmark::State &state) {
    QSlider *slider = bench::Slider(*g_dlg, IDC_BRIGHT_B);
    g_paintWatch->watched = slider;
    Measure(state, Until::Write, {1, 0},
            [slider](int64_t i) { bench::PressKey(slider, i % 2 ? Qt::Key_Left : Qt::Key_Right); });
    g_paintWatch->watched = nullptr;
    VerifyChip(state, 0x04, static_cast<uint8_t>(slider->value()));
}

void BM_SliderRepaintNoChange(benchmark::State &state) {
    QSlider *slider = bench::Slider(*g_dlg, IDC_BRIGHT_B);
    g_paintWatch->watched = slider;
    Measure(state, Until::Idle, {0, 0}, [slider](int64_t) { slider->update(); });
    g_paintWatch->watched = nullptr;
}

void BM_SliderActionNoChange(benchmark::State &state) {
    Measure(state, Until::Return, {0, 0}, [](int64_t) {
        MarkEvent();
        g_dlg->Dispatch(CEvalDlg::Event::CustomDraw, IDC_BRIGHT_B);
    });
}

void BM_ReadbackAll(benchmark::State &state) {
    QAbstractButton *button = bench::Button(*g_dlg, IDC_READBACK_ALL);
    const QMetaObject::Connection watch = WatchButton(button);
    Measure(state, Until::Return, {0, 13}, [button](int64_t) { bench::ClickButton(button); });
    QObject::disconnect(watch);
}

void BM_SwReset(benchmark::State &state) {
    QAbstractButton *button = bench::Button(*g_dlg, IDC_SW_RESET);
    const QMetaObject::Connection watch = WatchButton(button);
    // Both brightness sliders stand at 0, so SW Reset moves neither and no
    // slider write follows it.
    Measure(state, Until::Return, {1, 13}, [button](int64_t i) {
        // The chip drifted from its reset value: the reset must restore it.
        if (i % 2)
            vtx::sim::setChipRegister(0x07, 0x3F);
        bench::ClickButton(button);
    });
    QObject::disconnect(watch);
    VerifyChip(state, 0x07, 0x00);
}

// Qt's share: the same input on the bare dialog, which has no actions. Timed
// from the input to the release handled, or to idle for the slider key.
QDialog *g_floor = nullptr;

template <typename Input> void MeasureFloor(benchmark::State &state, Input &&input) {
    bench::Settle();
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    int64_t i = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        input(i++);
        const Clock::time_point end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        samples.push_back(Microseconds(end - start));
    }
    state.counters["median_us"] = bench::Median(samples);
    state.counters["p90_us"] = bench::Percentile(samples, 90);
}

QWidget *FloorControl(int id) {
    for (QWidget *w : g_floor->findChildren<QWidget *>()) {
        if (w->property(kControlIdProperty).toInt() == id)
            return w;
    }
    return nullptr;
}

void BM_FloorClick(benchmark::State &state) {
    auto *box = qobject_cast<QCheckBox *>(FloorControl(IDC_LED_A_EN));
    MeasureFloor(state, [box](int64_t) {
        bench::ClickBox(box);
        QApplication::processEvents();
    });
}

void BM_FloorSliderKey(benchmark::State &state) {
    auto *slider = qobject_cast<QSlider *>(FloorControl(IDC_BRIGHT_B));
    MeasureFloor(state, [slider](int64_t i) {
        bench::PressKey(slider, i % 2 ? Qt::Key_Left : Qt::Key_Right);
        QApplication::processEvents();
    });
}

// What one register write costs below the panel, with and without a trace
// sink: the share of the figures above that the measuring itself adds.
void BM_LinkWrite(benchmark::State &state, bool traced) {
    if (!traced)
        g_recorder.reset(); // takes its trace sink with it
    uint8_t value = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(LinkWriteRegister(DeviceAddress(), 0x07, value++ & 0x3F));
    if (!traced)
        g_recorder = std::make_unique<bench::CallRecorder>(false);
}

// What holding the board costs. On the process's own board a hold is two
// front-end calls and nothing more. On a board shared between programs
// (sim:NAME) every single call takes the file's lock for itself; inside a
// hold it does not, so the difference between the two write figures is the
// lock's cost per call (on i2c-dev the same flock pair on /dev/i2c-N).
void BM_LockPair(benchmark::State &state) {
    g_recorder.reset(); // untraced, like the write it is compared with
    for (auto _ : state) {
        benchmark::DoNotOptimize(vtxLock(g_hLink, 0));
        benchmark::DoNotOptimize(vtxUnlock(g_hLink));
    }
}

int32_t g_sharedHandle = -1;

// The shared board, opened once; the panel's own board is left behind (these
// run last, after every figure that needs the panel).
int32_t SharedBoard() {
    if (g_sharedHandle >= 0)
        return g_sharedHandle;
    g_recorder.reset();
    setenv("VTX_ADAPTER", "sim:xq4620-bench-lock", 1);
    vtx::test::reset();
    char serial[VTX_SERIAL_SIZE] = {};
    g_sharedHandle = 0;
    if (vtxFindControllers() > 0 && vtxGetSerialNumber(0, serial) == 0) {
        g_sharedHandle = vtxOpen(serial);
        vtxPower_WriteControl(g_sharedHandle, 1, 0);
    }
    return g_sharedHandle;
}

void BM_SharedWrite(benchmark::State &state, bool held) {
    const int32_t h = SharedBoard();
    if (held && vtxLock(h, 0) != 0)
        state.SkipWithError("the shared board could not be held");
    uint8_t value = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(vtxI2C_RegisterWrite(h, 0x36, 0x07, value++ & 0x3F));
    if (held)
        vtxUnlock(h);
}

constexpr int64_t kActionIterations = 2000;

BENCHMARK(BM_BitToggle)->UseManualTime()->Iterations(kActionIterations);
BENCHMARK(BM_ListChange)->UseManualTime()->Iterations(kActionIterations);
BENCHMARK(BM_SliderChange)->UseManualTime()->Iterations(kActionIterations);
BENCHMARK(BM_SliderRepaintNoChange)->UseManualTime()->Iterations(kActionIterations);
BENCHMARK(BM_SliderActionNoChange)->UseManualTime()->Iterations(kActionIterations);
BENCHMARK(BM_ReadbackAll)->UseManualTime()->Iterations(kActionIterations / 2);
BENCHMARK(BM_SwReset)->UseManualTime()->Iterations(kActionIterations / 2);
BENCHMARK(BM_FloorClick)->UseManualTime()->Iterations(kActionIterations);
BENCHMARK(BM_FloorSliderKey)->UseManualTime()->Iterations(kActionIterations);
BENCHMARK_CAPTURE(BM_LinkWrite, untraced, false)->Iterations(100000);
BENCHMARK_CAPTURE(BM_LinkWrite, traced, true)->Iterations(100000);
BENCHMARK(BM_LockPair)->Iterations(100000);
BENCHMARK_CAPTURE(BM_SharedWrite, unheld, false)->Iterations(20000);
BENCHMARK_CAPTURE(BM_SharedWrite, held, true)->Iterations(20000);

// Figures for the run script's table, by benchmark name. A target of 0 is
// "no target": Readback All, and the figures that only explain the others.
struct Figure {
    const char *benchmark;
    const char *what;
    double targetUs;
};
const Figure kFigures[] = {
    {"BM_BitToggle", "bit toggle: LED_A_EN clicked", 50},
    {"BM_ListChange", "list change: OVP by arrow key", 50},
    {"BM_SliderChange", "slider moved by arrow key (paint event -> write)", 50},
    {"BM_SliderActionNoChange", "slider action, no change (Dispatch)", 50},
    {"BM_SliderRepaintNoChange", "slider repaint, no change (paint event -> idle)", 0},
    {"BM_ReadbackAll", "Readback All clicked (event -> end)", 0},
    {"BM_SwReset", "SW Reset clicked (event -> end)", 50},
    {"BM_FloorClick", "bare dialog, same click, no action (input -> idle)", 0},
    {"BM_FloorSliderKey", "bare dialog, same slider key (input -> idle)", 0},
    {"BM_LinkWrite/untraced", "one LinkWriteRegister, untraced", 0},
    {"BM_LinkWrite/traced", "one LinkWriteRegister, traced", 0},
    {"BM_LockPair", "vtxLock + vtxUnlock, the process's own board", 0},
    {"BM_SharedWrite/unheld", "one register write, shared board, lock taken per call", 0},
    {"BM_SharedWrite/held", "one register write, shared board, inside vtxLock", 0},
};

// The console report as usual, plus what the table needs of each run.
class RowReporter : public benchmark::ConsoleReporter {
public:
    // No colour: the run script keeps this output in a log.
    RowReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run &run : reports)
            m_runs.push_back(run);
    }

    void PrintRows() const {
        for (const Figure &figure : kFigures) {
            const Run *run = Find(figure.benchmark);
            if (!run) {
                continue; // filtered out
            }
            if (run->error_occurred) {
                std::printf("%s\n", bench::Row("actions", figure.what, run->error_message, "-",
                                               bench::Verdict::Error)
                                        .c_str());
                continue;
            }
            std::string measured;
            double median = 0;
            const auto value = [run](const char *name) {
                const auto c = run->counters.find(name);
                return c == run->counters.end() ? -1.0 : c->second.value;
            };
            if (value("median_us") >= 0) {
                median = value("median_us");
                measured = bench::Fixed(median, 1) + " us (p90 " + bench::Fixed(value("p90_us"), 1);
                if (value("input_median_us") >= 0)
                    measured += ", input " + bench::Fixed(value("input_median_us"), 1) + ", idle " +
                                bench::Fixed(value("idle_median_us"), 1);
                measured += ")";
            } else {
                // Automatic timing: the mean per iteration, in nanoseconds.
                measured = bench::Fixed(run->GetAdjustedRealTime(), 0) + " ns (mean)";
            }
            const bool hasTarget = figure.targetUs > 0;
            const bench::Verdict verdict = !hasTarget                 ? bench::Verdict::Info
                                           : median < figure.targetUs ? bench::Verdict::Met
                                                                      : bench::Verdict::Missed;
            std::printf(
                "%s\n",
                bench::Row("actions", figure.what, measured,
                           hasTarget ? "< " + bench::Fixed(figure.targetUs, 0) + " us median" : "-",
                           verdict)
                    .c_str());
        }
    }

private:
    const Run *Find(const std::string &name) const {
        for (const Run &run : m_runs) {
            if (run.run_name.str().rfind(name, 0) == 0)
                return &run;
        }
        return nullptr;
    }
    std::vector<Run> m_runs;
};

} // namespace

int main(int argc, char **argv) {
    bench::PrepareEnvironment();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;

    bench::ResetProcessState();
    std::unique_ptr<CEvalDlg> dlg = bench::StartPanel();
    if (!dlg) {
        std::printf("%s\n", bench::Row("actions", "panel shown offscreen", "never exposed", "-",
                                       bench::Verdict::Error)
                                .c_str());
        return 1;
    }
    g_dlg = dlg.get();
    g_recorder = std::make_unique<bench::CallRecorder>(false);
    PaintWatch paintWatch;
    g_paintWatch = &paintWatch;
    app.installEventFilter(&paintWatch);

    // The floor of the start-up figures, beside the panel: Qt's own cost of
    // the same input on the same widgets.
    QDialog floor;
    BuildDialog(&floor, res::kMainTemplate);
    floor.move(dlg->frameGeometry().topRight());
    floor.show();
    if (!QTest::qWaitForWindowExposed(&floor))
        return 1;
    g_floor = &floor;

    RowReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRows();

    app.removeEventFilter(&paintWatch);
    g_recorder.reset();
    floor.hide();
    dlg->hide();
    return 0;
}
