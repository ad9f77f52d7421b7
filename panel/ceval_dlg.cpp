// SPDX-License-Identifier: MIT
#include "panel/ceval_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <cerrno>

#include "export/recorder.h"
#include "link/link.h"
#include "panel/accessible_names.h"
#include "panel/dialog_builder.h"
#include "panel/hex_text.h"
#include "panel/input_guard.h"
#include "panel/register_map.h"
#include "res/resource.h"
#include "vtx/adapters.h"

// Every field bound to a control; Pull and Push walk this one table.
const CEvalDlg::Binding CEvalDlg::kBindings[] = {
    {IDC_REGADDR, &CEvalDlg::m_strRegAddr, nullptr},
    {IDC_DATA, &CEvalDlg::m_strData, nullptr},
    {IDC_REG00, &CEvalDlg::m_strReg00, nullptr},
    {IDC_REG01, &CEvalDlg::m_strReg01, nullptr},
    {IDC_REG02, &CEvalDlg::m_strReg02, nullptr},
    {IDC_REG03, &CEvalDlg::m_strReg03, nullptr},
    {IDC_REG04, &CEvalDlg::m_strReg04, nullptr},
    {IDC_REG06, &CEvalDlg::m_strReg06, nullptr},
    {IDC_REG07, &CEvalDlg::m_strReg07, nullptr},
    {IDC_REG05, &CEvalDlg::m_strReg05, nullptr},
    {IDC_FEEDBACK_B, nullptr, &CEvalDlg::m_bFeedbackB},
    {IDC_FEEDBACK_A, nullptr, &CEvalDlg::m_bFeedbackA},
    {IDC_PWM_ACTIVE_LOW, nullptr, &CEvalDlg::m_bPwmActiveLow},
    {IDC_PWM_B, nullptr, &CEvalDlg::m_bPwmB},
    {IDC_PWM_A, nullptr, &CEvalDlg::m_bPwmA},
    {IDC_SLEEP, nullptr, &CEvalDlg::m_bSleep},
    {IDC_LINEAR_A, nullptr, &CEvalDlg::m_bLinearA},
    {IDC_LINEAR_B, nullptr, &CEvalDlg::m_bLinearB},
    {IDC_LED_A_EN, nullptr, &CEvalDlg::m_bLedAEn},
    {IDC_LED_B_EN, nullptr, &CEvalDlg::m_bLedBEn},
    {IDC_LED2_ON_A, nullptr, &CEvalDlg::m_bLed2OnA},
    {IDC_SLOW_START, nullptr, &CEvalDlg::m_bSlowStart},
    {IDC_FLAG_OCP, nullptr, &CEvalDlg::m_bFlagOcp},
    {IDC_FLAG_OVP, nullptr, &CEvalDlg::m_bFlagOvp},
    {IDC_FLAG_TSD, nullptr, &CEvalDlg::m_bFlagTsd},
    {IDC_REG09, &CEvalDlg::m_strReg09, nullptr},
    {IDC_REG0A, &CEvalDlg::m_strReg0A, nullptr},
    {IDC_REG0B, &CEvalDlg::m_strReg0B, nullptr},
    {IDC_REG12, &CEvalDlg::m_strReg12, nullptr},
    {IDC_REG08, &CEvalDlg::m_strReg08, nullptr},
};

