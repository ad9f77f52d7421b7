// SPDX-License-Identifier: MIT
#include "panel/slider_paint_hook.h"

#include <QEvent>

#include "panel/ceval_dlg.h"

SliderPaintHook::SliderPaintHook(CEvalDlg *dialog, int controlId, QObject *parent)
    : QObject(parent), m_dialog(dialog), m_controlId(controlId) {}

bool SliderPaintHook::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Paint)
        m_dialog->Dispatch(CEvalDlg::Event::CustomDraw, m_controlId);
    // The answer is always "paint in the default way".
    return QObject::eventFilter(watched, event);
}
