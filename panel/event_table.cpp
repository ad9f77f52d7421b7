// SPDX-License-Identifier: MIT
// The panel's event table: which action each window event runs.
#include <QAbstractButton>
#include <QComboBox>
#include <QMetaObject>
#include <QSlider>

#include "panel/ceval_dlg.h"
#include "panel/slider_paint_hook.h"
#include "res/resource.h"

using E = CEvalDlg::Event;

const CEvalDlg::Route CEvalDlg::kRoutes[] = {
    {E::SysCommand, 0, &CEvalDlg::OnSysCommand},
    {E::Paint, 0, &CEvalDlg::OnPaint},
    {E::QueryDragIcon, 0, &CEvalDlg::OnQueryDragIcon},
    {E::Click, IDC_LINEAR_A, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_LINEAR_B, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_LED_A_EN, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_LED_B_EN, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_LED2_ON_A, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_PWM_ACTIVE_LOW, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_SW_RESET, &CEvalDlg::OnSwReset},
    {E::Click, IDC_FEEDBACK_B, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_PWM_B, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_WRITE, &CEvalDlg::OnManualWrite},
    {E::Click, IDC_PWM_A, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_SLOW_START, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_READBACK_ALL, &CEvalDlg::OnReadbackAll},
    {E::Click, IDC_SLEEP, &CEvalDlg::OnBitToggle},
    {E::Click, IDC_READ, &CEvalDlg::OnManualRead},
    {E::SelChange, IDC_FMODE, &CEvalDlg::OnBoostList},
    {E::CustomDraw, IDC_CURRENT_A, &CEvalDlg::OnSliderDraw},
    {E::Click, IDC_FEEDBACK_A, &CEvalDlg::OnBitToggle},
    {E::CustomDraw, IDC_BRIGHT_B, &CEvalDlg::OnSliderDraw},
    {E::CustomDraw, IDC_BRIGHT_A, &CEvalDlg::OnSliderDraw},
    {E::CustomDraw, IDC_CURRENT_B, &CEvalDlg::OnSliderDraw},
    {E::Click, IDC_SLEEP_BUTTON, &CEvalDlg::OnSleepButton},
    {E::SelChange, IDC_OVP, &CEvalDlg::OnBoostList},
    {E::SelChange, IDC_OCP, &CEvalDlg::OnBoostList},
    {E::SelChange, IDC_RAMP_OFF, &CEvalDlg::OnRampList},
    {E::SelChange, IDC_RAMP_STOP, &CEvalDlg::OnRampList},
    {E::SelChange, IDC_RAMP_ON, &CEvalDlg::OnRampList},
    {E::SelChange, IDC_RAMP_START, &CEvalDlg::OnRampList},
};
const std::size_t CEvalDlg::kRouteCount = sizeof kRoutes / sizeof kRoutes[0];

void CEvalDlg::WireEvents() {
    for (const Route &route : kRoutes) {
        QWidget *control = GetDlgItem(route.id);
        const int id = route.id;
        switch (route.event) {
        case E::Click:
            // A click is the user's: toggled from code, a box says nothing.
            connect(qobject_cast<QAbstractButton *>(control), &QAbstractButton::clicked, this,
                    [this, id] { Dispatch(E::Click, id); });
            break;
        case E::SelChange:
            // A selection the user made; setCurrentIndex from code is silent.
            connect(qobject_cast<QComboBox *>(control), &QComboBox::activated, this,
                    [this, id] { Dispatch(E::SelChange, id); });
            break;
        case E::CustomDraw:
            control->installEventFilter(new SliderPaintHook(this, id, control));
            break;
        case E::SysCommand:
        case E::Paint:
        case E::QueryDragIcon:
            // Raised by the window itself (system menu, paintEvent).
            break;
        }
    }
}

int CEvalDlg::Dispatch(Event event, int id, int param) {
    if (event == E::CustomDraw && m_actionDepth > 0) {
        // A slider action never runs inside another action: a repaint that
        // arrives mid-action runs it afterwards, as an event of its own, and
        // a repaint its own action brings about is not answered again.
        if (id != m_currentDrawId) {
            QMetaObject::invokeMethod(
                this, [this, id] { Dispatch(E::CustomDraw, id); }, Qt::QueuedConnection);
        }
        return 0;
    }
    for (const Route &route : kRoutes) {
        if (route.event != event || route.id != id)
            continue;
        EventArgs args{id, param, 0};
        // Window events (the system menu's About box runs a modal loop of its
        // own) are not control actions and do not hold slider actions back.
        const bool action = event == E::Click || event == E::SelChange || event == E::CustomDraw;
        const int previousDrawId = m_currentDrawId;
        if (event == E::CustomDraw)
            m_currentDrawId = id;
        m_actionDepth += action;
        (this->*route.handler)(args);
        m_actionDepth -= action;
        m_currentDrawId = previousDrawId;
        return args.result;
    }
    return 0;
}
