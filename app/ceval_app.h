// SPDX-License-Identifier: MIT
// The application: one pass through its instance initialisation is the whole
// life of the process.
#ifndef APP_CEVAL_APP_H
#define APP_CEVAL_APP_H

#include <QApplication>
#include <string>

// 1 while the standard output goes to "debug.log", to be shown at exit.
extern int g_debugLog;

class CEvalApp : public QApplication {
    Q_OBJECT

public:
    // `tail` is the command line after the program name, taken before Qt
    // removed its own options.
    CEvalApp(int &argc, char **argv, std::string tail);

    // Runs the panel once. Returns false: there is no message loop after it.
    bool InitInstance();

    // The command that shows the debug log once the panel has closed.
    static void SetLogViewerCommand(std::string command);

private:
    std::string m_tail;
};

#endif
