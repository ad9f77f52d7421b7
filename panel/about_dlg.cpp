// SPDX-License-Identifier: MIT
#include "panel/about_dlg.h"

#include "panel/dialog_builder.h"

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    BuildDialog(this, res::kAboutTemplate);
}
