// SPDX-License-Identifier: MIT
#include "panel_session.h"

#include "tests/support/sim_session.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

// Generous for a loaded CI machine; a passing run never waits this long.
constexpr Millis kTraceTimeout(10000);
constexpr Millis kExitTimeout(10000);
constexpr Millis kWindowTimeout(10000);
constexpr Millis kPoll(10);

std::string Join(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines)
        text += "\n    " + line;
    return lines.empty() ? "\n    (nothing)" : text;
}

// An exact-match pattern for xdotool's --name, which takes a regular
// expression.
std::string AnchoredPattern(const std::string &text) {
    std::string pattern = "^";
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

// Values from `xdotool getwindowgeometry --shell`: WIDTH=805 and so on.
std::optional<int> ShellValue(const std::string &text, const std::string &name) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, name.size() + 1, name + "=") == 0)
            return std::stoi(line.substr(name.size() + 1));
    }
    return std::nullopt;
}

std::string FirstLine(const std::string &text) {
    return text.substr(0, text.find('\n'));
}

} // namespace

std::vector<std::string> TraceFile::Lines() const {
    std::vector<std::string> lines;
    const std::string text = ReadFile(m_path);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::string> TraceFile::Unread() const {
    std::vector<std::string> lines = Lines();
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(m_taken, lines.size())));
    return lines;
}

std::optional<std::vector<std::string>> TraceFile::Take(std::size_t count) {
    std::vector<std::string> lines = Unread();
    if (lines.size() < count)
        return std::nullopt;
    lines.resize(count);
    m_taken += count;
    return lines;
}

std::string RegisterWrite(uint8_t reg, uint8_t value) {
    char line[64];
    std::snprintf(line, sizeof line, "vtxI2C_RegisterWrite(1, 0x36, 0x%02X, 0x%02X) = 0", reg,
                  value);
    return line;
}

std::string RegisterRead(uint8_t reg, uint8_t value) {
    char line[64];
    std::snprintf(line, sizeof line, "vtxI2C_RegisterRead(1, 0x36, 0x%02X) = %d", reg, value);
    return line;
}

std::vector<std::string> ReadbackOfAFreshChip() {
    return sim_session::kFreshReadback;
}

std::vector<std::string> StartUpCalls() {
    std::vector<std::string> calls = sim_session::kSetUpCalls;
    calls.insert(calls.end(), sim_session::kFreshReadback.begin(),
                 sim_session::kFreshReadback.end());
    // The Max Current sliders start at 31 and have sent nothing yet.
    calls.push_back(RegisterWrite(0x05, 0x1F));
    calls.push_back(RegisterWrite(0x06, 0x1F));
    return calls;
}

PanelSession::PanelSession(const VirtualDisplay &display, std::string workDir)
    : m_display(display), m_workDir(std::move(workDir)), m_trace(m_workDir + "/trace.txt") {}

CommandResult PanelSession::Xdo(const std::vector<std::string> &args, Millis timeout) const {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, m_display.ClientEnvironment(), timeout);
}

CommandResult PanelSession::Search(const std::vector<std::string> &args, Millis timeout) const {
    // Not `search --sync`: xdotool walks the window tree, and a window
    // destroyed on the way (a menu closing) ends it with BadWindow. A search
    // that failed for that, or found nothing yet, is made again.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        CommandResult found = Xdo(args);
        if (found.Succeeded() && !found.out.empty())
            return found;
        if (found.timedOut || std::chrono::steady_clock::now() >= deadline)
            return found;
        std::this_thread::sleep_for(kPoll);
    }
}

AssertionResult PanelSession::Start(const std::string &binary, int scale) {
    Environment env = m_display.ClientEnvironment();
    // Nothing from the calling environment may choose the board, the trace
    // or the scale.
    env.Without("VTX_*").Without("QT_SCALE_FACTOR").Without("QT_SCREEN_SCALE_FACTORS");
    env.Without("QT_ENABLE_HIGHDPI_SCALING").Without("QT_FONT_DPI");
    env.With("VTX_ADAPTER", "sim").With("VTX_TRACE", m_trace.Path());
    // Qt's own settings (the file dialog's last folder) stay with the run,
    // out of the user's configuration.
    env.With("XDG_CONFIG_HOME", m_workDir + "/config");
    if (scale != 1)
        env.With("QT_SCALE_FACTOR", std::to_string(scale));
    std::remove(m_trace.Path().c_str());

    const std::string logPath = m_workDir + "/panel.log";
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::string error;
    const bool started = m_panel.Start({binary}, env, log, log, &error);
    if (log >= 0)
        close(log);
    if (!started)
        return AssertionFailure() << error;

    const std::vector<std::string> search = {"search",
                                             "--all",
                                             "--onlyvisible",
                                             "--pid",
                                             std::to_string(m_panel.Pid()),
                                             "--name",
                                             AnchoredPattern(res::kMainTemplate.title)};
    const CommandResult found = Search(search, kWindowTimeout);
    if (!found.Succeeded())
        return AssertionFailure() << "no panel window: " << found.Describe(search)
                                  << "\npanel output:\n"
                                  << Output();
    m_window = FirstLine(found.out);

    const CommandResult geometry = Xdo({"getwindowgeometry", "--shell", m_window});
    const std::optional<int> width = ShellValue(geometry.out, "WIDTH");
    const std::optional<int> height = ShellValue(geometry.out, "HEIGHT");
    if (!width || !height)
        return AssertionFailure() << "no geometry for window " << m_window << ": " << geometry.out
                                  << geometry.err;
    m_layout = DialogLayout::FromWindowSize(res::kMainTemplate, *width, *height, scale);
    if (!m_layout)
        return AssertionFailure() << "a " << *width << "x" << *height
                                  << " window is no dialog-unit layout of the panel's "
                                  << res::kMainTemplate.width << "x" << res::kMainTemplate.height
                                  << " template at scale " << scale;
    return AssertionSuccess();
}

