// SPDX-License-Identifier: MIT
// A shown panel on a fresh simulated board, with every library call recorded.
#ifndef TESTS_PANEL_PANEL_FIXTURE_H
#define TESTS_PANEL_PANEL_FIXTURE_H

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "panel/ceval_dlg.h"
#include "tests/support/sim_session.h"
#include "vtx/adapters.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString &text, std::ostream *out) {
    *out << '"' << text.toStdString() << '"';
}

class QCheckBox;
class QComboBox;
class QDialog;
class QLineEdit;
class QSlider;

using sim_session::ResetProcessState;

// Lets queued events and repaints run until the panel is quiet.
void Settle();

// Two USB-to-I2C bridges beside the motherboard's SMBus, as a bench has
// them. The second "bridge" is the simulated board, so that choosing it
// opens a board.
std::vector<vtx::AdapterListing> TwoBridges();

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates and shows the panel on the board as SetUp left it (forced
    // results set before this call apply to the start-up).
    void StartPanel();

    // VTX_ADAPTER set to `value` (nullptr: unset) for this test, in a fresh
    // process; TearDown puts the test environment's back.
    void SetAdapterSetting(const char *value);

    // Runs `act` on the next dialog the panel runs modally (its own loop,
    // as the chooser at start-up and the context menu's dialogs do), once
    // it is up.
    void OnNextModal(std::function<void(QDialog *)> act);

    // Every trace line since start (or since ClearCalls).
    std::vector<std::string> calls;
    void ClearCalls() { calls.clear(); }
    // Only the register writes, as "reg=value" pairs such as "0x05=0x1F".
    std::vector<std::string> Writes() const;

    // Real input on the shown window.
    void ClickBox(int id);
    void ClickBox(QCheckBox *box);
    void ClickButton(int id);
    void ChooseItem(int listId, int index);
    void TypeInto(int editId, const QString &text);
    void TypeInto(QLineEdit *edit, const QString &text);
    // Drags the slider's handle with the mouse to where `value` lies, then
    // settles any rounding with arrow keys.
    void DragSlider(int id, int value);

    QCheckBox *Box(int id) const;
    QComboBox *List(int id) const;
    QSlider *Slider(int id) const;
    QString Text(int id) const;
    // The status line's tooltip.
    QString Tip() const;
    bool Checked(int id) const;

    std::unique_ptr<CEvalDlg> dlg;

private:
    void FreshProcess();
    std::unique_ptr<QTimer> m_modalWatch;
    QByteArray m_setting;
};

#endif