// A top-level window of its own (the application's main window, with its own
// task-bar entry), not a dialog transient for some other window.
CEvalDlg::CEvalDlg(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_hIcon(QStringLiteral(":/res/icon-48.png")) {
    m_hIcon.addFile(QStringLiteral(":/res/icon-16.png"));
    m_hIcon.addFile(QStringLiteral(":/res/icon-32.png"));
    m_hIcon.addFile(QStringLiteral(":/res/icon-64.png"));
}

CEvalDlg::~CEvalDlg() = default;

void CEvalDlg::Create() {
    if (m_created)
        return;
    m_created = true;
    m_controls = BuildDialog(this, res::kMainTemplate);
    NameControls(m_controls);

    auto list = [this](int id) { return qobject_cast<QComboBox *>(GetDlgItem(id)); };
    auto slider = [this](int id) { return qobject_cast<QSlider *>(GetDlgItem(id)); };
    m_cbFmode = list(IDC_FMODE);
    m_cbOcp = list(IDC_OCP);
    m_cbOvp = list(IDC_OVP);
    m_cbRampOff = list(IDC_RAMP_OFF);
    m_cbRampStop = list(IDC_RAMP_STOP);
    m_cbRampOn = list(IDC_RAMP_ON);
    m_cbRampStart = list(IDC_RAMP_START);
    m_slBrightA = slider(IDC_BRIGHT_A);
    m_slBrightB = slider(IDC_BRIGHT_B);
    m_slCurrentA = slider(IDC_CURRENT_A);
    m_slCurrentB = slider(IDC_CURRENT_B);

    for (const Binding &b : kBindings) {
        if (b.text)
            m_boundTexts.push_back({qobject_cast<QLineEdit *>(GetDlgItem(b.id)), b.text});
        else
            m_boundChecks.push_back({qobject_cast<QCheckBox *>(GetDlgItem(b.id)), b.check});
    }

    m_systemMenu = new QMenu(this);
    // Save and Load are the window's too, so that their keys work anywhere in it.
    QAction *save = m_systemMenu->addAction(tr("&Save Registers..."));
    save->setData(IDM_SAVEREGS);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction *load = m_systemMenu->addAction(tr("&Load Registers..."));
    load->setData(IDM_LOADREGS);
    load->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    addAction(save);
    addAction(load);
    m_systemMenu->addAction(tr("&Export Registers..."))->setData(IDM_EXPORT);
    m_recordAction = m_systemMenu->addAction(tr("Rec&ord..."));
    m_recordAction->setData(IDM_RECORD);
    m_stopRecordingAction = m_systemMenu->addAction(tr("S&top Recording"));
    m_stopRecordingAction->setData(IDM_STOPRECORD);
    m_stopRecordingAction->setEnabled(false);
    m_systemMenu->addAction(tr("&Diagnose Adapter..."))->setData(IDM_DIAGNOSE);
    m_systemMenu->addAction(tr("C&hoose Adapter..."))->setData(IDM_CHOOSE);
    m_systemMenu->addAction(tr("&Reconnect Adapter"))->setData(IDM_RECONNECT);
    m_supplyAction = m_systemMenu->addAction(tr("&Board Supply"));
    m_supplyAction->setData(IDM_SUPPLY);
    m_supplyAction->setCheckable(true);
    m_systemMenu->setToolTipsVisible(true);
    // Looked at each time the menu opens: another program may have switched it.
    connect(m_systemMenu, &QMenu::aboutToShow, this, [this] { ShowSupplyState(); });
    QAction *close = m_systemMenu->addAction(tr("&Close"));
    close->setData(SC_CLOSE);
    connect(m_systemMenu, &QMenu::triggered, this,
            [this](QAction *action) { Dispatch(Event::SysCommand, 0, action->data().toInt()); });

    WireListTexts();
    WireEvents();
    InitPanel();
    (new InputGuard(this))->Watch();
    // The focus starts on the first control in tab order.
    if (QWidget *first = GetDlgItem(IDCANCEL))
        first->setFocus();
}

int CEvalDlg::DoModal() {
    Create();
    // The panel is the application's main window, not a dialog over some
    // other: it runs in a loop of its own without window modality, which
    // would mark it a modal dialog box for the window manager.
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    loop.exec(QEventLoop::DialogExec);
    return result();
}

void CEvalDlg::done(int result) {
    m_ending = true;
    // A recording ends with the panel, with everything it saw written.
    if (IsRecording()) {
        QString error;
        StopRecording(&error);
    }
    QDialog::done(result);
}

void CEvalDlg::InitDialogBase() {
    for (std::size_t i = 0; i < kListCount; ++i) {
        auto *list = qobject_cast<QComboBox *>(GetDlgItem(kListChoices[i].listId));
        const QSignalBlocker quiet(list);
        for (int item = 0; item < kListChoices[i].count; ++item)
            list->addItem(QString::fromUtf8(kListChoices[i].items[item]));
        list->setCurrentIndex(-1);
    }
    Push();
}

void CEvalDlg::Pull() {
    for (const BoundText &t : m_boundTexts)
        this->*t.field = t.edit->text();
    for (const BoundCheck &c : m_boundChecks)
        this->*c.field = c.box->isChecked() ? 1 : 0;
}

void CEvalDlg::Push() {
    // Push runs on every slider repaint: a control that already shows its
    // value is left alone, so a cursor or an undo history is never disturbed.
    for (const BoundText &t : m_boundTexts) {
        if (t.edit->text() != this->*t.field)
            t.edit->setText(this->*t.field);
    }
    for (const BoundCheck &c : m_boundChecks) {
        const bool checked = (this->*c.field) != 0;
        if (c.box->isChecked() != checked)
            c.box->setChecked(checked);
    }
}

QString *CEvalDlg::RegisterText(uint8_t reg) {
    const RegisterInfo *info = FindRegister(reg);
    if (!info)
        return nullptr;
    for (const Binding &b : kBindings) {
        if (b.id == info->textId)
            return &(this->*b.text);
    }
    return nullptr;
}

void CEvalDlg::SetDlgItemText(int id, const QString &text) {
    if (auto *label = qobject_cast<QLabel *>(GetDlgItem(id))) {
        if (label->text() != text)
            label->setText(text);
    }
}

QString CEvalDlg::GetDlgItemText(int id) const {
    if (auto *label = qobject_cast<QLabel *>(GetDlgItem(id)))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(GetDlgItem(id)))
        return edit->text();
    return {};
}

