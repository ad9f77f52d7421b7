// SPDX-License-Identifier: MIT
// Saving the panel's set-up as a register file and loading one back: the
// context menu's "Save Registers..." and "Load Registers...".
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSlider>
#include <optional>

#include "chip/xq4620.h"
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"
#include "regfile/register_file.h"
#include "res/resource.h"

namespace {

// The control that shows each field of the set-up registers.
struct FieldControl {
    const char *field;
    int id;
};

const FieldControl kFieldControls[] = {
    {"sleep", IDC_SLEEP},
    {"linear-a", IDC_LINEAR_A},
    {"linear-b", IDC_LINEAR_B},
    {"led-a-en", IDC_LED_A_EN},
    {"led-b-en", IDC_LED_B_EN},
    {"led2-on-a", IDC_LED2_ON_A},
    {"feedback-b", IDC_FEEDBACK_B},
    {"feedback-a", IDC_FEEDBACK_A},
    {"pwm-active-low", IDC_PWM_ACTIVE_LOW},
    {"pwm-b", IDC_PWM_B},
    {"pwm-a", IDC_PWM_A},
    {"ovp", IDC_OVP},
    {"ocp", IDC_OCP},
    {"slow-start", IDC_SLOW_START},
    {"fmode", IDC_FMODE},
    {"brightness-a", IDC_BRIGHT_A},
    {"brightness-b", IDC_BRIGHT_B},
    {"max-current-a", IDC_CURRENT_A},
    {"max-current-b", IDC_CURRENT_B},
    {"ramp-on", IDC_RAMP_ON},
    {"ramp-off", IDC_RAMP_OFF},
    {"ramp-start", IDC_RAMP_START},
    {"ramp-stop", IDC_RAMP_STOP},
};

const QString kFileFilter = QStringLiteral("Register files (*.txt);;All files (*)");

QString RegisterLabel(uint8_t reg) {
    return QString::fromStdString(chip::registerLabel(reg));
}

// The largest value a control can show: a box 1, a list its last choice, a
// slider its maximum.
int ControlMaximum(QWidget *control) {
    if (auto *list = qobject_cast<QComboBox *>(control))
        return list->count() - 1;
    if (auto *slider = qobject_cast<QSlider *>(control))
        return slider->maximum();
    return 1;
}

void ShowInControl(QWidget *control, int value) {
    if (auto *box = qobject_cast<QCheckBox *>(control))
        box->setChecked(value != 0);
    else if (auto *list = qobject_cast<QComboBox *>(control))
        list->setCurrentIndex(value);
    else if (auto *slider = qobject_cast<QSlider *>(control))
        slider->setValue(value);
}

std::string LocalPath(const QString &path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

// Why the controls cannot show `value` in `reg` as it is, or nothing. Bits no
// control shows are refused, except those the chip sets at reset (bit 6 of
// Control), which the panel's own shadow carries from its start.
std::optional<QString> CEvalDlg::Unshowable(uint8_t reg, uint8_t value) const {
    uint8_t shown = 0;
    for (const FieldControl &fc : kFieldControls) {
        const chip::Field *field = chip::findField(fc.field);
        if (field->reg != reg)
            continue;
        shown |= field->mask();
        const int max = ControlMaximum(GetDlgItem(fc.id));
        if (static_cast<int>(field->valueIn(value)) > max)
            return QStringLiteral("%1: %2 is %3, beyond what its control shows (0 to %4)")
                .arg(RegisterLabel(reg), QString::fromUtf8(fc.field))
                .arg(field->valueIn(value))
                .arg(max);
    }
    const chip::Register *info = chip::findRegister(reg);
    const uint8_t carried = info && info->reset > 0 ? static_cast<uint8_t>(info->reset) : 0;
    const uint8_t stray = value & ~shown & ~carried;
    if (stray == 0)
        return std::nullopt;
    int bit = 7;
    while (!(stray & (1 << bit)))
        --bit;
    return QStringLiteral("%1: bit %2 is set, and no control shows it")
        .arg(RegisterLabel(reg))
        .arg(bit);
}

void CEvalDlg::OnSaveRegisters() {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save Registers"), QString(), kFileFilter);
    if (path.isEmpty())
        return;
    QString error;
    if (!SaveRegisters(path, &error))
        QMessageBox::warning(this, tr("Save Registers"),
                             tr("The registers were not saved to %1: %2").arg(path, error));
}

void CEvalDlg::OnLoadRegisters() {
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Load Registers"), QString(), kFileFilter);
    if (path.isEmpty())
        return;
    QStringList problems;
    if (!LoadRegisters(path, &problems)) {
        QMessageBox::warning(this, tr("Load Registers"),
                             tr("Nothing was loaded from %1:\n%2").arg(path, problems.join('\n')));
    }
}

// What the panel set: the shadows, which are what its actions last composed.
bool CEvalDlg::SaveRegisters(const QString &path, QString *error) {
    std::vector<regfile::Entry> entries;
    for (const uint8_t reg : chip::setupRegisters())
        entries.push_back({reg, static_cast<uint8_t>(g_shadow[reg] & 0xFF), 0});
    std::string why;
    if (regfile::write(LocalPath(path), regfile::format(entries, "xq4620-panel " XQ_VERSION), why))
        return true;
    *error = QString::fromStdString(why);
    return false;
}

// The whole file is checked first, against the register rules and against
// what the controls can show; a refused file writes nothing. Then each
// register in address order: its shadow, its controls (a slider's memory
// takes the written value, so its repaint does not write it again), one
// write. A readback ends it.
bool CEvalDlg::LoadRegisters(const QString &path, QStringList *problems) {
    const regfile::Contents file = regfile::read(LocalPath(path));
    for (const regfile::Problem &p : file.problems)
        problems->append(QString::fromStdString(regfile::describe(p)));
    for (const regfile::Entry &e : file.entries) {
        if (const auto why = Unshowable(e.reg, e.value))
            problems->append(QStringLiteral("line %1: %2").arg(e.line).arg(*why));
    }
    if (!problems->isEmpty()) {
        ShowError(QStringLiteral("Invalid File"));
        return false;
    }

    ++m_actionDepth; // the sliders' repaints come after, as events of their own
    bool writeFailed = false;
    Pull();
    for (const regfile::Entry &e : file.entries) {
        g_shadow[e.reg] = e.value;
        for (const FieldControl &fc : kFieldControls) {
            const chip::Field *field = chip::findField(fc.field);
            if (field->reg == e.reg)
                ShowInControl(GetDlgItem(fc.id), static_cast<int>(field->valueIn(e.value)));
        }
        Pull(); // the boxes' fields follow the boxes
        if (QString *text = RegisterText(e.reg))
            *text = HexByte(e.value);
        const bool failed = WriteRegister(e.reg, e.value);
        writeFailed = writeFailed || failed;
        // Only a value the chip took counts as sent; after a failure the
        // slider's next repaint tries again.
        if (e.reg >= kFirstSliderRegister && e.reg < kFirstSliderRegister + 4 && !failed)
            g_lastSent[e.reg - kFirstSliderRegister] = e.value;
        Push();
    }
    ReadbackAll();
    --m_actionDepth;
    // The readback's success says the bus works; it must not hide that the
    // chip did not take the file.
    if (writeFailed)
        ShowError(QStringLiteral("Write Error"));
    return true;
}
