// SPDX-License-Identifier: MIT
// Qt sliders say nothing before they paint; this filter stands in for the
// slider's pre-paint notification by raising the panel's custom-draw event
// just before each repaint, then letting the slider paint as usual.
#ifndef PANEL_SLIDER_PAINT_HOOK_H
#define PANEL_SLIDER_PAINT_HOOK_H

#include <QObject>

class CEvalDlg;

class SliderPaintHook : public QObject {
    Q_OBJECT

public:
    SliderPaintHook(CEvalDlg *dialog, int controlId, QObject *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    CEvalDlg *m_dialog;
    int m_controlId;
};

#endif