void CEvalDlg::SetStatus(const QString &text) {
    // Nothing reopens a failed adapter, so nothing may claim it is ready;
    // and no closing text may hide an error the user has not seen go away.
    if (m_linkFailed || !m_errorText.isEmpty())
        return;
    SetDlgItemText(IDC_STATUS, text);
}

void CEvalDlg::ShowError(const QString &text) {
    m_errorText = text;
    // A device error keeps the library's reason for it; a typing error has
    // none.
    m_errorReason.clear();
    if (text == QLatin1String("Read Error") || text == QLatin1String("Write Error"))
        m_errorReason = AccessFailureReason();
    if (!m_linkFailed)
        SetDlgItemText(IDC_STATUS, text);
    ShowStatusReason();
}

QString CEvalDlg::AccessFailureReason() const {
    std::string why;
    const int32_t result = LinkLastError(&why);
    // Nothing reopens a pulled adapter by itself: the user does, once it is
    // back.
    if (result == -ENODEV || vtx::unplugged(g_hLink))
        return QStringLiteral("the adapter was unplugged: plug it back in and choose Reconnect "
                              "Adapter from the context menu");
    return QString::fromStdString(why);
}

void CEvalDlg::NoteLinkFailure() {
    m_linkFailed = true;
    m_linkResult = LinkLastError(nullptr);
    m_linkReason = AccessFailureReason();
    ShowStatusReason();
}

void CEvalDlg::ShowStatusReason() {
    // The status line keeps its short text; what the terminal was told is
    // there when the pointer rests on it.
    const QString &reason = m_linkFailed ? m_linkReason : m_errorReason;
    if (QWidget *status = GetDlgItem(IDC_STATUS)) {
        status->setToolTip(reason);
        status->setAccessibleDescription(reason);
    }
}

void CEvalDlg::NoteAccess(bool failed, const QString &errorText) {
    if (failed) {
        ShowError(errorText);
    } else if (!m_errorText.isEmpty()) {
        // The bus works again.
        m_errorText.clear();
        m_errorReason.clear();
        ShowStatusReason();
        SetStatus(QStringLiteral("Ready"));
    }
}

bool CEvalDlg::WriteRegister(uint8_t reg, int32_t value) {
    const bool failed = LinkWriteRegister(DeviceAddress(), reg, static_cast<uint8_t>(value & 0xFF));
    if (failed) {
        if (QString *text = RegisterText(reg))
            *text = NoValueText();
    }
    NoteAccess(failed, QStringLiteral("Write Error"));
    return failed;
}

void CEvalDlg::keyPressEvent(QKeyEvent *event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && mods == Qt::NoModifier) {
        // Enter clicks a focused push button; anywhere else it is the accept
        // command, which ends the panel.
        if (auto *button = qobject_cast<QPushButton *>(focusWidget()))
            button->click();
        else
            accept();
        return;
    }
    if (event->key() == Qt::Key_Space && mods == Qt::AltModifier) {
        ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
        return;
    }
    QDialog::keyPressEvent(event);
}

void CEvalDlg::contextMenuEvent(QContextMenuEvent *event) {
    ShowSystemMenu(event->globalPos());
}

void CEvalDlg::ShowSystemMenu(const QPoint &globalPos) {
    if (m_systemMenu)
        m_systemMenu->popup(globalPos);
}

void CEvalDlg::paintEvent(QPaintEvent *event) {
    Dispatch(Event::Paint, 0);
    QDialog::paintEvent(event);
}
