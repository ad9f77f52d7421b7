// SPDX-License-Identifier: MIT
// The panel window as built from its template, before any device access.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QWindow>

#include "panel/dialog_builder.h"
#include "panel/register_map.h"
#include "panel_fixture.h"
#include "res/dialog_template.h"
#include "res/resource.h"

namespace {

const char *KindName(const QWidget *w) {
    if (qobject_cast<const QPushButton *>(w))
        return "push button";
    if (qobject_cast<const QCheckBox *>(w))
        return "check box";
    if (qobject_cast<const QComboBox *>(w))
        return "list";
    if (qobject_cast<const QSlider *>(w))
        return "slider";
    if (qobject_cast<const QLineEdit *>(w))
        return "edit";
    if (qobject_cast<const QGroupBox *>(w))
        return "group box";
    if (qobject_cast<const QLabel *>(w))
        return static_cast<const QLabel *>(w)->pixmap().isNull() ? "label" : "picture";
    return "?";
}

const char *KindName(res::Kind kind) {
    switch (kind) {
    case res::Kind::PushButton:
        return "push button";
    case res::Kind::Picture:
        return "picture";
    case res::Kind::GroupBox:
        return "group box";
    case res::Kind::Label:
        return "label";
    case res::Kind::Edit:
        return "edit";
    case res::Kind::CheckBox:
        return "check box";
    case res::Kind::List:
        return "list";
    case res::Kind::Slider:
        return "slider";
    }
    return "?";
}

QString WidgetText(const QWidget *w) {
    if (auto *b = qobject_cast<const QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<const QGroupBox *>(w))
        return g->title();
    if (auto *l = qobject_cast<const QLabel *>(w))
        return l->pixmap().isNull() ? l->text() : QString();
    return {};
}

// The edit or list a label stands beside, naming it: the nearest one to its
// right on its line, less than 12 dialog units away; null for none.
QWidget *BesideAField(const QWidget *w, const QList<QWidget *> &all) {
    const auto *label = qobject_cast<const QLabel *>(w);
    if (!label || !label->pixmap().isNull() ||
        label->property(kControlIdProperty).toInt() != IDC_STATIC)
        return nullptr;
    const DialogUnits units = DialogUnits::ForFont(w->parentWidget()->font());
    QWidget *field = nullptr;
    for (QWidget *other : all) {
        if (!qobject_cast<QLineEdit *>(other) && !qobject_cast<QComboBox *>(other))
            continue;
        const QRect g = other->geometry();
        const QRect r = w->geometry();
        const bool onItsLine = g.top() < r.center().y() && g.bottom() > r.center().y();
        if (onItsLine && g.left() > r.center().x() && g.left() - r.right() < units.x(12) &&
            (!field || g.left() < field->x()))
            field = other;
    }
    return field;
}

// The next control of the dialog that Tab moves to.
QWidget *NextTabStop(QWidget *from) {
    for (QWidget *w = from->nextInFocusChain(); w != from; w = w->nextInFocusChain()) {
        if (w->parentWidget() == from->parentWidget() && (w->focusPolicy() & Qt::TabFocus))
            return w;
    }
    return nullptr;
}

} // namespace

