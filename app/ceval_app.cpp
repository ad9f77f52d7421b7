// SPDX-License-Identifier: MIT
#include "app/ceval_app.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "app/command_line.h"
#include "panel/ceval_dlg.h"

int g_debugLog = 0;

namespace {

// Points the standard output at `path`, flushing what was written before.
// On failure (false) it is left as it was, never closed.
bool RedirectStandardOutput(const char *path, int flags) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC | flags, 0666);
    if (fd < 0)
        return false;
    std::fflush(stdout);
    const bool moved = ::dup2(fd, STDOUT_FILENO) == STDOUT_FILENO;
    ::close(fd);
    return moved;
}

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
        if (RedirectStandardOutput("debug.log", O_CREAT | O_TRUNC)) {
            std::printf("CmdLine: %s\n", m_tail.c_str());
        } else {
            // No log to write or show; the standard output stays as it was.
            g_debugLog = 0;
        }
    }

    {
        CEvalDlg dlg;
        dlg.DoModal();
    }

    if (g_debugLog == 1) {
        // Closes the log, flushed. The viewer inherits the standard output:
        // a closed one would be taken over by the first file it opens.
        if (!RedirectStandardOutput("/dev/null", 0))
            std::fflush(stdout);
        // The viewer blocks until closed; a failed launch changes nothing.
        [[maybe_unused]] const int ignored = std::system(LogViewerCommand().c_str());
    }
    return false;
}
