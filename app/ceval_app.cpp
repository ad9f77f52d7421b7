#include "app/ceval_app.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/command_line.h"
#include "panel/ceval_dlg.h"

int g_debugLog = 0;

namespace {
std::string &LogViewerCommand() {
    static std::string command = "xdg-open debug.log";
    return command;
}
} // namespace

CEvalApp::CEvalApp(int &argc, char **argv, std::string tail)
    : QApplication(argc, argv), m_tail(std::move(tail)) {}

void CEvalApp::SetLogViewerCommand(std::string command) {
    LogViewerCommand() = std::move(command);
}

bool CEvalApp::InitInstance() {
    if (HasDebugSwitch(m_tail))
        g_debugLog = 1;

    if (g_debugLog == 1) {
        // Deletes a file only (never a directory); a failure is fine.
        ::unlink("debug.log");
        if (std::freopen("debug.log", "w", stdout)) {
            std::printf("CmdLine: %s\n", m_tail.c_str());
        } else {
            // The failed reopen closed the standard output: nothing may be
            // written to it any more, and there is no log to show.
            g_debugLog = 0;
        }
    }

    {
        CEvalDlg dlg;
        dlg.DoModal();
    }

    if (g_debugLog == 1) {
        std::fclose(stdout);
        // The viewer blocks until closed; a failed launch changes nothing.
        [[maybe_unused]] const int ignored = std::system(LogViewerCommand().c_str());
    }
    return false;
}
