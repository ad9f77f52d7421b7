// SPDX-License-Identifier: MIT
// Diagnose Adapter: the report of the adapter chain's checks, as text a
// person can select and copy into a bug report or a message to a colleague.
#ifndef PANEL_DIAGNOSE_DLG_H
#define PANEL_DIAGNOSE_DLG_H

#include <QDialog>
#include <QString>

class QPlainTextEdit;

class CDiagnoseDlg : public QDialog {
    Q_OBJECT

public:
    CDiagnoseDlg(const QString &report, QWidget *parent = nullptr);

private:
    QPlainTextEdit *m_report = nullptr;
};

#endif