TEST_F(PanelTest, EveryTemplateControlExistsOnceInPlaceAndInTabOrder) {
    StartPanel();
    const DialogUnits units = DialogUnits::ForFont(dlg->font());
    ASSERT_GT(units.baseX, 0);

    QList<QWidget *> built;
    for (QObject *child : dlg->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (w && w->property(kControlIdProperty).isValid())
            built.append(w);
    }
    ASSERT_EQ(static_cast<std::size_t>(built.size()), res::kMainTemplate.count);

    QWidget *previousFocusable = nullptr;
    int besideFields = 0;
    for (std::size_t i = 0; i < res::kMainTemplate.count; ++i) {
        const res::ControlTemplate &c = res::kMainTemplate.controls[i];
        QWidget *w = built[static_cast<int>(i)];
        SCOPED_TRACE(testing::Message()
                     << "template row " << i << " id " << c.id << " \"" << c.text << "\"");
        EXPECT_EQ(w->property(kControlIdProperty).toInt(), c.id);
        EXPECT_STREQ(KindName(w), KindName(c.kind));
        // The version and status lines are written at start-up.
        if (c.kind != res::Kind::Picture && c.id != IDC_VERSION && c.id != IDC_STATUS) {
            EXPECT_EQ(WidgetText(w), QString::fromUtf8(c.text));
        }

        const QRect expected((c.x * units.baseX + 2) / 4, (c.y * units.baseY + 4) / 8,
                             (c.w * units.baseX + 2) / 4, (c.h * units.baseY + 4) / 8);
        if (BesideAField(w, built) != nullptr) {
            ++besideFields; // placed by its field; see the test below
            continue;
        }
        EXPECT_EQ(w->y(), expected.y());
        if (c.kind == res::Kind::CheckBox || c.kind == res::Kind::Label) {
            // A text may take free room beside it, never a neighbour's.
            EXPECT_TRUE(w->geometry().contains(expected));
            if (c.style & res::kTextLeft) {
                EXPECT_EQ(w->geometry().right(), expected.right());
            } else {
                EXPECT_EQ(w->x(), expected.x());
            }
            for (QWidget *other : built) {
                if (other != w && !qobject_cast<QGroupBox *>(other) &&
                    w->width() != expected.width()) {
                    EXPECT_FALSE(other->geometry().intersects(w->geometry()));
                }
            }
        } else {
            EXPECT_EQ(w->geometry().topLeft(), expected.topLeft());
            EXPECT_EQ(w->width(), expected.width());
        }
        if (c.kind == res::Kind::Slider) {
            // A slider gives up a row a label below it reaches into.
            EXPECT_LE(w->height(), expected.height());
            EXPECT_GE(w->height(), expected.height() - units.baseY / 4);
        } else if (c.kind != res::Kind::List) {
            EXPECT_EQ(w->height(), expected.height());
        }

        if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            EXPECT_EQ(edit->isReadOnly(), (c.style & res::kReadOnly) != 0);
            EXPECT_EQ(edit->hasFrame(), (c.style & res::kBorder) != 0);
        }
        if (auto *list = qobject_cast<QComboBox *>(w)) {
            EXPECT_TRUE(list->isEditable());
            EXPECT_EQ(list->insertPolicy(), QComboBox::NoInsert);
            EXPECT_EQ(list->completer(), nullptr);
        }
        if (auto *box = qobject_cast<QCheckBox *>(w)) {
            EXPECT_EQ(box->layoutDirection() == Qt::RightToLeft, (c.style & res::kTextLeft) != 0);
        }
        if (auto *slider = qobject_cast<QSlider *>(w)) {
            EXPECT_EQ(slider->orientation(), Qt::Horizontal);
            EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
        }
        // Tab order is template order.
        if (w->focusPolicy() & Qt::TabFocus) {
            if (previousFocusable) {
                EXPECT_EQ(NextTabStop(previousFocusable), w);
            }
            previousFocusable = w;
        }
    }
    EXPECT_EQ(dlg->GetDlgItem(IDC_SLOW_START)->layoutDirection(), Qt::RightToLeft);
    // "0" to "12" of the readback column, Reg Addr, Data and the seven lists'.
    EXPECT_EQ(besideFields, 22);
}

// A label that names the edit or list beside it: centred on that field's
// height, its whole text shown, and a gap before the field.
TEST_F(PanelTest, EachLabelBesideAFieldIsCentredOnItAndClearOfIt) {
    StartPanel();
    const DialogUnits units = DialogUnits::ForFont(dlg->font());
    const QList<QWidget *> all = dlg->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    int seen = 0;
    for (QLabel *label : dlg->findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
        QWidget *field = BesideAField(label, all);
        if (!field)
            continue;
        ++seen;
        SCOPED_TRACE(label->text().toStdString());
        const QFontMetrics metrics(label->font());
        const int textTop = label->y() + (label->height() - metrics.height()) / 2;
        const int fieldMiddle = field->y() + field->height() / 2;
        EXPECT_NEAR(textTop + metrics.height() / 2, fieldMiddle, 1);
        EXPECT_LE(label->x() + metrics.horizontalAdvance(label->text()), field->x() - units.x(2))
            << "the text runs up to its field";
        EXPECT_GE(label->width(), label->sizeHint().width());
    }
    EXPECT_EQ(seen, 22);
}

