// SPDX-License-Identifier: MIT
// A long seeded session of random input, with failures injected through the
// simulated board and a second writer changing the chip behind the panel's
// back, as a script on a shared board does. A reference model, written from
// what each input means to the chip rather than from the panel's code, says
// after every step which writes the panel must have made, what the chip
// holds (exactly what succeeded) and what the panel shows; the panel must
// agree, and no byte it writes may contradict a control the user sees.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <map>
#include <random>
#include <set>

#include "panel_fixture.h"
#include "res/resource.h"
#include "vtx/sim.h"

namespace {

using vtx::test::Call;

// What a box means: its register, the bit it sets, and what clearing it
// keeps (the chip's clear masks also drop bits no box shows).
struct BoxMeaning {
    int id;
    uint8_t reg;
    uint8_t set;
    uint8_t keep;
};
const BoxMeaning kBoxMeanings[] = {
    {IDC_SLEEP, 0x00, 0x80, 0x1F},          {IDC_LINEAR_A, 0x00, 0x10, 0xCF},
    {IDC_LINEAR_B, 0x00, 0x08, 0xD7},       {IDC_LED_A_EN, 0x00, 0x04, 0xDB},
    {IDC_LED_B_EN, 0x00, 0x02, 0xDD},       {IDC_LED2_ON_A, 0x00, 0x01, 0xDE},
    {IDC_FEEDBACK_B, 0x01, 0x10, 0x0F},     {IDC_FEEDBACK_A, 0x01, 0x08, 0x17},
    {IDC_PWM_ACTIVE_LOW, 0x01, 0x04, 0x1B}, {IDC_PWM_B, 0x01, 0x02, 0x1D},
    {IDC_PWM_A, 0x01, 0x01, 0x1E},          {IDC_SLOW_START, 0x02, 0x04, 0xFB},
};
const int kBoxes[] = {IDC_SLEEP,          IDC_LINEAR_A,  IDC_LINEAR_B,   IDC_LED_A_EN,
                      IDC_LED_B_EN,       IDC_LED2_ON_A, IDC_FEEDBACK_B, IDC_FEEDBACK_A,
                      IDC_PWM_ACTIVE_LOW, IDC_PWM_B,     IDC_PWM_A,      IDC_SLOW_START,
                      IDC_FLAG_OCP};
// Which bit of 0x00 and 0x09 each box shows after a readback.
const std::pair<int, int> kControlBits[] = {{IDC_SLEEP, 7},    {IDC_LINEAR_A, 4},
                                            {IDC_LINEAR_B, 3}, {IDC_LED_A_EN, 2},
                                            {IDC_LED_B_EN, 1}, {IDC_LED2_ON_A, 0}};
const std::pair<int, int> kStatusBits[] = {{IDC_FLAG_OCP, 2}, {IDC_FLAG_OVP, 1}, {IDC_FLAG_TSD, 0}};

struct ListMeaning {
    int id;
    int count;
    int start;
};
const ListMeaning kLists[] = {{IDC_FMODE, 4, 0},     {IDC_OVP, 4, 1},       {IDC_OCP, 4, 3},
                              {IDC_RAMP_OFF, 8, 0},  {IDC_RAMP_STOP, 8, 0}, {IDC_RAMP_ON, 8, 0},
                              {IDC_RAMP_START, 8, 0}};

struct SliderMeaning {
    int id;
    uint8_t reg;
    int maximum;
    int start;
};
const SliderMeaning kSliders[] = {{IDC_BRIGHT_A, 0x03, 255, 0},
                                  {IDC_BRIGHT_B, 0x04, 255, 0},
                                  {IDC_CURRENT_A, 0x05, 31, 31},
                                  {IDC_CURRENT_B, 0x06, 31, 31}};
const Qt::Key kSliderKeys[] = {Qt::Key_Left, Qt::Key_Right,  Qt::Key_Home,
                               Qt::Key_End,  Qt::Key_PageUp, Qt::Key_PageDown};

const int kTextIds[] = {IDC_REG00, IDC_REG01, IDC_REG02, IDC_REG03, IDC_REG04,
                        IDC_REG05, IDC_REG06, IDC_REG07, IDC_REG08, IDC_REG09};
const uint8_t kResetValues[] = {0xC0, 0x18, 0x38, 0x00, 0x00, 0x1F, 0x1F, 0x00, 0x00};

std::string WriteText(int reg, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X=0x%02X", reg, value & 0xFF);
    return text;
}

QString Hex(int value) {
    return QString::asprintf("%02X", value & 0xFF);
}

// The panel as it must behave, and the chip as it must end up.
struct Model {
    std::map<int, bool> box;
    int shadow[9];
    std::map<int, int> list;
    int position[4];
    int sent[4];
    int chip[9];
    int status09 = 0;

