// SPDX-License-Identifier: MIT
// The panel's shell with a hand that closes the panel once it is up: appends
// "panel closed" to order.txt first, so a test can tell what ran after it.
// PROBE_VIEWER replaces the command that shows the debug log.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "app/ceval_app.h"
#include "app/command_line.h"

int main(int argc, char **argv) {
    const std::string tail = CommandLineTail(argc, argv);
    CEvalApp app(argc, argv, tail);
    if (const char *viewer = std::getenv("PROBE_VIEWER"))
        CEvalApp::SetLogViewerCommand(viewer);

    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget *panel = QApplication::activeWindow()) {
            if (FILE *order = std::fopen("order.txt", "a")) {
                std::fputs("panel closed\n", order);
                std::fclose(order);
            }
            panel->close();
        }
    });
    closer.start(20);
    return app.InitInstance() ? 1 : 0;
}