// Each group box draws its frame's top line at half its caption's height
// below its top, where the template's positions assume it; no control
// crosses any of the frame's four lines.
TEST_F(PanelTest, GroupFramesRunWhereTheTemplateExpectsThemAndCrossNoControl) {
    StartPanel();
    const QList<QGroupBox *> groups = dlg->findChildren<QGroupBox *>();
    ASSERT_EQ(groups.size(), 8);
    for (QGroupBox *group : groups) {
        SCOPED_TRACE(group->title().toStdString());
        QImage image(group->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        group->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        // The first painted row near the right end, away from the caption.
        const int x = group->width() - 8;
        int top = -1;
        for (int y = 0; y < group->height() && top < 0; ++y) {
            if (qAlpha(image.pixel(x, y)) > 64)
                top = y;
        }
        EXPECT_NEAR(top, QFontMetrics(group->font()).height() / 2, 1);
        const QRect frame(group->x(), group->y() + top, group->width(), group->height() - top);
        for (QWidget *other : dlg->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (qobject_cast<QGroupBox *>(other) || !other->geometry().intersects(frame))
                continue;
            EXPECT_TRUE(frame.adjusted(1, 1, -1, -1).contains(other->geometry()))
                << other->property(kControlIdProperty).toInt() << " "
                << WidgetText(other).toStdString();
        }
    }
}

TEST_F(PanelTest, WindowHasTitleFixedSizeAndNoMinimiseOrMaximise) {
    StartPanel();
    const DialogUnits units = DialogUnits::ForFont(dlg->font());
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("XQ4620 Lumivex"));
    EXPECT_EQ(dlg->size(), QSize((460 * units.baseX + 2) / 4, (363 * units.baseY + 4) / 8));
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
    EXPECT_FALSE(dlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(dlg->windowIcon().isNull());
    // The application's main window: a normal top-level window, transient
    // for none, so it has its own task-bar entry.
    EXPECT_EQ(dlg->windowType(), Qt::Window);
    EXPECT_EQ(dlg->windowHandle()->transientParent(), nullptr);
    // The focus starts on Exit, the first control in tab order.
    EXPECT_EQ(dlg->focusWidget(), dlg->GetDlgItem(IDCANCEL));
}

TEST_F(PanelTest, ListsHoldTheirChoicesInTheirFixedOrders) {
    StartPanel();
    std::size_t total = 0;
    for (std::size_t i = 0; i < kListCount; ++i) {
        QComboBox *list = List(kListChoices[i].listId);
        ASSERT_EQ(list->count(), kListChoices[i].count);
        for (int item = 0; item < list->count(); ++item)
            EXPECT_EQ(list->itemText(item), QString::fromUtf8(kListChoices[i].items[item]));
        total += static_cast<std::size_t>(list->count());
    }
    EXPECT_EQ(total, 44u);
    EXPECT_EQ(List(IDC_FMODE)->itemText(1), QStringLiteral("1 MHz"));
    EXPECT_EQ(List(IDC_FMODE)->itemText(2), QStringLiteral("450 kHz"));
    EXPECT_EQ(List(IDC_RAMP_ON)->itemText(0), QStringLiteral("4 ms"));
    EXPECT_EQ(List(IDC_RAMP_OFF)->itemText(0), QStringLiteral("0"));
}

TEST_F(PanelTest, SelectingFromCodeRunsNoListAction) {
    StartPanel();
    ClearCalls();
    QSignalSpy activated(List(IDC_OVP), &QComboBox::activated);
    List(IDC_OVP)->setCurrentIndex(3);
    List(IDC_RAMP_ON)->setCurrentIndex(5);
    Settle();
    EXPECT_EQ(activated.count(), 0);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(g_shadow[0x02], 0x38);
}

TEST(PanelConstruction, BoxesAndTextsBeforeAnyDeviceAccess) {
    ResetProcessState();
    CEvalDlg dlg;
    EXPECT_EQ(dlg.m_bSleep, 1);
    EXPECT_EQ(dlg.m_bFeedbackA, 1);
    EXPECT_EQ(dlg.m_bFeedbackB, 1);
    for (int CEvalDlg::*clear :
         {&CEvalDlg::m_bPwmActiveLow, &CEvalDlg::m_bPwmB, &CEvalDlg::m_bPwmA, &CEvalDlg::m_bLinearA,
          &CEvalDlg::m_bLinearB, &CEvalDlg::m_bLedAEn, &CEvalDlg::m_bLedBEn, &CEvalDlg::m_bLed2OnA,
          &CEvalDlg::m_bSlowStart, &CEvalDlg::m_bFlagOcp, &CEvalDlg::m_bFlagOvp,
          &CEvalDlg::m_bFlagTsd})
        EXPECT_EQ(dlg.*clear, 0);
    for (uint8_t reg :
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x12})
        EXPECT_TRUE(dlg.RegisterText(reg)->isEmpty());
    EXPECT_EQ(dlg.GetDlgItem(IDC_SLEEP), nullptr); // no window yet
}

