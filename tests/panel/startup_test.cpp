// SPDX-License-Identifier: MIT
// Panel start-up on the simulated board, the readback, and a missing adapter.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "link/link.h"
#include "panel/choose_adapter_dlg.h"
#include "panel/register_map.h"
#include "panel/version_line.h"
#include "panel_fixture.h"
#include "res/resource.h"
#include "vtx/sim.h"
#include "vtx/vtx_testing.h"

using vtx::test::Call;

namespace {

const int32_t kDefaultShadows[] = {0xC0, 0x18, 0x38, 0x00, 0x00, 0x1F, 0x1F, 0x00, 0x00};

} // namespace

TEST_F(PanelTest, StartupOpensTheAdapterThenReadsEveryRegisterInOrder) {
    dlg = std::make_unique<CEvalDlg>();
    dlg->Create(); // hidden: no slider has painted yet
    std::vector<std::string> expected = sim_session::kSetUpCalls;
    expected.insert(expected.end(), sim_session::kFreshReadback.begin(),
                    sim_session::kFreshReadback.end());
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(Text(IDC_VERSION), QStringLiteral("Version: USB RFW:2.5; FFW:1.3"));
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Readback Complete"));
    EXPECT_EQ(Text(IDC_REG0A), QStringLiteral("46"));
    EXPECT_EQ(Text(IDC_REG12), QStringLiteral("01"));
    for (int32_t last : g_lastSent)
        EXPECT_EQ(last, 0);

    // Lists and sliders at their start values.
    EXPECT_EQ(List(IDC_FMODE)->currentIndex(), 0);
    EXPECT_EQ(List(IDC_OVP)->currentIndex(), 1);
    EXPECT_EQ(List(IDC_OCP)->currentIndex(), 3);
    for (int id : {IDC_RAMP_OFF, IDC_RAMP_STOP, IDC_RAMP_ON, IDC_RAMP_START})
        EXPECT_EQ(List(id)->currentIndex(), 0);
    EXPECT_EQ(Slider(IDC_BRIGHT_A)->maximum(), 255);
    EXPECT_EQ(Slider(IDC_BRIGHT_B)->value(), 0);
    EXPECT_EQ(Slider(IDC_CURRENT_A)->maximum(), 31);
    EXPECT_EQ(Slider(IDC_CURRENT_B)->value(), 31);
}

TEST_F(PanelTest, ShadowsStartAtTheirDefaultsBesideTheControlByteTheBoxesShow) {
    // A chip left in another state by an earlier session: the readback shows
    // it; the Control boxes decode it, and the shadow of 0x00 takes it with
    // them, so the first click composes from what the boxes show.
    vtx::test::forceResult(Call::I2C_RegisterRead, 0x5A);
    StartPanel();
    vtx::test::clearForcedResult(Call::I2C_RegisterRead);
    EXPECT_EQ(Text(IDC_REG00), QStringLiteral("5A"));
    EXPECT_EQ(Text(IDC_REG07), QStringLiteral("5A"));
    EXPECT_EQ(g_shadow[0x00], 0x5A);
    for (std::size_t reg = 1; reg < kShadowCount; ++reg) {
        if (reg >= 0x03 && reg <= 0x06)
            continue; // the sliders' first paint sets these from their positions
        EXPECT_EQ(g_shadow[reg], kDefaultShadows[reg]) << "register " << reg;
    }
    ClearCalls();
    ClickButton(IDC_SLEEP_BUTTON);
    EXPECT_EQ(Writes(), (std::vector<std::string>{"0x00=0xDA"}));
}

TEST_F(PanelTest, ReadbackDecodesControlAndInterruptStatusOnly) {
    StartPanel();
    ClickBox(IDC_PWM_A); // a Configuration box the readback must not touch
    vtx::sim::setChipRegister(0x00, 0x95);
    vtx::sim::setChipRegister(0x01, 0x00);
    vtx::sim::raiseInterrupt(vtx::sim::kOcp | vtx::sim::kTsd);
    List(IDC_RAMP_ON)->setCurrentIndex(6);
    const int32_t shadow01 = g_shadow[0x01];
    ClickButton(IDC_READBACK_ALL);

    EXPECT_TRUE(Checked(IDC_SLEEP));
    EXPECT_TRUE(Checked(IDC_LINEAR_A));
    EXPECT_FALSE(Checked(IDC_LINEAR_B));
    EXPECT_TRUE(Checked(IDC_LED_A_EN));
    EXPECT_FALSE(Checked(IDC_LED_B_EN));
    EXPECT_TRUE(Checked(IDC_LED2_ON_A));
    EXPECT_TRUE(Checked(IDC_FLAG_OCP));
    EXPECT_FALSE(Checked(IDC_FLAG_OVP));
    EXPECT_TRUE(Checked(IDC_FLAG_TSD));
    EXPECT_EQ(Text(IDC_REG01), QStringLiteral("00"));
    EXPECT_TRUE(Checked(IDC_PWM_A));
    EXPECT_TRUE(Checked(IDC_FEEDBACK_A));
    EXPECT_EQ(List(IDC_RAMP_ON)->currentIndex(), 6);
    EXPECT_EQ(g_shadow[0x00], 0x95);
    EXPECT_EQ(g_shadow[0x01], shadow01);
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Readback Complete"));

    // The next click composes from the byte the boxes show.
    ClearCalls();
    ClickBox(IDC_LED_B_EN);
    EXPECT_EQ(Writes(), (std::vector<std::string>{"0x00=0x97"}));

    // A read of 0x00 that failed moves neither the boxes nor the shadow.
    vtx::sim::setChipRegister(0x00, 0x00);
    vtx::test::forceResult(Call::I2C_RegisterRead, -5);
    ClickButton(IDC_READBACK_ALL);
    vtx::test::clearForcedResult(Call::I2C_RegisterRead);
    EXPECT_EQ(Text(IDC_REG00), QStringLiteral("--"));
    EXPECT_TRUE(Checked(IDC_LED_B_EN));
    EXPECT_EQ(g_shadow[0x00], 0x97);
}

