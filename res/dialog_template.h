// SPDX-License-Identifier: MIT
// Dialog templates as data: every control with its ID, kind, text, rectangle
// in dialog units and style, in template order (which is the tab order).
#ifndef RES_DIALOG_TEMPLATE_H
#define RES_DIALOG_TEMPLATE_H

#include <cstddef>

namespace res {

enum class Kind { PushButton, Picture, GroupBox, Label, Edit, CheckBox, List, Slider };

enum Style : unsigned {
    kNone = 0,
    kReadOnly = 1u << 0,      // edit: not editable; check box: display only
    kBorder = 1u << 1,        // edit: framed
    kTextLeft = 1u << 2,      // check box: text left of the box
    kVScroll = 1u << 3,       // list: the drop-down has a scroll bar
    kNoPrefix = 1u << 4,      // label: '&' is shown, not a mnemonic
    kDefaultButton = 1u << 5, // push button: the dialog's default button
};

struct ControlTemplate {
    int id; // IDC_STATIC for controls without an ID
    Kind kind;
    const char *text; // a picture's text is its resource path
    int x, y, w, h;   // dialog units; a list's h is its opened drop-down
    unsigned style;
};

struct DialogTemplate {
    int id;
    const char *title;
    int width, height; // client area, dialog units
    const ControlTemplate *controls;
    std::size_t count;
};

extern const DialogTemplate kMainTemplate;  // IDD_MAIN
extern const DialogTemplate kAboutTemplate; // IDD_ABOUTBOX

} // namespace res

#endif
