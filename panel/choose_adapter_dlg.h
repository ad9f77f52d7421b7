// SPDX-License-Identifier: MIT
// Choose Adapter: the USB-to-I2C bridges plugged in, one row each, for the
// person at the bench to say which one the evaluation board is on.
#ifndef PANEL_CHOOSE_ADAPTER_DLG_H
#define PANEL_CHOOSE_ADAPTER_DLG_H

#include <QDialog>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "vtx/adapters.h"

class QTreeWidget;

class CChooseAdapterDlg : public QDialog {
    Q_OBJECT

public:
    // Lists `bridges` in their order; the row named `current` is selected,
    // the first when none is.
    CChooseAdapterDlg(const std::vector<vtx::AdapterListing> &bridges, const std::string &current,
                      QWidget *parent = nullptr);

    // The selected bridge's name (usb:A1, usb-port:1-2.3); "" when the list
    // is empty.
    std::string Chosen() const;

private:
    std::vector<vtx::AdapterListing> m_bridges;
    QTreeWidget *m_list = nullptr;
};

// The system's I2C buses, as the chooser and the version line's tooltip see
// them: vtx::listAdapters(), unless a test put another lister in its place
// (an empty function puts it back).
using AdapterLister = std::function<std::vector<vtx::AdapterListing>()>;
void SetAdapterLister(AdapterLister lister);
std::vector<vtx::AdapterListing> ListAdapters();

// Whether VTX_ADAPTER names an adapter (set and not empty).
bool AdapterNamed();

// The version line's tooltip: "Adapter usb:A1 on /dev/i2c-7", "Adapter sim".
QString AdapterTip(const std::string &name, const std::string &where);

#endif