    bool writesFail = false;
    bool readsFail = false;
    QString error; // the error text the status line must show; empty: none

    // This step: writes that must succeed, in order; writes that must have
    // been tried and failed. And what every register text must show.
    std::vector<std::string> succeeded;
    std::set<std::string> failed;
    std::map<int, QString> texts;
    bool manual = false; // this step wrote a byte the user typed

    Model() {
        StartPositions();
        std::copy(std::begin(kResetValues), std::end(kResetValues), shadow);
        std::copy(std::begin(kResetValues), std::end(kResetValues), chip);
        // The first paint sent the Max Current sliders' start positions.
        sent[0] = sent[1] = 0;
        sent[2] = sent[3] = 31;
        // The start-up readback of a fresh chip.
        for (int reg = 0; reg <= 0x08; ++reg)
            texts[reg] = Hex(kResetValues[reg]);
        texts[0x09] = Hex(0);
    }

    void StartPositions() {
        for (int id : kBoxes)
            box[id] = false;
        box[IDC_FLAG_OVP] = box[IDC_FLAG_TSD] = false;
        box[IDC_SLEEP] = box[IDC_FEEDBACK_A] = box[IDC_FEEDBACK_B] = true;
        for (const ListMeaning &l : kLists)
            list[l.id] = l.start;
        for (int i = 0; i < 4; ++i)
            position[i] = kSliders[i].start;
    }

    void NewStep() {
        succeeded.clear();
        failed.clear();
        manual = false;
    }

    bool Write(int reg, int value) {
        if (writesFail) {
            failed.insert(WriteText(reg, value));
            error = QStringLiteral("Write Error");
            if (reg <= 0x08)
                texts[reg] = QStringLiteral("--");
            return false;
        }
        succeeded.push_back(WriteText(reg, value));
        error.clear();
        if (reg <= 0x08)
            chip[reg] = value & 0xFF;
        else if (reg == 0x0F && value == 1)
            ChipReset();
        return true;
    }

    void ChipReset() {
        std::copy(std::begin(kResetValues), std::end(kResetValues), chip);
        status09 = 0;
    }

    void ToggleBox(int id) {
        if (id == IDC_FLAG_OCP || id == IDC_FLAG_OVP || id == IDC_FLAG_TSD)
            return; // display only
        box[id] = !box[id];
        for (const BoxMeaning &m : kBoxMeanings) {
            if (m.id != id)
                continue;
            shadow[m.reg] = box[id] ? (shadow[m.reg] | m.set) : (shadow[m.reg] & m.keep);
            texts[m.reg] = Hex(shadow[m.reg]);
            Write(m.reg, shadow[m.reg]);
        }
    }

    void ListKey(int id, int count, bool down) {
        const int now = list[id];
        const int next = std::clamp(now + (down ? 1 : -1), 0, count - 1);
        if (next == now)
            return;
        list[id] = next;
        int reg = 0x02;
        if (id == IDC_FMODE || id == IDC_OVP || id == IDC_OCP) {
            shadow[2] = (list[IDC_OVP] << 5) | (list[IDC_OCP] << 3) | list[IDC_FMODE] |
                        (box[IDC_SLOW_START] ? 0x04 : 0);
        } else {
            reg = (id == IDC_RAMP_OFF || id == IDC_RAMP_ON) ? 0x07 : 0x08;
            const bool high = id == IDC_RAMP_ON || id == IDC_RAMP_START;
            shadow[reg] = high ? (shadow[reg] & 0x07) | (next << 3) : (shadow[reg] & 0x38) | next;
        }
        texts[reg] = Hex(shadow[reg]);
        Write(reg, shadow[reg]);
    }

    void SliderKey(int i, Qt::Key key) {
        const int max = kSliders[i].maximum;
        int &p = position[i];
        switch (key) {
        case Qt::Key_Left:
            p = std::max(p - 1, 0);
            break;
        case Qt::Key_Right:
            p = std::min(p + 1, max);
            break;
        case Qt::Key_Home:
            p = 0;
            break;
        case Qt::Key_End:
            p = max;
            break;
        case Qt::Key_PageUp:
            p = std::min(p + 10, max);
            break;
        default:
            p = std::max(p - 10, 0);
            break;
        }
        SliderPaint(i);
    }