TEST_F(PanelTest, PullThenPushLeavesEveryControlAsItWas) {
    StartPanel();
    TypeInto(IDC_REGADDR, QStringLiteral("1f"));
    auto *edit = qobject_cast<QLineEdit *>(dlg->GetDlgItem(IDC_REGADDR));
    edit->setCursorPosition(1);
    Box(IDC_FLAG_OVP)->setChecked(true);
    QList<QVariant> before;
    for (QObject *child : dlg->children()) {
        if (auto *e = qobject_cast<QLineEdit *>(child))
            before.append(e->text());
        if (auto *b = qobject_cast<QCheckBox *>(child))
            before.append(b->isChecked());
    }
    dlg->Pull();
    dlg->Push();
    QList<QVariant> after;
    for (QObject *child : dlg->children()) {
        if (auto *e = qobject_cast<QLineEdit *>(child))
            after.append(e->text());
        if (auto *b = qobject_cast<QCheckBox *>(child))
            after.append(b->isChecked());
    }
    EXPECT_EQ(before, after);
    // Someone typing keeps their cursor and undo history.
    EXPECT_EQ(edit->cursorPosition(), 1);
    EXPECT_TRUE(edit->isUndoAvailable());
}

TEST_F(PanelTest, EveryControlHasAnAccessibleName) {
    StartPanel();
    for (std::size_t i = 0; i < res::kMainTemplate.count; ++i) {
        const res::ControlTemplate &c = res::kMainTemplate.controls[i];
        if (c.id == IDC_STATIC)
            continue;
        QAccessibleInterface *accessible =
            QAccessible::queryAccessibleInterface(dlg->GetDlgItem(c.id));
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << c.id;
    }
    auto name = [this](int id) {
        return QAccessible::queryAccessibleInterface(dlg->GetDlgItem(id))->text(QAccessible::Name);
    };
    EXPECT_EQ(name(IDC_REG03), QStringLiteral("Register 0x03"));
    EXPECT_EQ(name(IDC_REG12), QStringLiteral("Register 0x12"));
    EXPECT_EQ(dlg->GetDlgItem(IDC_REG05)->toolTip(), QStringLiteral("Max Current, Bank A"));
    EXPECT_EQ(dlg->GetDlgItem(IDC_REG0A)->toolTip(), QStringLiteral("Part Number, High"));
    EXPECT_EQ(name(IDC_DATA), QStringLiteral("Data"));
    EXPECT_EQ(name(IDC_BRIGHT_A), QStringLiteral("Brightness Bank A"));
    EXPECT_EQ(name(IDC_LED_A_EN), QStringLiteral("LED_A_EN"));
}

// What a user sees, whatever the template says: no control covers another
// (group boxes frame their neighbours by design), and every list holds its
// choices in order, found by the label beside it.
TEST_F(PanelTest, NoTwoControlsOverlap) {
    StartPanel();
    QList<QWidget *> shown;
    for (QObject *child : dlg->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (w && !w->isWindow() && w->isVisible() && !qobject_cast<QGroupBox *>(w))
            shown.append(w);
    }
    ASSERT_GT(shown.size(), 80);
    for (int i = 0; i < shown.size(); ++i) {
        for (int j = i + 1; j < shown.size(); ++j) {
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << WidgetText(shown[i]).toStdString() << " ("
                << shown[i]->property(kControlIdProperty).toInt() << ") and "
                << WidgetText(shown[j]).toStdString() << " ("
                << shown[j]->property(kControlIdProperty).toInt() << ")";
        }
    }
}

TEST_F(PanelTest, EachListBesideItsLabelHoldsItsChoicesInOrder) {
    StartPanel();
    const std::pair<const char *, QStringList> lists[] = {
        {"Fmode", {"500 kHz", "1 MHz", "450 kHz", "950 kHz"}},
        {"OVP", {"16 V", "24 V", "32 V", "40 V"}},
        {"OCP", {"600 mA", "800 mA", "1.0 A", "1.2 A"}},
        {"On", {"4 ms", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"}},
        {"Off", {"0", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"}},
        {"Start", {"0", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"}},
        {"Stop", {"0", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"}},
    };
    for (const auto &[label, choices] : lists) {
        SCOPED_TRACE(label);
        QLabel *text = nullptr;
        for (QLabel *candidate : dlg->findChildren<QLabel *>()) {
            if (candidate->text() == QString::fromLatin1(label))
                text = candidate;
        }
        ASSERT_NE(text, nullptr);
        // The nearest list to the right of the label, on its line.
        QComboBox *list = nullptr;
        for (QComboBox *candidate : dlg->findChildren<QComboBox *>()) {
            const QRect g = candidate->geometry();
            if (g.left() < text->geometry().right() || g.top() > text->geometry().center().y() ||
                g.bottom() < text->geometry().center().y())
                continue;
            if (!list || g.left() < list->geometry().left())
                list = candidate;
        }
        ASSERT_NE(list, nullptr);
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown << list->itemText(i);
        EXPECT_EQ(shown, choices);
    }
}
