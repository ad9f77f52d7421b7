// SPDX-License-Identifier: MIT
// The built panel on a real X server and the simulated board, driven by
// pointer clicks and key strokes at the places its template gives the
// controls; every check is on the bus trace. A click that lands on the wrong
// control writes the wrong register or byte, or nothing, and fails here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <thread>

#include "panel/register_map.h"
#include "panel_session.h"
#include "res/resource.h"

namespace {

int ScaleFromEnvironment() {
    const char *scale = std::getenv("XQ_E2E_SCALE");
    return scale && *scale ? std::atoi(scale) : 1;
}

int ItemCount(int listId) {
    for (std::size_t i = 0; i < kListCount; ++i) {
        if (kListChoices[i].listId == listId)
            return kListChoices[i].count;
    }
    return 0;
}

struct Toggle {
    int id;
    const char *name;
    uint8_t reg;
    uint8_t value; // the register byte the click writes
};

} // namespace

class PanelE2ETest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_scale = ScaleFromEnvironment();
        char pattern[] = "/tmp/xq-e2e-XXXXXX";
        if (!mkdtemp(pattern)) {
            s_error = "no temporary directory";
            return;
        }
        s_dir = pattern;
        // The panel's folder, where its file dialogs open.
        std::filesystem::current_path(s_dir);
        s_display = std::make_unique<VirtualDisplay>();
        // Room for the panel at the scale asked for.
        if (!s_display->Start(1280 * s_scale, 1024 * s_scale, s_dir + "/xvfb.log", &s_error))
            s_display.reset();
    }

    static void TearDownTestSuite() {
        s_display.reset();
        std::error_code ignored;
        std::filesystem::remove_all(s_dir, ignored);
    }

    void SetUp() override {
        ASSERT_TRUE(s_display) << s_error;
        session = std::make_unique<PanelSession>(*s_display, s_dir);
        ASSERT_TRUE(session->Start(XQ_PANEL_BINARY, s_scale));
        ASSERT_TRUE(session->Expect(StartUpCalls(), "start-up"));
        ASSERT_TRUE(session->Focus());
    }

    void TearDown() override {
        if (HasFailure() && session)
            std::cerr << "panel output:\n" << session->Output();
        session.reset(); // a panel still running is killed
    }

    const DialogLayout &Layout() { return session->Layout(); }

    // Clicks each box in turn; each click must write exactly its byte.
    void ClickBoxes(const std::vector<Toggle> &toggles) {
        for (const Toggle &t : toggles) {
            ASSERT_TRUE(session->Click(Layout().CheckBoxPoint(t.id))) << t.name;
            ASSERT_TRUE(session->Expect({RegisterWrite(t.reg, t.value)}, t.name));
        }
    }

    void ChooseFromList(int id, int index, const std::vector<std::string> &expected,
                        const std::string &what) {
        ASSERT_TRUE(session->Click(Layout().ListArrowPoint(id))) << what;
        ASSERT_TRUE(session->ClickPopupItem(index, ItemCount(id))) << what;
        ASSERT_TRUE(session->Expect(expected, what));
    }

    // Focuses a slider by pressing its handle where it rests; that moves it
    // nowhere and so writes nothing.
    void GrabSlider(int id, bool atMaximum) {
        ASSERT_TRUE(session->Click(Layout().SliderEndPoint(id, atMaximum)));
    }

    void KeyWrites(const std::string &key, uint8_t reg, uint8_t value) {
        ASSERT_TRUE(session->Key(key));
        ASSERT_TRUE(session->Expect({RegisterWrite(reg, value)}, key));
    }

    // A list's edit field, left of its arrow.
    QPoint ListEditPoint(int id) {
        return QPoint(Layout().Rect(id).left() + 4 * s_scale, Layout().ListArrowPoint(id).y());
    }

    void TypeIntoList(int id, const std::string &text) {
        ASSERT_TRUE(session->Click(ListEditPoint(id)));
        ASSERT_TRUE(session->Key("ctrl+a"));
        ASSERT_TRUE(session->Key("BackSpace"));
        ASSERT_TRUE(session->Type(text));
    }

    void TypeInto(int id, const std::string &text) {
        ASSERT_TRUE(session->Click(Layout().CenterPoint(id)));
        ASSERT_TRUE(session->Key("ctrl+a"));
        ASSERT_TRUE(session->Key("BackSpace"));
        if (!text.empty()) {
            ASSERT_TRUE(session->Type(text));
        }
    }

    // Ends the panel and checks that nothing reached the bus beyond what
    // the test has already taken.
    void EndWithEscape() {
        ASSERT_TRUE(session->EscapeEndsWithExitCodeZero());
        EXPECT_EQ(session->Trace().Unread(), std::vector<std::string>());
    }

    static int s_scale;
    static std::string s_dir;
    static std::string s_error;
    static std::unique_ptr<VirtualDisplay> s_display;
    std::unique_ptr<PanelSession> session;
};

