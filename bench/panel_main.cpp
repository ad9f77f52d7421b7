// SPDX-License-Identifier: MIT
// The panel as its own executable starts it (application object, instance
// initialisation, one modal run of the panel window), plus the start-up
// probe, which only acts under XQ_BENCH_FIRST_PAINT. The probe watches the
// application's events from outside; the panel's code is the shipped code.
#include <QGuiApplication>

#include "app/ceval_app.h"
#include "app/command_line.h"
#include "bench/bench_support.h"
#include "bench/first_paint_probe.h"

int main(int argc, char **argv) {
    const int64_t mainEntryNs = bench::MonotonicNs();
    const std::string tail = CommandLineTail(argc, argv);
    CEvalApp app(argc, argv, tail);
    QGuiApplication::setDesktopFileName(QStringLiteral("example.c_seed_85bf7051.xq4620_panel"));
    bench::FirstPaintProbe probe(mainEntryNs);
    app.InitInstance();
    return 0;
}
