// SPDX-License-Identifier: MIT
#include "bench/first_paint_probe.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "bench/bench_support.h"

namespace bench {
namespace {

int64_t TraceBytes() {
    const char *path = std::getenv("VTX_TRACE");
    struct stat info {};
    if (!path || !*path || stat(path, &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}

} // namespace

FirstPaintProbe::FirstPaintProbe(int64_t mainEntryNs) : m_mainEntryNs(mainEntryNs) {
    const char *enabled = std::getenv("XQ_BENCH_FIRST_PAINT");
    if (!enabled || !*enabled)
        return;
    if (const char *linger = std::getenv("XQ_BENCH_LINGER_MS"))
        m_lingerMs = std::max(0, std::atoi(linger));
    QCoreApplication::instance()->installEventFilter(this);
}

FirstPaintProbe::~FirstPaintProbe() {
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool FirstPaintProbe::eventFilter(QObject *watched, QEvent *event) {
    if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType()) {
        auto *dialog = qobject_cast<QDialog *>(static_cast<QWidget *>(watched)->window());
        if (dialog) {
            m_seen = true;
            m_paintStartNs = MonotonicNs();
            m_traceBytesStart = TraceBytes();
            m_dialog = dialog;
            // Queued behind the paint now under way: it runs once the whole
            // window has been painted and flushed.
            QTimer::singleShot(0, this, [this] { PaintDone(); });
        }
    }
    return QObject::eventFilter(watched, event);
}

void FirstPaintProbe::PaintDone() {
    const int64_t doneNs = MonotonicNs();
    std::printf("xq-bench first-paint main_ns=%" PRId64 " paint_start_ns=%" PRId64
                " paint_done_ns=%" PRId64 " trace_bytes_start=%" PRId64 " trace_bytes_done=%" PRId64
                "\n",
                m_mainEntryNs, m_paintStartNs, doneNs, m_traceBytesStart, TraceBytes());
    std::fflush(stdout);
    QTimer::singleShot(m_lingerMs, this, [this] {
        if (m_dialog)
            m_dialog->done(QDialog::Accepted);
    });
}

} // namespace bench
