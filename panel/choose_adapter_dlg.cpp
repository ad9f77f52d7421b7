// SPDX-License-Identifier: MIT
#include "panel/choose_adapter_dlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>

#include "link/link.h"
#include "panel/ceval_dlg.h"

namespace {

AdapterLister &Lister() {
    static AdapterLister lister;
    return lister;
}

QString Shown(const std::string &text, const char *none) {
    return text.empty() ? QString::fromLatin1(none) : QString::fromStdString(text);
}

} // namespace

void SetAdapterLister(AdapterLister lister) {
    Lister() = std::move(lister);
}

std::vector<vtx::AdapterListing> ListAdapters() {
    return Lister() ? Lister()() : vtx::listAdapters();
}

QString AdapterTip(const std::string &name, const std::string &where) {
    if (name.empty())
        return QStringLiteral("Adapter on %1").arg(QString::fromStdString(where));
    if (where.empty() || where == name)
        return QStringLiteral("Adapter %1").arg(QString::fromStdString(name));
    return QStringLiteral("Adapter %1 on %2")
        .arg(QString::fromStdString(name), QString::fromStdString(where));
}

CChooseAdapterDlg::CChooseAdapterDlg(const std::vector<vtx::AdapterListing> &bridges,
                                     const std::string &current, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_bridges(bridges) {
    setWindowTitle(tr("Choose Adapter"));
    auto *question =
        new QLabel(bridges.empty() ? tr("No USB-to-I2C bridge is plugged in.")
                                   : tr("Which USB-to-I2C bridge is the evaluation board on?"),
                   this);

    m_list = new QTreeWidget(this);
    m_list->setAccessibleName(tr("USB-to-I2C bridges"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHeaderLabels({tr("Product"), tr("Serial"), tr("USB port"), tr("Bus")});
    int selected = 0;
    for (std::size_t i = 0; i < bridges.size(); ++i) {
        const vtx::AdapterListing &b = bridges[i];
        auto *row = new QTreeWidgetItem(
            m_list, QStringList{Shown(b.product, "?"), Shown(b.serial, "(none)"),
                                Shown(b.port, "?"), QString::fromStdString(b.bus)});
        row->setToolTip(0, QString::fromStdString(b.name));
        if (b.name == current)
            selected = static_cast<int>(i);
    }
    for (int column = 0; column < m_list->columnCount(); ++column)
        m_list->resizeColumnToContents(column);
    if (QTreeWidgetItem *row = m_list->topLevelItem(selected))
        m_list->setCurrentItem(row);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);
    // Enter anywhere takes the selected row.
    ok->setDefault(true);
    ok->setEnabled(!bridges.empty());
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    // The arrows move through the rows at once.
    m_list->setFocus();
}

std::string CChooseAdapterDlg::Chosen() const {
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (row < 0 || static_cast<std::size_t>(row) >= m_bridges.size())
        return {};
    return m_bridges[static_cast<std::size_t>(row)].name;
}

bool AdapterNamed() {
    const char *setting = std::getenv("VTX_ADAPTER");
    return setting && *setting;
}

bool CEvalDlg::ChooseAdapter(const std::vector<vtx::AdapterListing> &bridges) {
    CChooseAdapterDlg chooser(bridges, m_adapterName, this);
    if (chooser.exec() != QDialog::Accepted || chooser.Chosen().empty())
        return false;
    m_adapterName = chooser.Chosen();
    // The handle of the adapter used so far is not the chosen one's: should
    // the chosen one not open, nothing goes to the other instead.
    g_hLink = 0;
    // A name from the list is one the library takes; should it refuse it
    // all the same, no adapter is open and the status line says why.
    m_nameRefused = vtxSelectAdapter(m_adapterName.c_str()) < 0;
    return true;
}

void CEvalDlg::NoAdapterChosen(const std::vector<vtx::AdapterListing> &bridges) {
    SetStatus(QStringLiteral("USB Initialization Error"));
    QStringList names;
    for (const vtx::AdapterListing &b : bridges)
        names << QString::fromStdString(b.name);
    m_linkFailed = true;
    m_linkResult = vtx::kNotUnique;
    m_linkReason = QStringLiteral("no adapter chosen of the %1 USB-to-I2C bridges (%2): choose "
                                  "one with Choose Adapter... in the context menu")
                       .arg(bridges.size())
                       .arg(names.join(QStringLiteral(", ")));
    ShowStatusReason();
}

void CEvalDlg::OnChooseAdapter() {
    // Cancel leaves the panel, the adapter and the chip as they were.
    if (!ChooseAdapter(vtx::bridgesOf(ListAdapters())))
        return;
    OpenAdapter();
    ReadbackAll();
}

void CEvalDlg::OnReconnectAdapter() {
    // Nobody has said yet which of several bridges the board is on: that
    // is the question to answer first.
    if (m_adapterName.empty() && !AdapterNamed()) {
        const std::vector<vtx::AdapterListing> bridges = vtx::bridgesOf(ListAdapters());
        if (bridges.size() > 1 && !ChooseAdapter(bridges))
            return;
    }
    // The same adapter as before, set up again; the chip may have started
    // afresh meanwhile, which the readback shows. No control writes.
    OpenAdapter();
    ReadbackAll();
}