// A fault raised on a shared board, as `xq4620 simulate` raises it from
// another program, is the board's: the panel's readback shows it.
TEST_F(PanelTest, ReadbackShowsTheFaultsOfASharedBoard) {
    char dir[] = "/tmp/xq4620-panel-faults-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string runtime = qEnvironmentVariable("XDG_RUNTIME_DIR").toStdString();
    qputenv("XDG_RUNTIME_DIR", dir);
    qputenv("VTX_ADAPTER", "sim:faults");
    ResetProcessState();
    StartPanel();
    EXPECT_EQ(vtx::sim::setFaultFlags(vtx::sim::kOvp | vtx::sim::kTsd, 0), 0);
    ClickButton(IDC_READBACK_ALL);
    EXPECT_FALSE(Checked(IDC_FLAG_OCP));
    EXPECT_TRUE(Checked(IDC_FLAG_OVP));
    EXPECT_TRUE(Checked(IDC_FLAG_TSD));
    EXPECT_EQ(Text(IDC_REG09), QStringLiteral("03"));

    dlg.reset();
    qputenv("VTX_ADAPTER", "sim");
    qputenv("XDG_RUNTIME_DIR", runtime.c_str());
    ResetProcessState();
    std::filesystem::remove_all(dir);
}

TEST(VersionLine, EachFirmwareNibblePrintsInDecimal) {
    EXPECT_EQ(VersionLine(0x25, 0x13), QStringLiteral("Version: USB RFW:2.5; FFW:1.3"));
    EXPECT_EQ(VersionLine(0xAB, 0x00), QStringLiteral("Version: USB RFW:10.11; FFW:0.0"));
}

