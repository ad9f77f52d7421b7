// SPDX-License-Identifier: MIT
// The About box.
#ifndef PANEL_ABOUT_DLG_H
#define PANEL_ABOUT_DLG_H

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

#endif