AssertionResult PanelSession::Focus() {
    const std::vector<std::string> args = {"windowfocus", "--sync", m_window};
    const CommandResult result = Xdo(args);
    if (!result.Succeeded())
        return AssertionFailure() << result.Describe(args);
    return AssertionSuccess();
}

AssertionResult PanelSession::Click(QPoint point) {
    return ClickWith(point, "1");
}

AssertionResult PanelSession::RightClick(QPoint point) {
    return ClickWith(point, "3");
}

AssertionResult PanelSession::ClickWith(QPoint point, const std::string &button) {
    if (point.x() <= 0 || point.y() <= 0)
        return AssertionFailure() << "no place to click: a control missing from the template?";
    // No --sync: it waits for a pointer motion that never comes when the
    // pointer is already there. The server handles the fake motion before
    // the fake button press anyway.
    const std::vector<std::string> args = {
        "mousemove", "--window", m_window, std::to_string(point.x()), std::to_string(point.y()),
        "click",     button};
    const CommandResult result = Xdo(args);
    if (!result.Succeeded())
        return AssertionFailure() << result.Describe(args);
    return AssertionSuccess();
}

std::optional<std::string> PanelSession::VisibleWindowsOtherThanMain() const {
    // Once: the callers wait for a window to turn up.
    const CommandResult found =
        Search({"search", "--onlyvisible", "--pid", std::to_string(m_panel.Pid())}, Millis(0));
    std::istringstream in(found.out);
    for (std::string window; std::getline(in, window);) {
        if (!window.empty() && window != m_window)
            return window;
    }
    return std::nullopt;
}