int PanelE2ETest::s_scale = 1;
std::string PanelE2ETest::s_dir;
std::string PanelE2ETest::s_error;
std::unique_ptr<VirtualDisplay> PanelE2ETest::s_display;

TEST_F(PanelE2ETest, EscapeRightAfterStartUpEndsWithExitCodeZero) {
    EndWithEscape();
}

TEST_F(PanelE2ETest, ControlBoxesWriteRegister0x00FromItsShadow) {
    ClickBoxes({
        {IDC_LED_A_EN, "LED_A_EN on", 0x00, 0xC4},
        {IDC_LINEAR_A, "Linear A on", 0x00, 0xD4},
        {IDC_LINEAR_B, "Linear B on", 0x00, 0xDC},
        {IDC_LED_B_EN, "LED_B_EN on", 0x00, 0xDE},
        {IDC_LED2_ON_A, "LED2_ON_A on", 0x00, 0xDF},
        // Clearing Sleep also clears bits 6 and 5, which no box shows.
        {IDC_SLEEP, "Sleep off", 0x00, 0x1F},
        {IDC_SLEEP, "Sleep on", 0x00, 0x9F},
        {IDC_LINEAR_A, "Linear A off", 0x00, 0x8F},
    });
    EndWithEscape();
}

TEST_F(PanelE2ETest, ConfigurationBoxesWriteRegister0x01FromItsShadow) {
    ClickBoxes({
        // Clearing a Feedback box also clears bits 7 to 5.
        {IDC_FEEDBACK_B, "Feedback B Enable off", 0x01, 0x08},
        {IDC_FEEDBACK_A, "Feedback A Enable off", 0x01, 0x00},
        {IDC_PWM_ACTIVE_LOW, "PWM active low on", 0x01, 0x04},
        {IDC_PWM_B, "PWM B on", 0x01, 0x06},
        {IDC_PWM_A, "PWM A on", 0x01, 0x07},
        {IDC_FEEDBACK_A, "Feedback A Enable on", 0x01, 0x0F},
        {IDC_FEEDBACK_B, "Feedback B Enable on", 0x01, 0x1F},
    });
    EndWithEscape();
}

TEST_F(PanelE2ETest, BoostListsComposeRegister0x02AndKeepSlowStart) {
    // Slow Start has its text on the left and its box at the right end.
    ClickBoxes({{IDC_SLOW_START, "Slow Start on", 0x02, 0x3C}});
    // OVP "32 V" (code 2) with OCP "1.2 A" (code 3) and Fmode "500 kHz" (0).
    ChooseFromList(IDC_OVP, 2, {RegisterWrite(0x02, 0x5C)}, "OVP 32 V");
    ChooseFromList(IDC_FMODE, 1, {RegisterWrite(0x02, 0x5D)}, "Fmode 1 MHz");
    EndWithEscape();
}

TEST_F(PanelE2ETest, RampListsFillTheirFieldsOfRegisters0x07And0x08) {
    ChooseFromList(IDC_RAMP_ON, 6, {RegisterWrite(0x07, 0x30)}, "On 8 s");
    ChooseFromList(IDC_RAMP_OFF, 1, {RegisterWrite(0x07, 0x31)}, "Off 261 ms");
    ChooseFromList(IDC_RAMP_STOP, 7, {RegisterWrite(0x08, 0x07)}, "Stop 16 s");
    ChooseFromList(IDC_RAMP_START, 2, {RegisterWrite(0x08, 0x17)}, "Start 522 ms");
    EndWithEscape();
}

