// SW Reset: the chip back to its reset values, and the panel re-read.
#include <QComboBox>
#include <QSlider>

#include "link/link.h"
#include "panel/ceval_dlg.h"
#include "panel/register_map.h"

namespace {
constexpr uint8_t kSoftwareReset = 0x0F;
} // namespace

void CEvalDlg::OnSwReset(EventArgs &) {
    LinkWriteRegister(DeviceAddress(), kSoftwareReset, 1);
    Pull();
    m_bSleep = 1;
    m_bLinearA = 0;
    m_bLinearB = 0;
    m_bLedAEn = 0;
    m_bLedBEn = 0;
    m_bLed2OnA = 0;
    m_bSlowStart = 0;
    m_bFlagOcp = 0;
    m_bFeedbackB = 1;
    m_bFeedbackA = 1;
    // Moving the brightness sliders only schedules their repaints: their
    // actions run after this one, as events of their own. The shadows stay
    // as they are; the Control and status boxes follow the readback below.
    m_slBrightA->setValue(0);
    m_slBrightB->setValue(0);
    m_cbOvp->setCurrentIndex(1);
    Push();
    ReadbackAll();
    SetStatus(QStringLiteral("Reset"));
}
