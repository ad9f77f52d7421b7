// SPDX-License-Identifier: MIT
#include "panel/dialog_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <algorithm>

#include "res/resource.h"

DialogUnits DialogUnits::ForFont(const QFont &font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits{(letters + 26) / 52, metrics.height()};
}

namespace {

// How far to its right a label looks for the field it names, and the least
// room it leaves before that field; dialog units.
constexpr int kFieldReach = 12;
constexpr int kLabelGap = 3;

// Keeps a display-only box as it is shown: no click, key or focus changes it.
class DisplayOnly : public QObject {
public:
    explicit DisplayOnly(QObject *parent) : QObject(parent) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

// A group box as the template draws it: the frame's top line at half the
// caption's height below the box's top, broken where the caption runs
// through it. (Qt's own styles put the caption above the frame and the line
// lower down, where the template has placed fields.)
class TemplateGroupBox : public QGroupBox {
public:
    TemplateGroupBox(const QString &title, QWidget *parent) : QGroupBox(title, parent) {}

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const int pad = metrics.averageCharWidth() / 2;
        const QRect caption(metrics.averageCharWidth(), 0,
                            metrics.horizontalAdvance(title()) + 2 * pad, metrics.height());
        // The outline colour of the desktop style's frames, drawn here
        // because a style may move a group box's frame below its caption.
        painter.setClipRegion(QRegion(rect()) - QRegion(caption));
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(palette().color(QPalette::Window).darker(140));
        const QRectF frame =
            QRectF(rect().adjusted(0, metrics.height() / 2, -1, -1)).translated(0.5, 0.5);
        painter.drawRoundedRect(frame, 2, 2);
        painter.setClipping(false);
        style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                              isEnabled(), title(), QPalette::WindowText);
    }
};

QWidget *MakeControl(QDialog *dialog, const res::ControlTemplate &c) {
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
    case res::Kind::PushButton: {
        auto *button = new QPushButton(text, dialog);
        // Enter clicks the focused button only; the dialog decides the rest.
        button->setAutoDefault(false);
        button->setDefault(c.style & res::kDefaultButton);
        if (c.id == IDOK)
            QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::accept);
        else if (c.id == IDCANCEL)
            QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::reject);
        return button;
    }
    case res::Kind::Picture: {
        // Shown at its own size (a 2x version on HiDPI screens), never
        // stretched to the rectangle.
        auto *picture = new QLabel(dialog);
        picture->setPixmap(QPixmap(text));
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return picture;
    }
    case res::Kind::GroupBox: {
        auto *group = new TemplateGroupBox(text, dialog);
        // A frame drawn around its neighbours; they are its siblings, not
        // its children, so it must never take their clicks. It paints no
        // background, and nothing stands on its lines.
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        return group;
    }
    case res::Kind::Label: {
        auto *label = new QLabel(dialog);
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        return label;
    }
    case res::Kind::Edit: {
        auto *edit = new QLineEdit(text, dialog);
        edit->setReadOnly(c.style & res::kReadOnly);
        edit->setFrame(c.style & res::kBorder);
        return edit;
    }
    case res::Kind::CheckBox: {
        auto *check = new QCheckBox(text, dialog);
        if (c.style & res::kTextLeft)
            check->setLayoutDirection(Qt::RightToLeft);
        if (c.style & res::kReadOnly) {
            // It looks like any box, but shows what the panel read; a click
            // goes through it to the window (whose menu a right-click opens).
            check->setFocusPolicy(Qt::NoFocus);
            check->setAttribute(Qt::WA_TransparentForMouseEvents);
            check->installEventFilter(new DisplayOnly(check));
        }
        return check;
    }
    case res::Kind::List: {
        auto *list = new QComboBox(dialog);
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
        // A completer would turn a typed prefix into a choice.
        list->setCompleter(nullptr);
        return list;
    }
    case res::Kind::Slider: {
        auto *slider = new QSlider(Qt::Horizontal, dialog);
        slider->setTickPosition(QSlider::NoTicks);
        return slider;
    }
    }
    return nullptr;
}