TEST_F(PanelTest, TheContextMenuEndsWithTheAboutEntry) {
    StartPanel();
    const QList<QAction *> actions = dlg->GetSystemMenu()->actions();
    ASSERT_EQ(actions.size(), 12);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("&Save Registers..."));
    EXPECT_EQ(actions[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("&Load Registers..."));
    EXPECT_EQ(actions[1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(actions[2]->text(), QStringLiteral("&Export Registers..."));
    EXPECT_EQ(actions[3]->text(), QStringLiteral("Rec&ord..."));
    EXPECT_EQ(actions[4]->text(), QStringLiteral("S&top Recording"));
    EXPECT_FALSE(actions[4]->isEnabled()); // until a recording runs
    EXPECT_EQ(actions[5]->text(), QStringLiteral("&Diagnose Adapter..."));
    EXPECT_EQ(actions[6]->text(), QStringLiteral("C&hoose Adapter..."));
    EXPECT_EQ(actions[7]->text(), QStringLiteral("&Reconnect Adapter"));
    EXPECT_EQ(actions[8]->text(), QStringLiteral("&Board Supply"));
    EXPECT_TRUE(actions[8]->isCheckable());
    EXPECT_EQ(actions[9]->text(), QStringLiteral("&Close"));
    EXPECT_TRUE(actions[10]->isSeparator());
    EXPECT_EQ(actions[11]->text(), QStringLiteral("&About XQ4620..."));
    EXPECT_EQ(actions[11]->data().toInt(), IDM_ABOUTBOX);
}

// A named adapter, or a single bridge, opens as it always did: nobody is
// asked.
TEST_F(PanelTest, TheChooserAsksOnlyWhenSeveralBridgesAndNoneIsNamed) {
    for (const char *setting : {"sim", static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(setting ? setting : "unset");
        SetAdapterSetting(setting);
        std::vector<vtx::AdapterListing> buses = TwoBridges();
        if (!setting)
            buses.erase(buses.begin() + 1); // one bridge left
        SetAdapterLister([buses] { return buses; });
        bool asked = false;
        OnNextModal([&asked](QDialog *chooser) {
            asked = true;
            chooser->reject();
        });
        dlg = std::make_unique<CEvalDlg>();
        dlg->Create();
        EXPECT_FALSE(asked);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls[0].rfind("vtxFindControllers() = ", 0), 0u) << calls[0];
    }
}

TEST_F(PanelTest, SeveralBridgesAreChosenFromWithTheKeyboardBeforeAnythingIsSent) {
    SetAdapterSetting(nullptr);
    SetAdapterLister(TwoBridges);
    QStringList rows;
    bool firstRowSelected = false;
    OnNextModal([&](QDialog *chooser) {
        auto *list = chooser->findChild<QTreeWidget *>();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *row = list->topLevelItem(i);
            rows << QStringList{row->text(0), row->text(1), row->text(2), row->text(3)}.join('|');
        }
        firstRowSelected =
            list->currentItem() == list->topLevelItem(0) && chooser->focusWidget() == list;
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
    });
    dlg = std::make_unique<CEvalDlg>();
    dlg->Create();
    EXPECT_EQ(rows, (QStringList{"MCP2221|A1|1-2|i2c-7", "CP2112|(none)|1-3.1|i2c-8"}));
    EXPECT_TRUE(firstRowSelected);
    std::vector<std::string> expected = {"vtxSelectAdapter(\"sim\") = 0"};
    expected.insert(expected.end(), sim_session::kSetUpCalls.begin(),
                    sim_session::kSetUpCalls.end());
    expected.insert(expected.end(), sim_session::kFreshReadback.begin(),
                    sim_session::kFreshReadback.end());
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(dlg->GetDlgItem(IDC_VERSION)->toolTip(), QStringLiteral("Adapter sim"));
}

TEST_F(PanelTest, CancellingTheChooserStartsThePanelWithoutAnAdapter) {
    SetAdapterSetting(nullptr);
    SetAdapterLister(TwoBridges);
    OnNextModal([](QDialog *chooser) { QTest::keyClick(chooser->focusWidget(), Qt::Key_Escape); });
    StartPanel();
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("USB Initialization Error"));
    EXPECT_EQ(Tip(), QStringLiteral("no adapter chosen of the 2 USB-to-I2C bridges (usb:A1, sim): "
                                    "choose one with Choose Adapter... in the context menu"));
    // The readback and the sliders' first writes went to no adapter at all.
    ASSERT_FALSE(calls.empty());
    for (const std::string &line : calls)
        EXPECT_NE(line.find("(0, 0x36, "), std::string::npos) << line;
}

// Without a working adapter the panel still opens, says so, and keeps
// saying so; a register it could not read shows "--".
class NoAdapter : public PanelTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(NoAdapter, PanelOpensAndTheErrorStays) {
    const std::string how = GetParam();
    // The status line's tooltip: why, in the library's words.
    QString why = QStringLiteral("no adapter found");
    if (how == "no controller") {
        vtx::test::forceResult(Call::FindControllers, 0);
    } else if (how == "version read fails") {
        vtx::test::forceResult(Call::FirmwareVersion_Read, -5);
        why = QStringLiteral("the transfer failed (I/O error): check the wiring, the address and "
                             "that the board is powered");
    } else if (how == "unplugged") {
        vtx::sim::unplug();
    } else if (how == "power fails") {
        vtx::test::forceResult(Call::Power_WriteControl, -ESHUTDOWN);
        why = QStringLiteral("the adapter was unplugged or shut down: plug it back in and "
                             "restart the program");
    }
    StartPanel();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("USB Initialization Error"));
    EXPECT_EQ(dlg->GetDlgItem(IDC_STATUS)->toolTip(), why);
    EXPECT_EQ(Text(IDC_VERSION), QStringLiteral("Version"));
    for (int id : {IDC_REG00, IDC_REG09, IDC_REG12})
        EXPECT_EQ(Text(id), QStringLiteral("--"));
    // Boxes keep their constructed states when nothing could be read.
    EXPECT_TRUE(Checked(IDC_SLEEP));
    EXPECT_FALSE(Checked(IDC_FLAG_OCP));

    // Actions later on do not pretend otherwise.
    ClickButton(IDC_READBACK_ALL);
    ClickBox(IDC_LED_A_EN);
    ClickButton(IDC_SW_RESET);
    Settle();
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("USB Initialization Error"));
    EXPECT_EQ(dlg->GetDlgItem(IDC_STATUS)->toolTip(), why) << "the start-up's reason stays";
}

INSTANTIATE_TEST_SUITE_P(Panel, NoAdapter,
                         ::testing::Values("no controller", "version read fails", "unplugged",
                                           "power fails"));
