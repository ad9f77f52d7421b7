// The end-to-end harness itself: where it clicks, how it reads the trace,
// what environment the panel gets. These run without an X server.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "dialog_layout.h"
#include "panel_session.h"
#include "res/resource.h"

namespace {

// The window size the panel makes for given font bases, as device pixels.
QSize WindowFor(int baseX, int baseY, int scale) {
    const DialogUnits units{baseX, baseY};
    return QSize(units.x(res::kMainTemplate.width) * scale,
                 units.y(res::kMainTemplate.height) * scale);
}

} // namespace

TEST(DialogLayoutTest, RecoversTheFontBasesFromTheWindowSize) {
    for (int scale : {1, 2}) {
        for (auto [baseX, baseY] : {std::pair{7, 14}, {6, 13}, {8, 17}, {13, 27}}) {
            SCOPED_TRACE(testing::Message() << baseX << "/" << baseY << " at " << scale);
            const QSize size = WindowFor(baseX, baseY, scale);
            const auto layout = DialogLayout::FromWindowSize(res::kMainTemplate, size.width(),
                                                             size.height(), scale);
            ASSERT_TRUE(layout);
            EXPECT_EQ(layout->Units().baseX, baseX);
            EXPECT_EQ(layout->Units().baseY, baseY);
        }
    }
}

TEST(DialogLayoutTest, RefusesAWindowThatNoFontGives) {
    const QSize size = WindowFor(7, 14, 1); // 805 x 635
    const auto fits = [&](int w, int h, int scale) {
        return DialogLayout::FromWindowSize(res::kMainTemplate, w, h, scale).has_value();
    };
    EXPECT_TRUE(fits(size.width(), size.height(), 1));
    EXPECT_FALSE(fits(size.width() + 1, size.height(), 1)); // a frame or a resize
    EXPECT_FALSE(fits(size.width(), size.height() - 1, 1));
    EXPECT_FALSE(fits(size.width(), size.height(), 2)); // odd at scale 2
    EXPECT_FALSE(fits(0, 0, 1));
}

TEST(DialogLayoutTest, ScalesEveryPlaceWithTheDevicePixelRatio) {
    const QSize one = WindowFor(7, 14, 1);
    const QSize two = WindowFor(7, 14, 2);
    const auto a = DialogLayout::FromWindowSize(res::kMainTemplate, one.width(), one.height(), 1);
    const auto b = DialogLayout::FromWindowSize(res::kMainTemplate, two.width(), two.height(), 2);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->Rect(IDC_LINEAR_A),
              QRect(a->Rect(IDC_LINEAR_A).topLeft() * 2, a->Rect(IDC_LINEAR_A).size() * 2));
    EXPECT_EQ(b->CheckBoxPoint(IDC_LINEAR_A), a->CheckBoxPoint(IDC_LINEAR_A) * 2);
    EXPECT_EQ(b->ListArrowPoint(IDC_OVP), a->ListArrowPoint(IDC_OVP) * 2);
}

TEST(DialogLayoutTest, ClicksACheckBoxOnItsIndicatorEnd) {
    const QSize size = WindowFor(7, 14, 1);
    const auto layout =
        DialogLayout::FromWindowSize(res::kMainTemplate, size.width(), size.height());
    ASSERT_TRUE(layout);
    // "Feedback B Enable" at x 20 dlu = 35 px: its indicator is at the left.
    const QRect box = layout->Rect(IDC_FEEDBACK_B);
    EXPECT_EQ(box, QRect(35, 200, 138, 18));
    const QPoint left = layout->CheckBoxPoint(IDC_FEEDBACK_B);
    EXPECT_TRUE(box.contains(left));
    EXPECT_LT(left.x() - box.left(), 8);
    EXPECT_EQ(left.y(), box.center().y() + 1); // the middle row of 18
    // "Slow Start" shows its text on the left and its box at the right.
    const QRect slow = layout->Rect(IDC_SLOW_START);
    const QPoint right = layout->CheckBoxPoint(IDC_SLOW_START);
    EXPECT_TRUE(slow.contains(right));
    EXPECT_LT(slow.right() - right.x(), 8);
}

