// SPDX-License-Identifier: MIT
// Saving the panel's set-up as a register file and loading one back: the
// context menu's "Save Registers..." and "Load Registers...".
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSlider>
#include <optional>

#include "board/operations.h"
#include "chip/xq4620.h"
#include "panel/ceval_dlg.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"
#include "panel/slider_action.h"
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
const QString kSuffix = QStringLiteral("txt");

// Whether a file's name has an extension: a dot after its first character
// (".bench" is a hidden file without one; "bench." has an empty one).
bool HasExtension(const QString &path) {
    return QFileInfo(path).fileName().indexOf(QLatin1Char('.'), 1) > 0;
}

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
// control shows are refused, except those the panel carries across its own
// writes: the bits the chip sets at reset (bit 6 of Control), which the
// shadow carries from its start, and a slider register's bits outside the
// slider's field, which the slider keeps.
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
    uint8_t carried = info && info->reset > 0 ? static_cast<uint8_t>(info->reset) : 0;
    if (const SliderRow *slider = FindSliderRowOf(reg))
        carried |= static_cast<uint8_t>(~slider->Field().mask());
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
    QFileDialog dialog(this, tr("Save Registers"), QString(), kFileFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // A name typed without an extension gets ".txt", so the Load dialog's
    // first filter shows the file; the dialog asks before replacing a file
    // under the name it then has.
    dialog.setDefaultSuffix(kSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString path = dialog.selectedFiles().constFirst();
    if (!HasExtension(path)) {
        // A dialog of the desktop's own that did not add it.
        path += QLatin1Char('.') + kSuffix;
        if (QFileInfo::exists(path) &&
            QMessageBox::question(this, tr("Save Registers"),
                                  tr("%1 already exists. Replace it?").arg(path)) !=
                QMessageBox::Yes)
            return;
    }
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
    const LoadResult result = LoadRegisters(path);
    if (!result.problems.isEmpty()) {
        QMessageBox::warning(
            this, tr("Load Registers"),
            tr("Nothing was loaded from %1:\n%2").arg(path, result.problems.join('\n')));
    } else if (!result.notLoaded.empty()) {
        // As the command says it: which registers now hold the file's values.
        QMessageBox::warning(this, tr("Load Registers"),
                             tr("%1: loaded in part: %2")
                                 .arg(path, PartialLoadText(result.loaded, result.notLoaded)));
    }
}

QString PartialLoadText(const std::vector<uint8_t> &loaded, const std::vector<uint8_t> &notLoaded) {
    board::LoadOutcome outcome;
    outcome.held = loaded;
    outcome.notHeld = notLoaded;
    return QString::fromStdString(board::describeLoad(outcome));
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
// register in address order: one write, and only once the chip took it its
// shadow, its controls and its text (a slider's memory takes the written
// position, so its repaint does not write it again). A register the chip
// refused keeps everything the panel showed for it. A readback ends it.
CEvalDlg::LoadResult CEvalDlg::LoadRegisters(const QString &path) {
    LoadResult result;
    const regfile::Contents file = regfile::read(LocalPath(path));
    for (const regfile::Problem &p : file.problems)
        result.problems.append(QString::fromStdString(regfile::describe(p)));
    for (const regfile::Entry &e : file.entries) {
        if (const auto why = Unshowable(e.reg, e.value))
            result.problems.append(QStringLiteral("line %1: %2").arg(e.line).arg(*why));
    }
    if (!result.problems.isEmpty()) {
        ShowError(QStringLiteral("Invalid File"));
        return result;
    }

    ++m_actionDepth; // the sliders' repaints come after, as events of their own
    Pull();
    for (const regfile::Entry &e : file.entries) {
        if (WriteRegister(e.reg, e.value)) {
            result.notLoaded.push_back(e.reg);
            Push(); // the register's text says "--"
            continue;
        }
        result.loaded.push_back(e.reg);
        g_shadow[e.reg] = e.value;
        for (const FieldControl &fc : kFieldControls) {
            const chip::Field *field = chip::findField(fc.field);
            if (field->reg == e.reg)
                ShowInControl(GetDlgItem(fc.id), static_cast<int>(field->valueIn(e.value)));
        }
        if (const SliderRow *slider = FindSliderRowOf(e.reg))
            g_lastSent[e.reg - kFirstSliderRegister] =
                static_cast<int32_t>(slider->Field().valueIn(e.value));
        Pull(); // the boxes' fields follow the boxes
        if (QString *text = RegisterText(e.reg))
            *text = HexByte(e.value);
        Push();
    }
    ReadbackAll();
    --m_actionDepth;
    // The readback's success says the bus works; it must not hide that the
    // chip did not take the whole file.
    if (!result.notLoaded.empty())
        ShowError(QStringLiteral("Write Error"));
    return result;
}
