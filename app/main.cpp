// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstdlib>

#include "app/ceval_app.h"
#include "app/command_line.h"

namespace {

// Without a display Qt would abort; say what to do instead.
bool DisplayAvailable() {
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

} // namespace

int main(int argc, char **argv) {
    const std::string tail = CommandLineTail(argc, argv);
    if (!DisplayAvailable()) {
        std::fprintf(stderr,
                     "xq4620-panel: no display (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Run it from a desktop session, or on a headless machine under a virtual\n"
                     "X server: xvfb-run -a xq4620-panel\n");
        return 2;
    }
    CEvalApp app(argc, argv, tail);
    // Ties the window to its desktop file (the AppStream id) for its icon and
    // name.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.c_seed_85bf7051.xq4620_panel"));
    app.InitInstance();
    return 0;
}