// The layout is the template's, made for a narrower font than most desktops
// have. A text that would be clipped first takes free room beside it (to the
// right, or to the left for a box whose text is on its left) without touching
// any other control; what still does not fit gets a slightly smaller font.
void FitText(QWidget *widget, const QList<QWidget *> &others) {
    QRect rect = widget->geometry();
    const int wanted = widget->sizeHint().width();
    const bool growLeft = widget->layoutDirection() == Qt::RightToLeft;
    for (int width = wanted; width > rect.width(); --width) {
        QRect grown = rect;
        if (growLeft)
            grown.setLeft(rect.right() + 1 - width);
        else
            grown.setWidth(width);
        const bool free = std::none_of(others.begin(), others.end(), [&](QWidget *other) {
            return other != widget && !qobject_cast<QGroupBox *>(other) &&
                   other->geometry().intersects(grown);
        });
        if (free) {
            widget->setGeometry(grown);
            break;
        }
    }
    QFont font = widget->font();
    for (int step = 0; step < 6 && widget->sizeHint().width() > widget->width(); ++step) {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * 0.94);
        else
            font.setPixelSize(font.pixelSize() - 1);
        widget->setFont(font);
    }
}

// A label with an edit or a list just to its right on its line names that
// field. Its text is centred on the field's height and ends at least a small
// gap before the field, taking free room to its left when it needs it.
void PlaceBesideField(QLabel *label, const QList<QWidget *> &all, const DialogUnits &units) {
    const QRect rect = label->geometry();
    QWidget *field = nullptr;
    for (QWidget *other : all) {
        if (!qobject_cast<QLineEdit *>(other) && !qobject_cast<QComboBox *>(other))
            continue;
        const QRect g = other->geometry();
        const int gap = g.left() - rect.right() - 1;
        const bool onItsLine = g.top() <= rect.bottom() && g.bottom() >= rect.top();
        if (onItsLine && gap >= 0 && gap <= units.x(kFieldReach) &&
            (!field || g.left() < field->geometry().left()))
            field = other;
    }
    if (!field)
        return;
    const QRect target = field->geometry();
    const int end = target.left() - units.x(kLabelGap); // first pixel the text may not take
    QRect placed(rect.left(), target.top(), rect.width(), target.height());
    const int wanted = label->sizeHint().width();
    if (placed.left() + wanted > end)
        placed.setLeft(end - wanted);
    if (placed.right() >= end)
        placed.setRight(end - 1);
    const bool free = std::none_of(all.begin(), all.end(), [&](QWidget *other) {
        return other != label && !qobject_cast<QGroupBox *>(other) &&
               other->geometry().intersects(placed);
    });
    if (free) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setGeometry(placed);
    }
}

// The template lets the scale labels under the brightness sliders ("FF")
// reach a dialog unit into the slider's rectangle; the slider gives that
// row up, so nothing is drawn over anything else.
void ClearLabelsBelow(QWidget *slider, const QList<QWidget *> &texts) {
    QRect rect = slider->geometry();
    for (QWidget *text : texts) {
        const QRect label = text->geometry();
        if (label.intersects(rect) && label.top() > rect.center().y())
            rect.setBottom(label.top() - 1);
    }
    slider->setGeometry(rect);
}

} // namespace

QHash<int, QWidget *> BuildDialog(QDialog *dialog, const res::DialogTemplate &tmpl) {
    const DialogUnits units = DialogUnits::ForFont(dialog->font());
    QHash<int, QWidget *> byId;
    QWidget *previousFocusable = nullptr;
    QList<QWidget *> all;
    QList<QWidget *> texts;

    for (std::size_t i = 0; i < tmpl.count; ++i) {
        const res::ControlTemplate &c = tmpl.controls[i];
        QWidget *widget = MakeControl(dialog, c);
        widget->setProperty(kControlIdProperty, c.id);
        QRect rect = units.rect(c.x, c.y, c.w, c.h);
        if (c.kind == res::Kind::List) {
            // A list's template height is its opened drop-down; closed, it is
            // as tall as its edit field.
            rect.setHeight(widget->sizeHint().height());
        }
        widget->setGeometry(rect);
        if (c.kind == res::Kind::CheckBox || c.kind == res::Kind::Label)
            texts.append(widget);
        all.append(widget);
        if (c.id != IDC_STATIC)
            byId.insert(c.id, widget);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previousFocusable)
                QWidget::setTabOrder(previousFocusable, widget);
            previousFocusable = widget;
        }
    }
    for (QWidget *text : texts) {
        if (auto *label = qobject_cast<QLabel *>(text);
            label && label->property(kControlIdProperty).toInt() == IDC_STATIC)
            PlaceBesideField(label, all, units);
    }
    for (QWidget *text : texts)
        FitText(text, all);
    for (QWidget *widget : all) {
        if (qobject_cast<QSlider *>(widget))
            ClearLabelsBelow(widget, texts);
    }
    dialog->setWindowTitle(QString::fromUtf8(tmpl.title));
    dialog->setFixedSize(units.x(tmpl.width), units.y(tmpl.height));
    return byId;
}
