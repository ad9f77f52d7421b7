// SPDX-License-Identifier: MIT
#include "panel/accessible_names.h"

#include <QWidget>

#include "chip/xq4620.h"
#include "panel/hex_text.h"
#include "panel/register_map.h"
#include "res/resource.h"

namespace {

struct NamedControl {
    int id;
    const char *name;
};

const NamedControl kNames[] = {
    {IDC_REGADDR, "Reg Addr"},
    {IDC_DATA, "Data"},
    {IDC_FMODE, "Fmode"},
    {IDC_OVP, "OVP"},
    {IDC_OCP, "OCP"},
    {IDC_RAMP_ON, "Ramp On"},
    {IDC_RAMP_OFF, "Ramp Off"},
    {IDC_RAMP_START, "Ramp Start"},
    {IDC_RAMP_STOP, "Ramp Stop"},
    {IDC_BRIGHT_A, "Brightness Bank A"},
    {IDC_BRIGHT_B, "Brightness Bank B"},
    {IDC_CURRENT_A, "Max Current Bank A"},
    {IDC_CURRENT_B, "Max Current Bank B"},
    {IDC_VERSION, "Version"},
    {IDC_STATUS, "Status"},
};

} // namespace

void NameControls(const QHash<int, QWidget *> &controls) {
    for (const NamedControl &named : kNames)
        controls.value(named.id)->setAccessibleName(QString::fromUtf8(named.name));
    for (std::size_t i = 0; i < kRegisterCount; ++i) {
        QWidget *text = controls.value(kRegisters[i].textId);
        text->setAccessibleName(QStringLiteral("Register 0x") + HexByte(kRegisters[i].reg));
        // The register's name as the chip's description gives it.
        if (const chip::Register *info = chip::findRegister(kRegisters[i].reg)) {
            text->setAccessibleDescription(QString::fromUtf8(info->name));
            text->setToolTip(QString::fromUtf8(info->name));
        }
    }
}