AssertionResult PanelSession::ClickPopupItem(int index, int itemCount) {
    if (index < 0 || index >= itemCount)
        return AssertionFailure() << "no item " << index << " in a list of " << itemCount;
    const auto deadline = std::chrono::steady_clock::now() + kTraceTimeout;
    for (;;) {
        // A window found may be gone by the time xdotool looks at it (one
        // closing as the drop-down opens); xdotool then clicks nothing.
        if (const std::optional<std::string> popup = VisibleWindowsOtherThanMain()) {
            const CommandResult geometry = Xdo({"getwindowgeometry", "--shell", *popup});
            const std::optional<int> width = ShellValue(geometry.out, "WIDTH");
            const std::optional<int> height = ShellValue(geometry.out, "HEIGHT");
            if (width && height) {
                // The items fill the drop-down in equal rows; aim at the
                // middle of one.
                const int y = *height * (2 * index + 1) / (2 * itemCount);
                const std::vector<std::string> args = {
                    "mousemove",       "--window", *popup, std::to_string(*width / 2),
                    std::to_string(y), "click",    "1"};
                const CommandResult result = Xdo(args);
                if (result.Succeeded())
                    return AssertionSuccess();
                if (result.err.find("BadWindow") == std::string::npos)
                    return AssertionFailure() << result.Describe(args);
            }
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return AssertionFailure() << "no drop-down opened";
        std::this_thread::sleep_for(kPoll);
    }
}

AssertionResult PanelSession::Wheel(QPoint point, int notches) {
    // X reports the wheel as buttons 4 (away from the user) and 5.
    const std::vector<std::string> args = {"mousemove",
                                           "--window",
                                           m_window,
                                           std::to_string(point.x()),
                                           std::to_string(point.y()),
                                           "click",
                                           "--repeat",
                                           std::to_string(std::abs(notches)),
                                           notches > 0 ? "4" : "5"};
    const CommandResult result = Xdo(args);
    if (!result.Succeeded())
        return AssertionFailure() << result.Describe(args);
    return AssertionSuccess();
}

AssertionResult PanelSession::PressAndSlideOff(QPoint point, QPoint away) {
    const std::vector<std::string> args = {"mousemove",
                                           "--window",
                                           m_window,
                                           std::to_string(point.x()),
                                           std::to_string(point.y()),
                                           "mousedown",
                                           "1",
                                           "mousemove",
                                           "--window",
                                           m_window,
                                           std::to_string(away.x()),
                                           std::to_string(away.y()),
                                           "mouseup",
                                           "1"};
    const CommandResult result = Xdo(args);
    if (!result.Succeeded())
        return AssertionFailure() << result.Describe(args);
    return AssertionSuccess();
}

AssertionResult PanelSession::PopupOpens() {
    const auto deadline = std::chrono::steady_clock::now() + kTraceTimeout;
    while (!VisibleWindowsOtherThanMain()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return AssertionFailure() << "no menu or drop-down opened";
        std::this_thread::sleep_for(kPoll);
    }
    return AssertionSuccess();
}

ScreenReader::ScreenReader(const VirtualDisplay &display) {
    // Qt's X11 platform on the test's own display, whatever the test
    // environment chose for the panel's unit tests.
    setenv("DISPLAY", display.Name().c_str(), 1);
    static int argc = 3;
    static char name[] = "e2e", option[] = "-platform", platform[] = "xcb";
    static char *argv[] = {name, option, platform, nullptr};
    m_app = std::make_unique<QGuiApplication>(argc, argv);
}

ScreenReader::~ScreenReader() = default;

QImage PanelSession::Grab(QRect rect) const {
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const WId window = static_cast<WId>(std::stoul(m_window));
    return screen->grabWindow(window, rect.x(), rect.y(), rect.width(), rect.height()).toImage();
}

AssertionResult PanelSession::ShowsOtherThan(QRect rect, const QImage &image) const {
    const auto deadline = std::chrono::steady_clock::now() + kTraceTimeout;
    while (Grab(rect) == image) {
        if (std::chrono::steady_clock::now() >= deadline)
            return AssertionFailure() << "what the window shows did not change";
        std::this_thread::sleep_for(kPoll);
    }
    return AssertionSuccess();
}

AssertionResult PanelSession::WindowOpens(const std::string &title) {
    const std::vector<std::string> search = {"search",
                                             "--all",
                                             "--onlyvisible",
                                             "--pid",
                                             std::to_string(m_panel.Pid()),
                                             "--name",
                                             AnchoredPattern(title)};
    const CommandResult found = Search(search, kWindowTimeout);
    if (!found.Succeeded())
        return AssertionFailure() << "no window \"" << title << "\": " << found.Describe(search);
    const std::vector<std::string> focus = {"windowfocus", "--sync", FirstLine(found.out)};
    const CommandResult focused = Xdo(focus);
    if (!focused.Succeeded())
        return AssertionFailure() << focused.Describe(focus);
    return AssertionSuccess();
}

std::string PanelSession::WindowProperties(const std::vector<std::string> &names) const {
    std::vector<std::string> argv = {"xprop", "-id", m_window};
    argv.insert(argv.end(), names.begin(), names.end());
    const CommandResult result = RunCommand(argv, m_display.ClientEnvironment(), Millis(10000));
    return result.out + result.err;
}

AssertionResult PanelSession::Key(const std::string &keysym) {
    const std::vector<std::string> args = {"key", keysym};
    const CommandResult result = Xdo(args);
    if (!result.Succeeded())
        return AssertionFailure() << result.Describe(args);
    return AssertionSuccess();
}

AssertionResult PanelSession::Type(const std::string &text) {
    const std::vector<std::string> args = {"type", "--delay", "5", text};
    const CommandResult result = Xdo(args);
    if (!result.Succeeded())
        return AssertionFailure() << result.Describe(args);
    return AssertionSuccess();
}

AssertionResult PanelSession::Expect(const std::vector<std::string> &expected,
                                     const std::string &after) {
    const auto deadline = std::chrono::steady_clock::now() + kTraceTimeout;
    std::optional<std::vector<std::string>> lines;
    while (!(lines = m_trace.Take(expected.size()))) {
        const bool ended = m_panel.HasEnded();
        if (ended || std::chrono::steady_clock::now() >= deadline)
            return AssertionFailure() << "after " << after << ": waited for" << Join(expected)
                                      << "\n  the bus saw only" << Join(m_trace.Unread())
                                      << (ended ? "\n  and the panel has ended" : "");
        std::this_thread::sleep_for(kPoll);
    }
    if (*lines != expected)
        return AssertionFailure() << "after " << after << ": expected" << Join(expected)
                                  << "\n  the bus saw" << Join(*lines);
    return AssertionSuccess();
}

AssertionResult PanelSession::EscapeEndsWithExitCodeZero() {
    return KeyEndsWithExitCodeZero("Escape");
}

AssertionResult PanelSession::KeyEndsWithExitCodeZero(const std::string &keysym) {
    if (AssertionResult pressed = Key(keysym); !pressed)
        return pressed;
    const std::optional<int> status = m_panel.Wait(kExitTimeout);
    if (!status)
        return AssertionFailure() << "the panel still runs after " << keysym;
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
        return AssertionFailure() << "the panel ended with " << DescribeStatus(*status)
                                  << "; its output:\n"
                                  << Output();
    return AssertionSuccess();
}

std::string PanelSession::Output() const {
    return ReadFile(m_workDir + "/panel.log");
}
