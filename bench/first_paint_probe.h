// SPDX-License-Identifier: MIT
// Start-up probe for the bench builds of the panel and of the bare dialog.
//
// With XQ_BENCH_FIRST_PAINT set in the environment, the probe watches every
// event of the application. The first paint event of a dialog window (or of
// any widget in it) marks the start of the first paint; a zero-time event
// posted from there runs once that paint has been composed and flushed and
// control is back in the event loop, which marks its completion. The probe
// then prints one line on the standard output,
//
//   xq-bench first-paint main_ns=N paint_start_ns=N paint_done_ns=N
//            trace_bytes_start=N trace_bytes_done=N
//
// (one line; times on CLOCK_MONOTONIC, trace sizes of the file VTX_TRACE names
// or -1), and closes the dialog, at once or after XQ_BENCH_LINGER_MS
// milliseconds of running on. Without XQ_BENCH_FIRST_PAINT it does nothing.
#ifndef BENCH_FIRST_PAINT_PROBE_H
#define BENCH_FIRST_PAINT_PROBE_H

#include <QObject>
#include <QPointer>
#include <cstdint>

class QDialog;

namespace bench {

class FirstPaintProbe : public QObject {
public:
    // `mainEntryNs`: MonotonicNs() taken first thing in main.
    explicit FirstPaintProbe(int64_t mainEntryNs);
    ~FirstPaintProbe() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void PaintDone();

    int64_t m_mainEntryNs;
    int64_t m_paintStartNs = 0;
    int64_t m_traceBytesStart = -1;
    int m_lingerMs = 0;
    bool m_seen = false;
    QPointer<QDialog> m_dialog;
};

} // namespace bench

#endif
