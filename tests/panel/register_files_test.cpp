// SPDX-License-Identifier: MIT
// Save Registers and Load Registers, driven through the keys and the file
// dialog on the shown window, checked on the bus trace, the shadows, the
// controls and the chip.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "panel/register_map.h"
#include "panel_fixture.h"
#include "res/resource.h"
#include "vtx/sim.h"
#include "vtx/vtx_testing.h"

namespace {

using Writes_ = std::vector<std::string>;

// Answers the modal windows the panel opens: the file dialog with `path`; a
// message box is read and closed.
class ModalDriver : public QObject {
public:
    explicit ModalDriver(QString path) : m_path(std::move(path)) {
        connect(&m_timer, &QTimer::timeout, this, &ModalDriver::Poll);
        m_timer.start(10);
    }
    QString message;
    bool sawFileDialog = false;
    QStringList filters; // what the file dialog offered

private:
    void Poll() {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *files = qobject_cast<QFileDialog *>(modal)) {
            if (sawFileDialog) {
                // Still open: it did not take the name; the user cancels.
                QMetaObject::invokeMethod(files, "reject", Qt::QueuedConnection);
                return;
            }
            sawFileDialog = true;
            filters = files->nameFilters();
            // The dialog is Qt's own; what it does with a typed name is not
            // the panel's business.
            const QFileInfo file(m_path);
            files->setDirectory(file.absolutePath());
            files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(file.fileName());
            // Queued: a message box the dialog opens must find this driver free.
            QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            message = box->text();
            QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
        }
    }
    QString m_path;
    QTimer m_timer;
};

class RegisterFiles : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        char pattern[] = "/tmp/panel-regfile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        StartPanel();
        ClearCalls();
    }
    void TearDown() override {
        std::system(("rm -rf '" + dir.toStdString() + "'").c_str());
        PanelTest::TearDown();
    }

    // The user's key, then the file dialog answered with `name` in `dir`.
    QString Press(Qt::Key key, const QString &name) {
        ModalDriver driver(dir + QLatin1Char('/') + name);
        // A key reaches the window's shortcuts only while it is active.
        dlg->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
        QTest::keyClick(dlg.get(), key, Qt::ControlModifier);
        Settle();
        EXPECT_TRUE(driver.sawFileDialog);
        filters = driver.filters;
        return driver.message;
    }
    void WriteFile(const QString &name, const std::string &text) {
        std::ofstream((dir + QLatin1Char('/') + name).toStdString()) << text;
    }
    std::string ReadFile(const QString &name) {
        std::ifstream in((dir + QLatin1Char('/') + name).toStdString());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<int> Shadows() const { return {std::begin(g_shadow), std::end(g_shadow)}; }

    QString dir;
    QStringList filters; // of the last file dialog
};

// Every register of the set-up away from its reset value; 0x00 keeps bit 6,
// which the chip sets at reset and no box shows.
const char kSetUp[] = "# a bench set-up\n"
                      "0x08 0x2F\n0x07 0x1A\n0x06 0x05\n0x05 0x10\n0x04 0xC8\n"
                      "0x03 0x80\n0x02 0x6E\n0x01 0x15\n0x00 0x55\n";
const int kSetUpValues[] = {0x55, 0x15, 0x6E, 0x80, 0xC8, 0x10, 0x05, 0x1A, 0x2F};