    // A slider's repaint: a position the slider has not tried yet is sent,
    // into the field's five or eight bits; one the chip refused is not
    // tried again.
    void SliderPaint(int i) {
        if (position[i] == sent[i])
            return;
        const uint8_t reg = kSliders[i].reg;
        const int field = kSliders[i].maximum;
        sent[i] = position[i];
        shadow[reg] = (shadow[reg] & ~field) | position[i];
        texts[reg] = Hex(shadow[reg]);
        Write(reg, shadow[reg]);
    }

    bool Pending() const {
        for (int i = 0; i < 4; ++i) {
            if (position[i] != sent[i])
                return true;
        }
        return false;
    }

    void Sleep() {
        shadow[0] |= 0x80;
        box[IDC_SLEEP] = true;
        texts[0] = Hex(shadow[0]);
        Write(0x00, shadow[0]);
    }

    void Readback() {
        for (int reg = 0x00; reg <= 0x09; ++reg)
            texts[reg] = readsFail ? QStringLiteral("--") : Hex(reg == 0x09 ? status09 : chip[reg]);
        if (readsFail) {
            error = QStringLiteral("Read Error");
            return;
        }
        error.clear();
        // The Control boxes show the byte read, and the next click on one
        // composes from it.
        shadow[0] = chip[0];
        for (auto [id, bit] : kControlBits)
            box[id] = (chip[0] >> bit) & 1;
        for (auto [id, bit] : kStatusBits)
            box[id] = (status09 >> bit) & 1;
    }

    void SwReset() {
        if (!Write(0x0F, 1))
            return; // nothing moves
        std::copy(std::begin(kResetValues), std::end(kResetValues), shadow);
        StartPositions();
        for (int i = 0; i < 4; ++i)
            sent[i] = kResetValues[kSliders[i].reg];
        Readback();
    }

    // A good manual write leaves the register's text alone.
    void ManualWrite(int reg, int value) {
        manual = true;
        Write(reg, value);
    }
};

void Pump() {
    QApplication::processEvents();
    QApplication::processEvents();
}

std::vector<std::string> WritesIn(const std::vector<std::string> &lines, bool succeeded) {
    std::vector<std::string> writes;
    for (const std::string &line : lines) {
        unsigned reg = 0, value = 0;
        int result = 0;
        if (std::sscanf(line.c_str(), "vtxI2C_RegisterWrite(1, 0x36, 0x%X, 0x%X) = %d", &reg,
                        &value, &result) == 3 &&
            (result == 0) == succeeded)
            writes.push_back(WriteText(static_cast<int>(reg), static_cast<int>(value)));
    }
    return writes;
}

// What the byte written to `reg` says each control of that register shows,
// beside what it does show; empty when they agree.
std::string Contradiction(const std::string &write, const std::map<int, bool> &box,
                          const std::map<int, int> &list, const int position[4]) {
    unsigned reg = 0, v = 0;
    std::sscanf(write.c_str(), "0x%X=0x%X", &reg, &v);
    std::vector<std::pair<int, int>> said; // (control, what the byte says), (shown)
    std::vector<int> shown;
    auto bit = [&](int id, int n) {
        said.push_back({id, static_cast<int>((v >> n) & 1)});
        shown.push_back(box.at(id));
    };
    auto code = [&](int id, int lsb, int mask) {
        said.push_back({id, static_cast<int>((v >> lsb) & mask)});
        shown.push_back(list.at(id));
    };
    auto level = [&](int i, int mask) {
        said.push_back({kSliders[i].id, static_cast<int>(v & mask)});
        shown.push_back(position[i]);
    };
    switch (reg) {
    case 0x00:
        for (auto [id, n] : kControlBits)
            bit(id, n);
        break;
    case 0x01:
        bit(IDC_FEEDBACK_B, 4);
        bit(IDC_FEEDBACK_A, 3);
        bit(IDC_PWM_ACTIVE_LOW, 2);
        bit(IDC_PWM_B, 1);
        bit(IDC_PWM_A, 0);
        break;
    case 0x02:
        code(IDC_OVP, 5, 3);
        code(IDC_OCP, 3, 3);
        bit(IDC_SLOW_START, 2);
        code(IDC_FMODE, 0, 3);
        break;
    case 0x03:
    case 0x04:
        level(reg - 3, 0xFF);
        break;
    case 0x05:
    case 0x06:
        level(reg - 3, 0x1F); // Max Current is bits 4-0
        break;
    case 0x07:
        code(IDC_RAMP_ON, 3, 7);
        code(IDC_RAMP_OFF, 0, 7);
        break;
    case 0x08:
        code(IDC_RAMP_START, 3, 7);
        code(IDC_RAMP_STOP, 0, 7);
        break;
    default:
        break;
    }
    for (std::size_t i = 0; i < said.size(); ++i) {
        if (said[i].second != shown[i])
            return write + " says " + std::to_string(said[i].second) + " for control " +
                   std::to_string(said[i].first) + ", which shows " + std::to_string(shown[i]);
    }
    return {};
}

} // namespace

