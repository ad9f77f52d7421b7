// SPDX-License-Identifier: MIT
// The built panel as a process of its own on a virtual display, on the
// simulated board, driven only by real X input (xdotool: pointer moves,
// button clicks, key strokes) and watched through its bus trace.
#ifndef TESTS_E2E_PANEL_SESSION_H
#define TESTS_E2E_PANEL_SESSION_H

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog_layout.h"
#include "process.h"
#include "virtual_display.h"

// The trace file the panel's adapter library appends to (VTX_TRACE): read
// in order, one complete line at a time.
class TraceFile {
public:
    explicit TraceFile(std::string path) : m_path(std::move(path)) {}
    const std::string &Path() const { return m_path; }

    // Every complete line so far; a line still being written is left out.
    std::vector<std::string> Lines() const;

    // Lines after those already taken, without taking them.
    std::vector<std::string> Unread() const;
    // Takes the next `count` lines if that many are there.
    std::optional<std::vector<std::string>> Take(std::size_t count);

private:
    std::string m_path;
    std::size_t m_taken = 0;
};

// Trace lines of the register accesses on the chip at 0x36 through handle 1.
std::string RegisterWrite(uint8_t reg, uint8_t value);
std::string RegisterRead(uint8_t reg, uint8_t value);

// The readback of all thirteen registers of a chip at its reset values.
std::vector<std::string> ReadbackOfAFreshChip();

// What the panel does on the bus from start until its first paint is done:
// adapter set-up, the readback of all thirteen registers, and the two Max
// Current registers written from their sliders.
std::vector<std::string> StartUpCalls();

// A connection of this process to the virtual display, for reading what a
// window shows. One at a time, and gone before the display goes.
class ScreenReader {
public:
    explicit ScreenReader(const VirtualDisplay &display);
    ~ScreenReader();
    ScreenReader(const ScreenReader &) = delete;
    ScreenReader &operator=(const ScreenReader &) = delete;

private:
    std::unique_ptr<QGuiApplication> m_app;
};

class PanelSession {
public:
    PanelSession(const VirtualDisplay &display, std::string workDir);

    // Starts `binary` on the simulated board at `scale` (QT_SCALE_FACTOR),
    // waits for its window and works out the layout from the window's size.
    ::testing::AssertionResult Start(const std::string &binary, int scale = 1);

    // Gives the window the keyboard focus (there is no window manager to).
    ::testing::AssertionResult Focus();

    const DialogLayout &Layout() const { return *m_layout; }

    // Real input. Points are device pixels relative to the window.
    ::testing::AssertionResult Click(QPoint point);
    // The same with the right button.
    ::testing::AssertionResult RightClick(QPoint point);
    // Clicks item `index` of the drop-down that a click on a list opened.
    ::testing::AssertionResult ClickPopupItem(int index, int itemCount);
    ::testing::AssertionResult Key(const std::string &keysym);
    ::testing::AssertionResult Type(const std::string &text);
    // Turns the wheel `notches` notches (away from the user when positive)
    // with the pointer at `point`.
    ::testing::AssertionResult Wheel(QPoint point, int notches);
    // Presses the button at `point` and releases it at `away`: the control
    // under `point` takes the focus without being clicked.
    ::testing::AssertionResult PressAndSlideOff(QPoint point, QPoint away);
    // Waits for a window of the panel's other than its main one (a menu, a
    // drop-down) to open.
    ::testing::AssertionResult PopupOpens();
    // What the main window shows in `rect` (device pixels), read from the
    // X server; a null image when it cannot be read. Needs a ScreenReader.
    QImage Grab(QRect rect) const;
    // Waits for the main window to show in `rect` other than `image`.
    ::testing::AssertionResult ShowsOtherThan(QRect rect, const QImage &image) const;
    // Waits for a window of the panel's titled `title` and gives it the
    // keyboard focus.
    ::testing::AssertionResult WindowOpens(const std::string &title);
    // The main window's X properties `names` as xprop prints them.
    std::string WindowProperties(const std::vector<std::string> &names) const;

    // Waits for the next trace lines and checks they are `expected`; `after`
    // names the action for the failure message.
    ::testing::AssertionResult Expect(const std::vector<std::string> &expected,
                                      const std::string &after);
    TraceFile &Trace() { return m_trace; }

    // Presses Escape and waits for the process to end; fails unless it ends
    // with exit code 0.
    ::testing::AssertionResult EscapeEndsWithExitCodeZero();
    // The same for any key.
    ::testing::AssertionResult KeyEndsWithExitCodeZero(const std::string &keysym);

    // What the panel wrote to standard output and error so far.
    std::string Output() const;

private:
    ::testing::AssertionResult ClickWith(QPoint point, const std::string &button);
    CommandResult Xdo(const std::vector<std::string> &args, Millis timeout = Millis(10000)) const;
    // Runs `xdotool search` until it finds a window, for up to `timeout`;
    // the last run's result.
    CommandResult Search(const std::vector<std::string> &args, Millis timeout) const;
    std::optional<std::string> VisibleWindowsOtherThanMain() const;

    const VirtualDisplay &m_display;
    std::string m_workDir;
    TraceFile m_trace;
    Child m_panel;
    std::string m_window; // X window ID, decimal, as xdotool prints it
    std::optional<DialogLayout> m_layout;
};

#endif