TEST(DialogLayoutTest, AControlMissingFromTheTemplateHasNoPlace) {
    const QSize size = WindowFor(7, 14, 1);
    const auto layout =
        DialogLayout::FromWindowSize(res::kMainTemplate, size.width(), size.height());
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->Rect(IDC_STATIC - 1).isNull());
    EXPECT_EQ(layout->CenterPoint(9999), QPoint());
    EXPECT_EQ(layout->CheckBoxPoint(9999), QPoint());
}

class TraceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/xq-trace-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path = name;
    }
    void TearDown() override { std::remove(path.c_str()); }
    void Append(const std::string &text) { std::ofstream(path, std::ios::app) << text; }

    std::string path;
};

TEST_F(TraceFileTest, TakesCompleteLinesInOrderAndLeavesAHalfWrittenOne) {
    TraceFile trace(path);
    Append("one\ntwo\nthr");
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(trace.Take(3)); // the third line is not finished
    EXPECT_EQ(trace.Take(1), std::vector<std::string>{"one"});
    Append("ee\n");
    EXPECT_EQ(trace.Unread(), (std::vector<std::string>{"two", "three"}));
    EXPECT_EQ(trace.Take(2), (std::vector<std::string>{"two", "three"}));
    EXPECT_TRUE(trace.Unread().empty());
}

TEST_F(TraceFileTest, AFileNotYetWrittenHasNoLines) {
    TraceFile trace(path + ".none");
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_FALSE(trace.Take(1));
}

TEST(TraceLineTest, FormatsRegisterAccessesAsTheLibraryTracesThem) {
    EXPECT_EQ(RegisterWrite(0x00, 0xC4), "vtxI2C_RegisterWrite(1, 0x36, 0x00, 0xC4) = 0");
    EXPECT_EQ(RegisterRead(0x0A, 0x46), "vtxI2C_RegisterRead(1, 0x36, 0x0A) = 70");
    EXPECT_EQ(StartUpCalls().size(), 7u + 13u + 2u);
}

TEST(EnvironmentTest, DropsByNameOrPrefixAndReplaces) {
    Environment env;
    env.With("VTX_ADAPTER", "/dev/i2c-1").With("VTX_TRACE", "/tmp/x").With("VTXA", "1");
    env.With("QT_QPA_PLATFORM", "offscreen");
    env.Without("VTX_*");
    EXPECT_FALSE(env.Get("VTX_ADAPTER"));
    EXPECT_FALSE(env.Get("VTX_TRACE"));
    EXPECT_EQ(env.Get("VTXA"), "1"); // the prefix is VTX_, underscore included
    env.With("QT_QPA_PLATFORM", "xcb");
    EXPECT_EQ(env.Get("QT_QPA_PLATFORM"), "xcb");
    EXPECT_EQ(env.Entries().size(), 2u);
}

TEST(RunTest, CollectsOutputAndStatusAndKillsAtTheDeadline) {
    const Environment env = Environment::Current();
    const CommandResult echo =
        RunCommand({"sh", "-c", "echo out; echo err >&2; exit 3"}, env, Millis(5000));
    EXPECT_TRUE(echo.started);
    EXPECT_FALSE(echo.Succeeded());
    EXPECT_EQ(echo.out, "out\n");
    EXPECT_EQ(echo.err, "err\n");
    EXPECT_EQ(DescribeStatus(echo.status), "exit 3");

    const CommandResult slow = RunCommand({"sleep", "10"}, env, Millis(100));
    EXPECT_TRUE(slow.timedOut);
    EXPECT_FALSE(slow.Succeeded());

    const CommandResult missing = RunCommand({"/nonexistent/tool"}, env, Millis(1000));
    EXPECT_FALSE(missing.Succeeded());
}