TEST_F(RegisterFiles, LoadBringsControlsShadowsAndChipToTheFile) {
    WriteFile("bench.txt", kSetUp);
    EXPECT_EQ(Press(Qt::Key_O, "bench.txt"), QString());
    // One write a register in address order, then the readback.
    EXPECT_EQ(Writes(), (Writes_{"0x00=0x55", "0x01=0x15", "0x02=0x6E", "0x03=0x80", "0x04=0xC8",
                                 "0x05=0x10", "0x06=0x05", "0x07=0x1A", "0x08=0x2F"}));
    Writes_ reads(calls.begin() + 9, calls.end());
    EXPECT_EQ(reads.size(), 13u);
    EXPECT_EQ(calls.size(), 22u);
    EXPECT_EQ(Shadows(), std::vector<int>(std::begin(kSetUpValues), std::end(kSetUpValues)));
    for (int reg = 0; reg < 9; ++reg)
        EXPECT_EQ(vtx::sim::chipRegister(reg), kSetUpValues[reg]) << reg;

    // 0x00 0x55: Linear A, LED_A_EN, LED2_ON_A; 0x01 0x15: Feedback B, PWM
    // active low, PWM A; 0x02 0x6E: 40 V, 800 mA, Slow Start, 450 kHz.
    const std::pair<int, bool> boxes[] = {
        {IDC_SLEEP, false},     {IDC_LINEAR_A, true},    {IDC_LINEAR_B, false},
        {IDC_LED_A_EN, true},   {IDC_LED_B_EN, false},   {IDC_LED2_ON_A, true},
        {IDC_FEEDBACK_B, true}, {IDC_FEEDBACK_A, false}, {IDC_PWM_ACTIVE_LOW, true},
        {IDC_PWM_B, false},     {IDC_PWM_A, true},       {IDC_SLOW_START, true},
    };
    for (const auto &[id, checked] : boxes)
        EXPECT_EQ(Checked(id), checked) << id;
    const std::pair<int, const char *> lists[] = {
        {IDC_OVP, "40 V"},       {IDC_OCP, "800 mA"},      {IDC_FMODE, "450 kHz"},
        {IDC_RAMP_ON, "1 s"},    {IDC_RAMP_OFF, "522 ms"}, {IDC_RAMP_START, "4 s"},
        {IDC_RAMP_STOP, "16 s"},
    };
    for (const auto &[id, text] : lists)
        EXPECT_EQ(List(id)->currentText(), QString::fromUtf8(text)) << id;
    EXPECT_EQ(Slider(IDC_BRIGHT_A)->value(), 0x80);
    EXPECT_EQ(Slider(IDC_BRIGHT_B)->value(), 0xC8);
    EXPECT_EQ(Slider(IDC_CURRENT_A)->value(), 0x10);
    EXPECT_EQ(Slider(IDC_CURRENT_B)->value(), 0x05);
    EXPECT_EQ(Text(IDC_REG02), QStringLiteral("6E"));
    EXPECT_EQ(Text(IDC_REG04), QStringLiteral("C8"));
    // The readback's "Readback Complete", then the moved Bank A slider's "Ready".
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Ready"));

    // The sliders' repaints find their positions sent already.
    ClearCalls();
    for (int id : {IDC_BRIGHT_A, IDC_BRIGHT_B, IDC_CURRENT_A, IDC_CURRENT_B})
        Slider(id)->repaint();
    Settle();
    EXPECT_TRUE(Writes().empty()) << Writes().front();
    // And the next change composes from the file: Linear B into 0x55.
    ClickBox(IDC_LINEAR_B);
    EXPECT_EQ(Writes(), Writes_{"0x00=0x5D"});
}

TEST_F(RegisterFiles, ARefusedFileWritesNothingAndNamesItsLines) {
    struct Row {
        const char *text;
        const char *problem;
    };
    const Row rows[] = {
        {"0x03 0x80\n0x09 0x01\n", "line 2: register 0x09 (Interrupt Status) is read-only"},
        {"0x03 0x80\n0x03 0x81\n",
         "line 2: register 0x03 (Brightness, Bank A) is already set on line 1"},
        {"0x00 0xE0\n", "line 1: register 0x00 (Control): bit 5 is set, and no control shows it"},
        {"0x01 0x98\n",
         "line 1: register 0x01 (Configuration): bit 7 is set, and no control shows it"},
        {"0x07 0x40\n", "line 1: register 0x07 (Ramp Times, On and Off): bit 6 is set, and no "
                        "control shows it"},
        {"", "the file sets no register"},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        const QString name = QStringLiteral("bad%1.txt").arg(++n);
        WriteFile(name, row.text);
        const QString message = Press(Qt::Key_O, name);
        EXPECT_TRUE(message.contains(QString::fromUtf8(row.problem)))
            << "[" << message.toStdString() << "]";
        EXPECT_TRUE(calls.empty()) << calls.front();
        EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Invalid File"));
        EXPECT_EQ(Shadows(), (std::vector<int>{0xC0, 0x18, 0x38, 0, 0, 0x1F, 0x1F, 0, 0}));
        EXPECT_EQ(Slider(IDC_CURRENT_A)->value(), 31);
    }
    ClearCalls();
    Press(Qt::Key_O, "missing.txt"); // the dialog wants a file that is there
    EXPECT_TRUE(calls.empty());
}