TEST_F(PanelE2ETest, BrightnessSliderWritesEachNewPositionOnce) {
    GrabSlider(IDC_BRIGHT_A, false);
    ASSERT_TRUE(session->Key("Home")); // already there: nothing to write
    KeyWrites("End", 0x03, 0xFF);
    KeyWrites("Left", 0x03, 0xFE);
    KeyWrites("Left", 0x03, 0xFD);
    KeyWrites("Right", 0x03, 0xFE);
    KeyWrites("Home", 0x03, 0x00);
    EndWithEscape(); // and no repaint on the way wrote a position again
}

TEST_F(PanelE2ETest, MaxCurrentSliderStopsAtItsRangeOf0To31) {
    GrabSlider(IDC_CURRENT_B, true);
    ASSERT_TRUE(session->Key("End")); // already at 31, which start-up sent
    KeyWrites("Home", 0x06, 0x00);
    KeyWrites("Right", 0x06, 0x01);
    KeyWrites("End", 0x06, 0x1F);
    ASSERT_TRUE(session->Key("Right")); // past the end: nothing
    KeyWrites("Left", 0x06, 0x1E);
    EndWithEscape();
}

TEST_F(PanelE2ETest, ManualWriteAndReadGoThroughTheTwoEdits) {
    TypeInto(IDC_REGADDR, "3");
    TypeInto(IDC_DATA, "1ff"); // no byte: nothing is sent
    ASSERT_TRUE(session->Click(Layout().CenterPoint(IDC_WRITE)));
    TypeInto(IDC_DATA, "0xff");
    ASSERT_TRUE(session->Click(Layout().CenterPoint(IDC_WRITE)));
    ASSERT_TRUE(session->Expect({RegisterWrite(0x03, 0xFF)}, "Write"));

    TypeInto(IDC_REGADDR, "0a");
    TypeInto(IDC_DATA, "");
    ASSERT_TRUE(session->Click(Layout().CenterPoint(IDC_READ)));
    ASSERT_TRUE(session->Expect({RegisterRead(0x0A, 0x46)}, "Read"));

    // What the read put into Data goes out with the next Write.
    TypeInto(IDC_REGADDR, "7");
    ASSERT_TRUE(session->Click(Layout().CenterPoint(IDC_WRITE)));
    ASSERT_TRUE(session->Expect({RegisterWrite(0x07, 0x46)}, "Write of the value read"));
    EndWithEscape();
}

TEST_F(PanelE2ETest, SwResetResetsTheChipReadsBackAndZeroesBrightness) {
    GrabSlider(IDC_BRIGHT_A, false);
    KeyWrites("End", 0x03, 0xFF);

    ASSERT_TRUE(session->Click(Layout().CenterPoint(IDC_SW_RESET)));
    std::vector<std::string> expected = {RegisterWrite(0x0F, 0x01)};
    // The readback finds the chip at its reset values. The Bank A
    // brightness slider, moved back to 0, finds 0 already on the chip.
    const std::vector<std::string> readback = ReadbackOfAFreshChip();
    expected.insert(expected.end(), readback.begin(), readback.end());
    ASSERT_TRUE(session->Expect(expected, "SW Reset"));
    // The slider is at 0 again; its End sends 255 again.
    GrabSlider(IDC_BRIGHT_A, false);
    KeyWrites("End", 0x03, 0xFF);
    EndWithEscape();
}

