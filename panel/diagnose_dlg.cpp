// SPDX-License-Identifier: MIT
#include "panel/diagnose_dlg.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>

#include "doctor/checks.h"
#include "panel/ceval_dlg.h"

CDiagnoseDlg::CDiagnoseDlg(const QString &report, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(tr("Diagnose Adapter"));
    m_report = new QPlainTextEdit(report, this);
    m_report->setReadOnly(true);
    m_report->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_report->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_report->setAccessibleName(tr("Report"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *copy = buttons->addButton(tr("&Copy"), QDialogButtonBox::ActionRole);
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_report->toPlainText()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_report);
    layout->addWidget(buttons);

    // Wide enough for the longest line where the screen allows it.
    const QFontMetrics metrics(m_report->font());
    int width = 0;
    for (const QString &line : report.split(QLatin1Char('\n')))
        width = std::max(width, metrics.horizontalAdvance(line));
    const int lines = static_cast<int>(report.count(QLatin1Char('\n'))) + 2;
    resize(std::min(width + 48, 900), std::min(lines * metrics.lineSpacing() + 80, 600));
}

void CEvalDlg::OnDiagnoseAdapter() {
    // The checks run here, at once: reading sysfs is quick, and the chip's
    // three reads take what any readback takes. The adapter is the panel's
    // own, as it was opened at start-up (or chosen since); it is never
    // opened again.
    doctor::Environment env = doctor::systemEnvironment();
    if (!m_adapterName.empty())
        env.setting = m_adapterName;
    const bool failed = m_linkFailed;
    const int32_t result = m_linkResult < 0 ? m_linkResult : -ENODEV;
    const std::string why = m_linkReason.toStdString();
    env.openAdapter = [failed, result, why] {
        return failed ? doctor::ChipRead{result, why} : doctor::ChipRead{};
    };
    QApplication::setOverrideCursor(Qt::WaitCursor);
    doctor::Report report = doctor::run(env);
    if (!m_adapterName.empty())
        report.adapter = m_adapterName + ", chosen in the panel";
    QApplication::restoreOverrideCursor();

    CDiagnoseDlg dialog(QString::fromStdString(doctor::formatReport(report)), this);
    dialog.exec();
}
