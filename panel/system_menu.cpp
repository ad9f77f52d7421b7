// SPDX-License-Identifier: MIT
// Window-level commands: the system menu (the panel's context menu, since X11
// window managers don't let an application extend theirs), painting and the
// drag icon.
#include "panel/about_dlg.h"
#include "panel/ceval_dlg.h"
#include "res/resource.h"

void CEvalDlg::OnSysCommand(EventArgs &args) {
    const int command = args.param & 0xFFF0;
    if (command == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    } else if (command == IDM_SAVEREGS) {
        OnSaveRegisters();
    } else if (command == IDM_LOADREGS) {
        OnLoadRegisters();
    } else if (command == IDM_DIAGNOSE) {
        OnDiagnoseAdapter();
    } else if (command == IDM_CHOOSE) {
        OnChooseAdapter();
    } else if (command == IDM_RECONNECT) {
        OnReconnectAdapter();
    } else if (command == IDM_EXPORT) {
        OnExportRegisters();
    } else if (command == IDM_RECORD) {
        OnRecord();
    } else if (command == IDM_STOPRECORD) {
        OnStopRecording();
    } else if (command == IDM_SUPPLY) {
        OnBoardSupply();
    } else if (command == SC_CLOSE) {
        close();
    }
}

// X11 lets no application paint its minimised window or answer a drag-icon
// query; the window icon set at start-up is all there is.
void CEvalDlg::OnPaint(EventArgs &) {}

void CEvalDlg::OnQueryDragIcon(EventArgs &) {}
