// SPDX-License-Identifier: MIT
#include "panel/input_guard.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QSlider>
#include <QWidget>

#include "panel/ceval_dlg.h"

namespace {

// The list or slider an event on `widget` belongs to: the control itself,
// or the list whose edit field it is.
QWidget *ValueControl(QObject *watched) {
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget)
        return nullptr;
    if (qobject_cast<QComboBox *>(widget) || qobject_cast<QSlider *>(widget))
        return widget;
    if (auto *list = qobject_cast<QComboBox *>(widget->parentWidget()))
        return list;
    return nullptr;
}

} // namespace

InputGuard::InputGuard(CEvalDlg *dialog) : QObject(dialog), m_dialog(dialog) {}

void InputGuard::Watch() {
    for (QWidget *widget : m_dialog->findChildren<QWidget *>()) {
        if (widget->window() != m_dialog)
            continue; // drop-downs and menus are windows of their own
        widget->installEventFilter(this);
        // A list's default focus policy lets a wheel turn take the focus,
        // after which it would change the list.
        if (ValueControl(widget) == widget)
            widget->setFocusPolicy(Qt::StrongFocus);
    }
}

bool InputGuard::eventFilter(QObject *watched, QEvent *event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        // Alt+Space reaching a push button or a box would press it.
        if (key->key() == Qt::Key_Space && mods == Qt::AltModifier) {
            m_dialog->ShowSystemMenu(m_dialog->mapToGlobal(QPoint(0, 0)));
            return true;
        }
        // A list would take Enter as a choice of what was typed.
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && mods == Qt::NoModifier && qobject_cast<QComboBox *>(ValueControl(watched))) {
            m_dialog->accept();
            return true;
        }
        break;
    }
    case QEvent::Wheel: {
        // A wheel brushed over the window changes nothing it was not aimed at.
        QWidget *control = ValueControl(watched);
        if (control && !control->hasFocus())
            return true;
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
