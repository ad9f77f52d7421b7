// SPDX-License-Identifier: MIT
// Template of the About box, IDD_ABOUTBOX.
#include "res/dialog_template.h"
#include "res/resource.h"

namespace res {
namespace {

const ControlTemplate kAboutControls[] = {
    {IDC_STATIC, Kind::Picture, ":/res/about.png", 11, 17, 20, 20, kNone},
    {IDC_STATIC, Kind::Label, "XQ3970 Version 1.0", 40, 10, 119, 8, kNoPrefix},
    {IDC_STATIC, Kind::Label, "Evaluation panel for the XQ4620 backlight driver", 40, 25, 119, 8,
     kNone},
    {IDOK, Kind::PushButton, "OK", 178, 7, 50, 16, kDefaultButton},
};

} // namespace

const DialogTemplate kAboutTemplate = {
    IDD_ABOUTBOX, "About XQ3970", 235,
    55,           kAboutControls, sizeof kAboutControls / sizeof kAboutControls[0]};

} // namespace res
