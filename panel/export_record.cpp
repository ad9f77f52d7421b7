// SPDX-License-Identifier: MIT
// The set-up leaving the bench: the context menu's "Export Registers..."
// (what Save writes, as C, i2ctransfer, Python or shell) and "Record..." /
// "Stop Recording" (every register access the panel makes, as a script).
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

#include "chip/xq4620.h"
#include "export/forms.h"
#include "export/recorder.h"
#include "link/link.h"
#include "panel/ceval_dlg.h"
#include "panel/register_map.h"

namespace {

struct FormChoice {
    exporter::Format format;
    const char *filter;
    const char *suffix;
};

const FormChoice kForms[] = {
    {exporter::Format::C, "C header (*.h)", "h"},
    {exporter::Format::Shell, "xq4620 shell script (*.sh)", "sh"},
    {exporter::Format::Python, "Python script (*.py)", "py"},
    {exporter::Format::I2cTransfer, "i2ctransfer script (*.sh)", "sh"},
};

// How often what was recorded is appended to the file while a recording runs.
constexpr int kFlushIntervalMs = 1000;

std::string LocalPath(const QString &path) {
    return QFile::encodeName(path).toStdString();
}

// A file dialog whose file types are the forms: the chosen path and form.
std::optional<std::pair<QString, exporter::Format>>
ChooseFile(QWidget *parent, const QString &title, bool recording) {
    QStringList filters;
    std::vector<const FormChoice *> shown;
    for (const FormChoice &f : kForms) {
        if (recording && !exporter::recordable(f.format))
            continue;
        filters.append(QString::fromUtf8(f.filter));
        shown.push_back(&f);
    }
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QString::fromUtf8(shown.front()->suffix));
    // A recording may go on in a file of the same form: the panel appends.
    if (recording)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString &filter) {
        const int i = filters.indexOf(filter);
        if (i >= 0)
            dialog.setDefaultSuffix(QString::fromUtf8(shown[static_cast<size_t>(i)]->suffix));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const int i = std::max(0, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())));
    return std::make_pair(dialog.selectedFiles().constFirst(),
                          shown[static_cast<size_t>(i)]->format);
}

} // namespace

void CEvalDlg::OnExportRegisters() {
    const auto chosen = ChooseFile(this, tr("Export Registers"), false);
    if (!chosen)
        return;
    QString error;
    if (!ExportRegisters(chosen->first, chosen->second, &error))
        QMessageBox::warning(
            this, tr("Export Registers"),
            tr("The registers were not exported to %1: %2").arg(chosen->first, error));
}

void CEvalDlg::OnRecord() {
    if (IsRecording())
        return;
    const auto chosen = ChooseFile(this, tr("Record"), true);
    if (!chosen)
        return;
    QString error;
    if (!StartRecording(chosen->first, chosen->second, &error))
        QMessageBox::warning(this, tr("Record"),
                             tr("Nothing is recorded to %1: %2").arg(chosen->first, error));
}

void CEvalDlg::OnStopRecording() {
    const QString path = IsRecording() ? QString::fromStdString(m_recorder->path()) : QString();
    QString error;
    if (!StopRecording(&error))
        QMessageBox::warning(
            this, tr("Stop Recording"),
            tr("The end of the recording was not written to %1: %2").arg(path, error));
}

// The shadows, as Save writes them: they are what the panel last set, the
// set-up a product is to get; the chip is not read, so an export works
// without the board as Save does, and is what Save and a later
// `xq4620 export` of that file give.
bool CEvalDlg::ExportRegisters(const QString &path, exporter::Format format, QString *error) {
    std::vector<regfile::Entry> entries;
    for (const uint8_t reg : chip::setupRegisters())
        entries.push_back({reg, static_cast<uint8_t>(g_shadow[reg] & 0xFF), 0});
    const exporter::Origin origin{"the panel's registers (as Save writes them)",
                                  "xq4620-panel " XQ_VERSION, std::chrono::system_clock::now()};
    std::string why;
    if (regfile::write(LocalPath(path), exporter::exportSetUp(format, entries, origin), why))
        return true;
    *error = QString::fromStdString(why);
    return false;
}

bool CEvalDlg::StartRecording(const QString &path, exporter::Format format, QString *error) {
    if (IsRecording() || !exporter::recordable(format)) {
        *error = tr("a recording runs already, or the form is no script");
        return false;
    }
    std::string adapter = m_adapterName;
    if (adapter.empty()) {
        const char *named = std::getenv("VTX_ADAPTER");
        adapter = named && *named ? named : "the USB-to-I2C bridge";
    }
    const std::string serial = g_linkSerial;
    auto recorder = std::make_unique<exporter::Recorder>(
        LocalPath(path), format, std::nullopt,
        exporter::Origin{"the panel on adapter " + adapter +
                             (serial.empty() ? "" : " (" + serial + ")"),
                         "xq4620-panel " XQ_VERSION, std::chrono::system_clock::now()});
    std::string why;
    if (!recorder->begin(why)) {
        *error = QString::fromStdString(why);
        return false;
    }
    recorder->start();
    m_recorder = std::move(recorder);
    if (!m_recordFlush) {
        m_recordFlush = new QTimer(this);
        m_recordFlush->setInterval(kFlushIntervalMs);
        connect(m_recordFlush, &QTimer::timeout, this, &CEvalDlg::FlushRecording);
    }
    m_recordFlush->start();
    m_titleBeforeRecording = windowTitle();
    ShowRecordingState();
    return true;
}

void CEvalDlg::FlushRecording() {
    if (!IsRecording() || !m_recorder->pending())
        return;
    std::string why;
    if (m_recorder->flush("xq4620-panel", why))
        return;
    const QString path = QString::fromStdString(m_recorder->path());
    m_recorder->stop();
    m_recorder.reset();
    m_recordFlush->stop();
    ShowRecordingState();
    QMessageBox::warning(
        this, tr("Record"),
        tr("The recording to %1 ended: %2").arg(path, QString::fromStdString(why)));
}

bool CEvalDlg::StopRecording(QString *error) {
    if (!IsRecording())
        return true;
    m_recorder->stop();
    std::string why;
    const bool ok = m_recorder->flush("xq4620-panel", why);
    m_recorder.reset();
    m_recordFlush->stop();
    ShowRecordingState();
    if (!ok)
        *error = QString::fromStdString(why);
    return ok;
}

void CEvalDlg::ShowRecordingState() {
    if (m_recordAction)
        m_recordAction->setEnabled(!IsRecording());
    if (m_stopRecordingAction)
        m_stopRecordingAction->setEnabled(IsRecording());
    if (IsRecording())
        setWindowTitle(tr("%1 - recording to %2")
                           .arg(m_titleBeforeRecording,
                                QFileInfo(QString::fromStdString(m_recorder->path())).fileName()));
    else if (!m_titleBeforeRecording.isEmpty())
        setWindowTitle(m_titleBeforeRecording);
}