// What a user does without meaning to write the chip: Alt+Space or the Menu
// key for the window's menu with the focus on a button or a box, the wheel brushed over
// a list and a slider, text typed into a list's field that names no choice,
// Enter after typing.
TEST_F(PanelE2ETest, AltSpaceTheWheelAndTypedListTextWriteNothing) {
    // The application's main window: a normal window, transient for none.
    const std::string properties =
        session->WindowProperties({"_NET_WM_WINDOW_TYPE", "WM_TRANSIENT_FOR", "_NET_WM_STATE"});
    EXPECT_NE(properties.find("_NET_WM_WINDOW_TYPE_NORMAL"), std::string::npos) << properties;
    EXPECT_EQ(properties.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << properties;
    EXPECT_NE(properties.find("WM_TRANSIENT_FOR:  not found"), std::string::npos) << properties;
    EXPECT_EQ(properties.find("_NET_WM_STATE_MODAL"), std::string::npos) << properties;

    // Alt+Space with the focus on Exit (where it starts), on SW Reset and on
    // Linear A: the menu opens, Escape closes it, and nothing is pressed.
    const QPoint empty(2, 2); // left of the logo: no control there
    const std::vector<QPoint> focusOn = {QPoint(), Layout().CenterPoint(IDC_SW_RESET),
                                         Layout().CheckBoxPoint(IDC_LINEAR_A)};
    for (const QPoint &point : focusOn) {
        if (!point.isNull()) {
            ASSERT_TRUE(session->PressAndSlideOff(point, empty));
        }
        ASSERT_TRUE(session->Key("alt+space"));
        ASSERT_TRUE(session->PopupOpens());
        ASSERT_TRUE(session->Key("Escape"));
    }
    // The Menu key, for desktops whose window manager takes Alt+Space.
    ASSERT_TRUE(session->Key("Menu"));
    ASSERT_TRUE(session->PopupOpens());
    ASSERT_TRUE(session->Key("Escape"));

    // The wheel over a list and a slider that do not have the focus.
    ASSERT_TRUE(session->Wheel(ListEditPoint(IDC_OCP), 1));
    ASSERT_TRUE(session->Wheel(Layout().SliderEndPoint(IDC_CURRENT_B, true), -1));

    // Typed text in a list counts when the focus leaves it: a prefix is no
    // choice and is put back; a choice in another case is chosen and written.
    TypeIntoList(IDC_FMODE, "1");
    ASSERT_TRUE(session->Key("Tab"));
    TypeIntoList(IDC_OVP, "16 v");
    ASSERT_TRUE(session->Key("Tab"));
    ASSERT_TRUE(session->Expect({RegisterWrite(0x02, 0x18)}, "OVP typed as 16 v"));

    // With the focus, the wheel moves the slider: one notch, three steps.
    GrabSlider(IDC_CURRENT_B, true);
    ASSERT_TRUE(session->Wheel(Layout().SliderEndPoint(IDC_CURRENT_B, true), -1));
    ASSERT_TRUE(session->Expect({RegisterWrite(0x06, 0x1C)}, "the wheel on the focused slider"));

    // Enter after typing in a list ends the panel, writing nothing.
    TypeIntoList(IDC_RAMP_ON, "2");
    ASSERT_TRUE(session->KeyEndsWithExitCodeZero("Return"));
    EXPECT_EQ(session->Trace().Unread(), std::vector<std::string>());
}

// The Interrupt Status boxes show what was read and nothing else: a click
// or Space changes nothing they show. And Save adds ".txt" to a name typed
// without one.
TEST_F(PanelE2ETest, InterruptStatusOnlyShowsAndSaveAddsItsSuffix) {
    ScreenReader reader(*s_display);
    const QRect flags = Layout()
                            .Rect(IDC_FLAG_OCP)
                            .united(Layout().Rect(IDC_FLAG_OVP))
                            .united(Layout().Rect(IDC_FLAG_TSD));
    const QRect data = Layout().Rect(IDC_DATA);
    TypeInto(IDC_REGADDR, "9");
    const QImage before = session->Grab(flags);
    const QImage dataBefore = session->Grab(data);
    ASSERT_FALSE(before.isNull());
    ASSERT_TRUE(session->Click(Layout().CheckBoxPoint(IDC_FLAG_OCP)));
    ASSERT_TRUE(session->Click(Layout().CheckBoxPoint(IDC_FLAG_OVP)));
    ASSERT_TRUE(session->Key("space"));
    ASSERT_TRUE(session->Click(Layout().CheckBoxPoint(IDC_FLAG_TSD)));
    // Once the Read is on the bus, the clicks and the key have been handled.
    ASSERT_TRUE(session->Click(Layout().CenterPoint(IDC_READ)));
    ASSERT_TRUE(session->Expect({RegisterRead(0x09, 0x00)}, "Read of 0x09"));
    // The value read shows in Data no earlier than what the clicks changed.
    ASSERT_TRUE(session->ShowsOtherThan(data, dataBefore)) << "Data after the Read";
    EXPECT_TRUE(session->Grab(flags) == before) << "a box changed what it shows";

    // The window's menu by a right-click on the logo, Save, a name.
    const std::string saved = s_dir + "/bench-setup";
    std::filesystem::remove(saved + ".txt");
    ASSERT_TRUE(session->RightClick(QPoint(20 * s_scale, 20 * s_scale)));
    ASSERT_TRUE(session->PopupOpens());
    ASSERT_TRUE(session->Key("s"));
    ASSERT_TRUE(session->WindowOpens("Save Registers"));
    // The name alone: the dialog opens in the panel's folder, where no name
    // starts with "b". A whole path would show the completer's list of the
    // folder, which on a slow machine can come up after the last key and
    // take the Return.
    ASSERT_TRUE(session->Type("bench-setup"));
    ASSERT_TRUE(session->Key("Return"));
    for (int i = 0; i < 100 && !std::filesystem::exists(saved + ".txt"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(saved + ".txt"));
    EXPECT_FALSE(std::filesystem::exists(saved));
    EndWithEscape();
}

// A session recorded with Record... (a box, a list, a slider step, SW
// Reset) replays on another board with the writes the panel made, in order.
TEST_F(PanelE2ETest, RecordedSessionReplaysItsWritesOnAnotherBoard) {
    const std::string script = s_dir + "/session.sh";
    std::filesystem::remove(script);
    ASSERT_TRUE(session->RightClick(QPoint(20 * s_scale, 20 * s_scale)));
    ASSERT_TRUE(session->PopupOpens());
    ASSERT_TRUE(session->Key("o"));
    ASSERT_TRUE(session->WindowOpens("Record"));
    ASSERT_TRUE(session->Type("session.sh")); // the first form: xq4620 commands
    ASSERT_TRUE(session->Key("Return"));
    for (int i = 0; i < 100 && !std::filesystem::exists(script); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(std::filesystem::exists(script));
    const size_t recordedFrom = session->Trace().Lines().size();

    ClickBoxes({{IDC_LED_A_EN, "LED_A_EN on", 0x00, 0xC4}});
    ChooseFromList(IDC_OVP, 2, {RegisterWrite(0x02, 0x58)}, "OVP 32 V");
    GrabSlider(IDC_BRIGHT_A, false);
    KeyWrites("End", 0x03, 0xFF);
    ASSERT_TRUE(session->Click(Layout().CenterPoint(IDC_SW_RESET)));
    std::vector<std::string> reset = {RegisterWrite(0x0F, 0x01)};
    const std::vector<std::string> readback = ReadbackOfAFreshChip();
    reset.insert(reset.end(), readback.begin(), readback.end());
    ASSERT_TRUE(session->Expect(reset, "SW Reset"));

    ASSERT_TRUE(session->RightClick(QPoint(20 * s_scale, 20 * s_scale)));
    ASSERT_TRUE(session->PopupOpens());
    ASSERT_TRUE(session->Key("t")); // Stop Recording
    const auto has = [&](const std::string &text) {
        std::ifstream in(script);
        const std::string all((std::istreambuf_iterator<char>(in)), {});
        return all.find(text) != std::string::npos;
    };
    for (int i = 0; i < 100 && !has("write 0x0F 0x01"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EndWithEscape();

    const auto writes = [](const std::vector<std::string> &lines, size_t from) {
        const std::regex write(
            R"(^vtxI2C_RegisterWrite\(\d+, (0x36, 0x[0-9A-F]{2}, 0x[0-9A-F]{2})\) = 0$)");
        std::vector<std::string> out;
        std::smatch m;
        for (size_t i = from; i < lines.size(); ++i) {
            if (std::regex_match(lines[i], m, write))
                out.push_back(m[1]);
        }
        return out;
    };
    const std::vector<std::string> recorded = writes(session->Trace().Lines(), recordedFrom);
    ASSERT_EQ(recorded.size(), 4u);

    const std::string bin = s_dir + "/bin", replayTrace = s_dir + "/replay.trace";
    std::filesystem::create_directories(bin);
    std::filesystem::remove(bin + "/xq4620");
    std::filesystem::create_symlink(XQ4620_BINARY, bin + "/xq4620");
    std::filesystem::remove(replayTrace);
    const CommandResult replay =
        RunCommand({"sh", script, "--adapter", "sim:replay"},
                   Environment::Current()
                       .With("VTX_ADAPTER", "bogus")
                       .With("VTX_TRACE", replayTrace)
                       .With("XDG_RUNTIME_DIR", s_dir)
                       .With("PATH", bin + ":" + Environment::Current().Get("PATH").value_or("")),
                   Millis(60000));
    ASSERT_TRUE(replay.Succeeded()) << replay.Describe({"sh", script});
    std::ifstream in(replayTrace);
    std::vector<std::string> replayed;
    for (std::string line; std::getline(in, line);)
        replayed.push_back(line);
    EXPECT_EQ(writes(replayed, 0), recorded);
}
