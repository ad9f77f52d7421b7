// SPDX-License-Identifier: MIT
// Panel start-up: the About entry, shadows, lists and sliders at their start
// values, the adapter chosen (among several bridges), opened and the chip
// read back.
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QSlider>
#include <cstdlib>
#include <string>
#include <vector>

#include "chip/xq4620.h"
#include "link/link.h"
#include "link/version_line.h"
#include "panel/ceval_dlg.h"
#include "panel/choose_adapter_dlg.h"
#include "panel/register_map.h"
#include "panel/slider_action.h"
#include "panel/version_line.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "vtx/adapters.h"

namespace {

void StartSlider(QSlider *slider, int id) {
    const SliderRow *row = FindSliderRow(id);
    // Range changes repaint nothing by themselves; the position set last
    // is what the slider's first paint reports.
    slider->setRange(0, row->Field().max);
    slider->setTickInterval(1);
    slider->setValue(row->startPosition);
}

} // namespace

QString VersionLine(uint8_t firmware, uint8_t firmware2) {
    return QString::fromStdString(LinkVersionLine(firmware, firmware2));
}

void CEvalDlg::SetStartPositions() {
    // Selections made from code raise no list action.
    m_cbFmode->setCurrentIndex(0);
    StartSlider(m_slBrightA, IDC_BRIGHT_A);
    m_cbOvp->setCurrentIndex(1);
    m_cbOcp->setCurrentIndex(3);
    for (QComboBox *ramp : {m_cbRampOff, m_cbRampStop, m_cbRampOn, m_cbRampStart})
        ramp->setCurrentIndex(0);
    StartSlider(m_slBrightB, IDC_BRIGHT_B);
    StartSlider(m_slCurrentA, IDC_CURRENT_A);
    StartSlider(m_slCurrentB, IDC_CURRENT_B);
}

void CEvalDlg::SetStartBoxes() {
    // As constructed: Sleep and both Feedback boxes checked, all else clear.
    m_bFeedbackB = 1;
    m_bFeedbackA = 1;
    m_bPwmActiveLow = 0;
    m_bPwmB = 0;
    m_bPwmA = 0;
    m_bSleep = 1;
    m_bLinearA = 0;
    m_bLinearB = 0;
    m_bLedAEn = 0;
    m_bLedBEn = 0;
    m_bLed2OnA = 0;
    m_bSlowStart = 0;
    m_bFlagOcp = 0;
    m_bFlagOvp = 0;
    m_bFlagTsd = 0;
}

void CEvalDlg::OpenAdapter() {
    // A new start: what an earlier open or access left is not this one's.
    m_linkFailed = false;
    m_linkResult = 0;
    m_linkReason.clear();
    m_errorText.clear();
    m_errorReason.clear();

    uint8_t firmware = 0;
    const bool failed = m_nameRefused || LinkOpen(&firmware) != 0;
    if (failed) {
        SetDlgItemText(IDC_VERSION, QStringLiteral("Version"));
        SetStatus(QStringLiteral("USB Initialization Error"));
        NoteLinkFailure();
    } else {
        uint8_t firmware2 = 0;
        LinkFirmwareVersion(&firmware2);
        SetDlgItemText(IDC_VERSION, VersionLine(firmware, firmware2));
        SetStatus(QStringLiteral("Ready"));
        ShowStatusReason();
    }
    ShowAdapterTip(!failed);
}

void CEvalDlg::ShowAdapterTip(bool open) {
    QString tip;
    if (open) {
        const std::string where = vtx::whereIs(g_hLink);
        std::string name = m_adapterName;
        if (name.empty() && AdapterNamed())
            name = std::getenv("VTX_ADAPTER");
        if (name.empty()) {
            // The one bridge detection found, by the name that picks it out.
            for (const vtx::AdapterListing &a : ListAdapters()) {
                if (a.node == where)
                    name = a.name;
            }
        }
        tip = AdapterTip(name, where);
    }
    if (QWidget *version = GetDlgItem(IDC_VERSION)) {
        version->setToolTip(tip);
        version->setAccessibleDescription(tip);
    }
}

bool CEvalDlg::InitPanel() {
    InitDialogBase();

    if (QMenu *menu = GetSystemMenu()) {
        const QString about = QString::fromUtf8(LoadResourceString(IDS_ABOUTBOX));
        if (!about.isEmpty()) {
            menu->addSeparator();
            menu->addAction(about)->setData(IDM_ABOUTBOX);
        }
    }

    setWindowIcon(m_hIcon);
    ResetShadows();
    SetStartPositions();

    // Nothing reopens an adapter that was pulled out and plugged back in
    // behind the user's back: Reconnect Adapter does, and reads the chip.
    vtx::setReopenUnplugged(false);
    // Several bridges and none named: the user says which one the board is
    // on before anything reaches any of them.
    std::vector<vtx::AdapterListing> bridges;
    if (!AdapterNamed())
        bridges = vtx::bridgesOf(ListAdapters());
    if (bridges.size() > 1 && !ChooseAdapter(bridges))
        NoAdapterChosen(bridges);
    else
        OpenAdapter();

    ReadbackAll();
    return true;
}
