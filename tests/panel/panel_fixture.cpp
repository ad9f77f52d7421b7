// SPDX-License-Identifier: MIT
#include "panel_fixture.h"

#include "res/resource.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

#include "link/link.h"
#include "panel/choose_adapter_dlg.h"
#include "panel/register_map.h"
#include "vtx/vtx.h"
#include "vtx/vtx_testing.h"

void Settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QTest::qWait(5);
    }
}

void PanelTest::SetUp() {
    m_setting = qgetenv("VTX_ADAPTER");
    FreshProcess();
}

void PanelTest::FreshProcess() {
    ResetProcessState();
    // The library keeps a thread's choice of adapter across its reset.
    vtxSelectAdapter(nullptr);
    vtx::test::setTraceSink([this](const std::string &line) { calls.push_back(line); });
}

void PanelTest::TearDown() {
    m_modalWatch.reset();
    if (dlg)
        dlg->hide();
    dlg.reset();
    vtx::test::setTraceSink({});
    SetAdapterLister({});
    if (qgetenv("VTX_ADAPTER") != m_setting) {
        qputenv("VTX_ADAPTER", m_setting);
        ResetProcessState();
    }
}

void PanelTest::SetAdapterSetting(const char *value) {
    if (value)
        qputenv("VTX_ADAPTER", value);
    else
        qunsetenv("VTX_ADAPTER");
    FreshProcess();
}

void PanelTest::OnNextModal(std::function<void(QDialog *)> act) {
    m_modalWatch = std::make_unique<QTimer>();
    m_modalWatch->setInterval(10);
    QObject::connect(m_modalWatch.get(), &QTimer::timeout, [this, act] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        m_modalWatch->stop();
        act(dialog);
    });
    m_modalWatch->start();
}

std::vector<vtx::AdapterListing> TwoBridges() {
    auto bus = [](const char *name, const char *bus, const char *product, const char *serial,
                  const char *port) {
        vtx::AdapterListing a;
        a.name = name;
        a.bus = bus;
        a.product = product;
        a.serial = serial;
        a.port = port;
        a.bridge = *product != '\0';
        return a;
    };
    return {bus("usb:A1", "i2c-7", "MCP2221", "A1", "1-2"),
            bus("sim", "i2c-8", "CP2112", "", "1-3.1"), bus("/dev/i2c-0", "i2c-0", "", "", "")};
}

void PanelTest::StartPanel() {
    dlg = std::make_unique<CEvalDlg>();
    dlg->Create();
    dlg->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    dlg->activateWindow();
    Settle();
}

std::vector<std::string> PanelTest::Writes() const {
    std::vector<std::string> writes;
    const std::string prefix = "vtxI2C_RegisterWrite(";
    for (const std::string &line : calls) {
        if (line.rfind(prefix, 0) != 0)
            continue;
        // vtxI2C_RegisterWrite(1, 0x36, 0x05, 0x1F) = 0
        const std::size_t reg = line.find(", 0x36, ") + 8;
        writes.push_back(line.substr(reg, 4) + "=" + line.substr(reg + 6, 4));
    }
    return writes;
}

void PanelTest::ClickBox(int id) {
    ClickBox(Box(id));
}

void PanelTest::ClickBox(QCheckBox *box) {
    // The box itself, not the middle of a wide control, which is empty space.
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator =
        box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicator.center());
    Settle();
}

void PanelTest::ClickButton(int id) {
    auto *button = qobject_cast<QPushButton *>(dlg->GetDlgItem(id));
    QTest::mouseClick(button, Qt::LeftButton);
    Settle();
}

void PanelTest::ChooseItem(int listId, int index) {
    // The user's click on the list gives it the focus, as one on its arrow
    // does before the drop-down opens.
    QComboBox *list = List(listId);
    QTest::mouseClick(list->lineEdit(), Qt::LeftButton);
    list->showPopup();
    Settle();
    QAbstractItemView *view = list->view();
    const QRect item = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
    Settle();
}

void PanelTest::TypeInto(int editId, const QString &text) {
    TypeInto(qobject_cast<QLineEdit *>(dlg->GetDlgItem(editId)), text);
}

void PanelTest::TypeInto(QLineEdit *edit, const QString &text) {
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    Settle();
}

QCheckBox *PanelTest::Box(int id) const {
    return qobject_cast<QCheckBox *>(dlg->GetDlgItem(id));
}
QComboBox *PanelTest::List(int id) const {
    return qobject_cast<QComboBox *>(dlg->GetDlgItem(id));
}
QSlider *PanelTest::Slider(int id) const {
    return qobject_cast<QSlider *>(dlg->GetDlgItem(id));
}
QString PanelTest::Text(int id) const {
    return dlg->GetDlgItemText(id);
}
bool PanelTest::Checked(int id) const {
    return Box(id)->isChecked();
}

void PanelTest::DragSlider(int id, int value) {
    QSlider *slider = Slider(id);
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    QStyle *style = slider->style();
    const QRect handle =
        style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
    const QRect groove =
        style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider);
    const int span = groove.width() - handle.width();
    const int targetX =
        groove.x() + handle.width() / 2 +
        QStyle::sliderPositionFromValue(slider->minimum(), slider->maximum(), value, span);
    const QPoint start = handle.center();
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, start);
    Settle();
    for (int step = 1; step <= 4; ++step) {
        QTest::mouseMove(slider, QPoint(start.x() + (targetX - start.x()) * step / 4, start.y()));
        Settle();
    }
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(targetX, start.y()));
    Settle();
    while (slider->value() != value) {
        QTest::keyClick(slider, slider->value() < value ? Qt::Key_Right : Qt::Key_Left);
        Settle();
    }
}

QString PanelTest::Tip() const {
    return dlg->GetDlgItem(IDC_STATUS)->toolTip();
}