TEST_F(PanelTest, ARandomSessionWritesExactlyWhatEachInputMeansAndShowsEveryFailure) {
    StartPanel();
    ClearCalls();
    std::mt19937 random(4620);
    auto below = [&random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    Model model;
    int unpoweredFor = 0; // steps left with the board's supply off
    int faults = 0;
    int scripted = 0; // changes by the second writer

    auto checkStep = [&](int step) -> bool {
        SCOPED_TRACE(testing::Message() << "step " << step);
        const std::vector<std::string> good = WritesIn(calls, true);
        const std::vector<std::string> bad = WritesIn(calls, false);
        EXPECT_EQ(good, model.succeeded);
        EXPECT_EQ(std::set<std::string>(bad.begin(), bad.end()), model.failed);
        for (uint8_t reg = 0; reg <= 0x08; ++reg)
            EXPECT_EQ(vtx::sim::chipRegister(reg), model.chip[reg]) << "chip register " << int(reg);
        for (auto [reg, text] : model.texts)
            EXPECT_EQ(Text(kTextIds[reg]), text) << "text of register " << reg;
        for (auto [id, checked] : model.box)
            EXPECT_EQ(Checked(id), checked) << "box " << id;
        for (const ListMeaning &l : kLists)
            EXPECT_EQ(List(l.id)->currentIndex(), model.list[l.id]) << "list " << l.id;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Slider(kSliders[i].id)->value(), model.position[i]) << "slider " << i;
        // Checked against the panel's own controls, not the model's.
        std::map<int, bool> boxShown;
        std::map<int, int> listShown;
        int positionShown[4];
        for (const BoxMeaning &m : kBoxMeanings)
            boxShown[m.id] = Checked(m.id);
        for (const ListMeaning &l : kLists)
            listShown[l.id] = List(l.id)->currentIndex();
        for (int i = 0; i < 4; ++i)
            positionShown[i] = Slider(kSliders[i].id)->value();
        if (!model.manual) {
            for (const std::vector<std::string> &writes : {good, bad}) {
                for (const std::string &w : writes)
                    EXPECT_EQ(Contradiction(w, boxShown, listShown, positionShown), "");
            }
        }
        const QString status = Text(IDC_STATUS);
        if (!model.error.isEmpty()) {
            EXPECT_EQ(status, model.error);
        } else {
            EXPECT_TRUE(status == "Ready" || status == "Readback Complete" || status == "Reset")
                << status.toStdString();
        }
        ClearCalls();
        model.NewStep();
        return !HasFailure();
    };

    for (int step = 0; step < 2000; ++step) {
        // Now and then a failure: every write of the step, every read of the
        // step, or the board's supply for a few steps.
        const bool faulty = unpoweredFor == 0 && below(100) < 6;
        if (faulty) {
            ++faults;
            switch (below(3)) {
            case 0:
                vtx::test::forceResult(Call::I2C_RegisterWrite, -EIO);
                model.writesFail = true;
                break;
            case 1:
                vtx::test::forceResult(Call::I2C_RegisterRead, -EIO);
                model.readsFail = true;
                break;
            default:
                vtxPower_WriteControl(g_hLink, 0, 0);
                ClearCalls();
                unpoweredFor = 1 + below(4);
                model.writesFail = model.readsFail = true;
                break;
            }
        }

        // Now and then a script on the same board changes a register behind
        // the panel's back; half the time the user then looks with Readback
        // All.
        bool lookNow = false;
        if (unpoweredFor == 0 && below(100) < 10) {
            const uint8_t reg = static_cast<uint8_t>(below(9));
            const int value = below(256);
            vtx::sim::setChipRegister(reg, static_cast<uint8_t>(value));
            model.chip[reg] = value;
            lookNow = below(2) == 0;
            ++scripted;
        }

        const int kind = lookNow ? 87 : below(100);
        if (kind < 33) {
            const int id = kBoxes[below(std::size(kBoxes))];
            Box(id)->setFocus();
            QTest::keyClick(Box(id), Qt::Key_Space);
            model.ToggleBox(id);
        } else if (kind < 55) {
            const ListMeaning &l = kLists[below(std::size(kLists))];
            const bool down = below(2);
            List(l.id)->setFocus();
            QTest::keyClick(List(l.id), down ? Qt::Key_Down : Qt::Key_Up);
            model.ListKey(l.id, l.count, down);
        } else if (kind < 83) {
            const int i = below(4);
            const Qt::Key key = kSliderKeys[below(std::size(kSliderKeys))];
            Slider(kSliders[i].id)->setFocus();
            QTest::keyClick(Slider(kSliders[i].id), key);
            model.SliderKey(i, key);
        } else if (kind < 86) {
            ClickButton(IDC_SLEEP_BUTTON);
            model.Sleep();
        } else if (kind < 90) {
            if (below(3) == 0 && !model.readsFail) {
                const uint8_t flag = static_cast<uint8_t>(1 << below(3));
                vtx::sim::raiseInterrupt(flag);
                model.status09 |= flag;
            }
            ClickButton(IDC_READBACK_ALL);
            model.Readback();
        } else if (kind < 95) {
            const int reg = below(9);
            const int value = below(256);
            if (below(4) == 0) {
                // A slip of the finger: a byte too wide. Nothing is sent.
                TypeInto(IDC_REGADDR, QString::number(reg, 16));
                TypeInto(IDC_DATA, QString::number(value + 0x100, 16));
                ClickButton(IDC_WRITE);
                model.error = QStringLiteral("Invalid Data");
            } else {
                TypeInto(IDC_REGADDR, QString::number(reg, 16));
                TypeInto(IDC_DATA, QString::number(value, 16));
                ClickButton(IDC_WRITE);
                model.ManualWrite(reg, value);
            }
        } else {
            ClickButton(IDC_SW_RESET);
            model.SwReset();
        }
        Pump();
        if (faulty && unpoweredFor == 0) {
            vtx::test::clearForcedResult(Call::I2C_RegisterWrite);
            vtx::test::clearForcedResult(Call::I2C_RegisterRead);
            model.writesFail = model.readsFail = false;
        }

        // Every slider repaints, which writes nothing: a position the chip
        // refused is not tried again.
        for (const SliderMeaning &s : kSliders)
            Slider(s.id)->update();
        Pump();
        for (int i = 0; i < 4; ++i)
            model.SliderPaint(i);
        ASSERT_TRUE(checkStep(step));

        if (unpoweredFor > 0 && --unpoweredFor == 0) {
            // The supply is back: the chip starts from its reset values. What
            // a slider could not send stays unsent: repaints and the pointer
            // over the sliders write nothing.
            vtxPower_WriteControl(g_hLink, 1, 0);
            model.ChipReset();
            model.writesFail = model.readsFail = false;
            ClearCalls();
            for (const SliderMeaning &s : kSliders) {
                QTest::mouseMove(Slider(s.id), Slider(s.id)->rect().center());
                Slider(s.id)->update();
            }
            Pump();
            for (int i = 0; i < 4; ++i)
                model.SliderPaint(i);
            ASSERT_TRUE(checkStep(step)) << "after the supply came back";
        }
    }
    EXPECT_FALSE(model.Pending());
    EXPECT_GT(faults, 50);
    EXPECT_GT(scripted, 100);

    // The adapter pulled for good: every action says so, the chip keeps what
    // it had.
    vtx::sim::unplug();
    model.writesFail = model.readsFail = true;
    ClickBox(IDC_LED_B_EN);
    model.ToggleBox(IDC_LED_B_EN);
    ClickButton(IDC_READBACK_ALL);
    model.Readback();
    ClickButton(IDC_SW_RESET);
    model.SwReset();
    Pump();
    ASSERT_TRUE(checkStep(-1));
    EXPECT_TRUE(dlg->isVisible());
}