// A register the chip refuses keeps what the panel showed for it; a message
// names what the file reached and what it did not.
TEST_F(RegisterFiles, APartlyFailedLoadMovesOnlyWhatTheChipTook) {
    WriteFile("bench.txt", kSetUp);
    // The write of 0x03 fails, and only that one.
    vtx::test::setTraceSink([this](const std::string &line) {
        calls.push_back(line);
        if (line.rfind("vtxI2C_RegisterWrite(1, 0x36, 0x02", 0) == 0)
            vtx::test::forceResult(vtx::test::Call::I2C_RegisterWrite, -EIO);
        else if (line.rfind("vtxI2C_RegisterWrite(1, 0x36, 0x03", 0) == 0)
            vtx::test::clearForcedResult(vtx::test::Call::I2C_RegisterWrite);
    });
    const QString message = Press(Qt::Key_O, "bench.txt");
    EXPECT_EQ(Writes(), (Writes_{"0x00=0x55", "0x01=0x15", "0x02=0x6E", "0x03=0x80", "0x04=0xC8",
                                 "0x05=0x10", "0x06=0x05", "0x07=0x1A", "0x08=0x2F"}));
    EXPECT_TRUE(message.endsWith(
        "bench.txt: loaded in part: 0x00 to 0x02 and 0x04 to 0x08 hold the file's values; 0x03 "
        "does not"))
        << message.toStdString();
    EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Write Error"));
    EXPECT_EQ(Slider(IDC_BRIGHT_A)->value(), 0) << "the slider of the refused register stays";
    EXPECT_EQ(g_shadow[0x03], 0x00);
    EXPECT_EQ(Slider(IDC_BRIGHT_B)->value(), 0xC8);
    EXPECT_EQ(List(IDC_OVP)->currentText(), QStringLiteral("40 V"));
    EXPECT_EQ(vtx::sim::chipRegister(0x03), 0x00);
    EXPECT_EQ(vtx::sim::chipRegister(0x04), 0xC8);
    EXPECT_EQ(Text(IDC_REG03), QStringLiteral("00")) << "what the chip holds";

    // Nothing goes out later on its own.
    ClearCalls();
    for (int id : {IDC_BRIGHT_A, IDC_BRIGHT_B, IDC_CURRENT_A, IDC_CURRENT_B})
        Slider(id)->repaint();
    Settle();
    EXPECT_TRUE(calls.empty());
}

// Max Current is bits 4-0: bits 7-5 of a file load as they are, the slider
// shows the field, and its next move keeps them.
TEST_F(RegisterFiles, MaxCurrentLoadsWithItsUpperBitsAndTheSliderKeepsThem) {
    WriteFile("current.txt", "0x05 0xE5\n0x06 0xFF\n");
    EXPECT_EQ(Press(Qt::Key_O, "current.txt"), QString());
    EXPECT_EQ(Writes(), (Writes_{"0x05=0xE5", "0x06=0xFF"}));
    EXPECT_EQ(Slider(IDC_CURRENT_A)->value(), 5);
    EXPECT_EQ(Slider(IDC_CURRENT_B)->value(), 31);
    EXPECT_EQ(Text(IDC_REG05), QStringLiteral("E5"));
    ClearCalls();
    Slider(IDC_CURRENT_A)->setFocus();
    QTest::keyClick(Slider(IDC_CURRENT_A), Qt::Key_Left);
    Settle();
    EXPECT_EQ(Writes(), Writes_{"0x05=0xE4"});
    EXPECT_EQ(Text(IDC_REG05), QStringLiteral("E4"));
    EXPECT_EQ(vtx::sim::chipRegister(0x05), 0xE4);
}

// Save, restart the panel, load: the same controls and the same chip.
TEST_F(RegisterFiles, SaveThenLoadAfterARestartGivesTheSameSetUp) {
    ClickBox(IDC_LED_A_EN);
    ChooseItem(IDC_OVP, 2); // 32 V
    ChooseItem(IDC_RAMP_ON, 6);
    DragSlider(IDC_BRIGHT_B, 100);
    ClearCalls();
    EXPECT_EQ(Press(Qt::Key_S, "saved.txt"), QString());
    const QStringList offered = {"Register files (*.txt)", "All files (*)"};
    EXPECT_EQ(filters, offered);
    EXPECT_TRUE(calls.empty()) << "saving writes the shadows, it reads nothing";
    const std::string text = ReadFile("saved.txt");
    EXPECT_EQ(text.rfind("# XQ4620 register file written by xq4620-panel 1.0.0\n", 0), 0u) << text;
    EXPECT_NE(text.find("\n0x00 0xC4  # Control: sleep, led-a-en\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n0x02 0x58  # Boost Control: ovp=32 V, ocp=1.2 A, fmode=500 kHz\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n0x04 0x64  # Brightness, Bank B: brightness-b=100\n"), std::string::npos)
        << text;
    const std::vector<int> saved = Shadows();

    dlg.reset();
    ResetProcessState();
    vtx::test::setTraceSink([this](const std::string &line) { calls.push_back(line); });
    StartPanel();
    Press(Qt::Key_O, "saved.txt");
    EXPECT_EQ(filters, offered);
    EXPECT_EQ(Shadows(), saved);
    for (int reg = 0; reg < 9; ++reg)
        EXPECT_EQ(vtx::sim::chipRegister(reg), saved[reg]) << reg;
    EXPECT_TRUE(Checked(IDC_LED_A_EN));
    EXPECT_EQ(List(IDC_OVP)->currentText(), QStringLiteral("32 V"));
    EXPECT_EQ(List(IDC_RAMP_ON)->currentText(), QStringLiteral("8 s"));
    EXPECT_EQ(Slider(IDC_BRIGHT_B)->value(), 100);
}

} // namespace
