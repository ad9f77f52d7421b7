// SPDX-License-Identifier: MIT
// The context menu's Board Supply: the board's supply as the bench wires it
// (a GPIO line of the bridge, vtx/bench_gpio.h; the simulated board's own
// switch), shown checked while on and switched only when the user picks it.
#include <QAction>
#include <QMenu>
#include <cerrno>

#include "link/link.h"
#include "panel/ceval_dlg.h"
#include "res/resource.h"
#include "vtx/bench_gpio.h"
#include "vtx/vtx.h"

namespace {

QString LastReason() {
    char text[512] = {};
    vtxLastError(text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace

void CEvalDlg::ShowSupplyState() {
    if (!m_supplyAction)
        return;
    const int32_t state = g_hLink > 0 ? vtx::supplyState(g_hLink) : -EBADF;
    m_supplyAction->setChecked(state == 1);
    m_supplyAction->setEnabled(state >= 0);
    if (state >= 0)
        m_supplyAction->setToolTip(QString());
    else if (state == -ENODATA)
        m_supplyAction->setToolTip(
            tr("No line switches this board's supply: describe the wiring in "
               "~/.config/xq4620/bench.conf (supply = GP2), and the board is switched at start"));
    else if (state == -EBADF)
        m_supplyAction->setToolTip(tr("No adapter is open"));
    else
        m_supplyAction->setToolTip(LastReason());
}

void CEvalDlg::OnBoardSupply() {
    const int32_t state = g_hLink > 0 ? vtx::supplyState(g_hLink) : -EBADF;
    if (state < 0) { // nothing to switch; the entry says why
        ShowSupplyState();
        return;
    }
    const bool on = state == 0;
    if (vtxPower_WriteControl(g_hLink, on ? 1 : 0, 0) < 0) {
        ShowError(QStringLiteral("Supply Error"));
        m_errorReason = LastReason();
        ShowStatusReason();
    } else if (on) {
        // The chip started afresh: show what it holds now. No control writes.
        ReadbackAll();
    } else {
        SetStatus(QStringLiteral("Board Supply Off"));
    }
    ShowSupplyState();
}
