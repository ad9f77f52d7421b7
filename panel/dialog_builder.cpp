#include "panel/dialog_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>

#include "res/resource.h"

DialogUnits DialogUnits::ForFont(const QFont &font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits{(letters + 26) / 52, metrics.height()};
}

namespace {

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
        auto *picture = new QLabel(dialog);
        picture->setPixmap(QPixmap(text));
        picture->setScaledContents(true);
        return picture;
    }
    case res::Kind::GroupBox: {
        auto *group = new QGroupBox(text, dialog);
        // A frame drawn around its neighbours; they are its siblings, not
        // its children, so it must never take their clicks. It paints no
        // background, so where it stands in the stacking order is moot.
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
        return check;
    }
    case res::Kind::List: {
        auto *list = new QComboBox(dialog);
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
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

} // namespace

QHash<int, QWidget *> BuildDialog(QDialog *dialog, const res::DialogTemplate &tmpl) {
    const DialogUnits units = DialogUnits::ForFont(dialog->font());
    QHash<int, QWidget *> byId;
    QWidget *previousFocusable = nullptr;

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
        if (c.id != IDC_STATIC)
            byId.insert(c.id, widget);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previousFocusable)
                QWidget::setTabOrder(previousFocusable, widget);
            previousFocusable = widget;
        }
    }
    dialog->setWindowTitle(QString::fromUtf8(tmpl.title));
    dialog->setFixedSize(units.x(tmpl.width), units.y(tmpl.height));
    return byId;
}
