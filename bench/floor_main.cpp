// SPDX-License-Identifier: MIT
// The floor for the panel's start-up: a bare dialog built from the panel's
// template (the same widgets, the same artwork) with no device link and no
// actions. Honours the start-up probe's XQ_BENCH_FIRST_PAINT.
#include <QApplication>
#include <QDialog>

#include "bench/bench_support.h"
#include "bench/first_paint_probe.h"
#include "panel/dialog_builder.h"

int main(int argc, char **argv) {
    const int64_t mainEntryNs = bench::MonotonicNs();
    QApplication app(argc, argv);
    bench::FirstPaintProbe probe(mainEntryNs);
    QDialog dialog;
    BuildDialog(&dialog, res::kMainTemplate);
    dialog.exec();
    return 0;
}
