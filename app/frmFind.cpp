// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "app/frmFind.h"

#include "locale/modLocale.h"
#include "localeui/localizeform.h"
#include "wizard/wizardmodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { kConn, kId, kModel, kAddress, kMask, kBaud, kStatus, kColumns };

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& tagged)
{
    auto* button = new QPushButton(tagged, parent);
    button->setObjectName(QLatin1String(name));
    // Enter is the dialog's own: it searches from the range, chooses in the list.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

frmFind::frmFind(const IPv4& address, const QList<int>& ports, QWidget* parent)
    : QDialog(parent),
      m_ports(ports),
      m_rows(wizard::RecentConnections().load())
{
    setObjectName(QStringLiteral("frmFind"));
    setWindowTitle(QStringLiteral("Find a Controller#9025"));
    setWindowModality(Qt::WindowModal);

    auto* rangeLabel = new QLabel(QStringLiteral("&Range#9026"), this);
    rangeLabel->setObjectName(QStringLiteral("lblRange"));
    cmbRange = new QComboBox(this);
    cmbRange->setObjectName(QStringLiteral("cmbRange"));
    cmbRange->setEditable(true);
    cmbRange->setInsertPolicy(QComboBox::NoInsert);
    cmbRange->setMinimumContentsLength(30);
    rangeLabel->setBuddy(cmbRange);
    // The PC's own networks to pick from; picking one puts its range in the field.
    for (const wizard::OwnNetwork& n : wizard::OwnNetworks())
        cmbRange->addItem(QStringLiteral("%1    %2").arg(n.range, n.interfaceName), n.range);
    connect(cmbRange, &QComboBox::activated, this,
            [this](int index) { cmbRange->setEditText(cmbRange->itemData(index).toString()); });
    cmbRange->setCurrentIndex(-1);
    cmbRange->setEditText(wizard::StartRange(address));
    cmdSearch = MakeButton(this, "cmdSearch", QStringLiteral("&Search#9028"));
    chkSerial = new QCheckBox(QStringLiteral("Also try &all serial ports at every baud rate#9027"), this);
    chkSerial->setObjectName(QStringLiteral("chkSerial"));
    chkSerial->setEnabled(!ports.isEmpty());

    auto* listLabel = new QLabel(QStringLiteral("C&ontrollers#9031"), this);
    listLabel->setObjectName(QStringLiteral("lblFound"));
    lstFound = new QTreeWidget(this);
    lstFound->setObjectName(QStringLiteral("lstFound"));
    lstFound->setColumnCount(kColumns);
    lstFound->setHeaderLabels({QStringLiteral("Connection#9032"), QStringLiteral("Controller ID#9033"),
                               QStringLiteral("Model#9034"), QStringLiteral("IP Address#1017"),
                               QStringLiteral("Subnet Mask#1016"), QStringLiteral("Baud Rate#1013"),
                               QStringLiteral("Status#9035")});
    lstFound->setRootIsDecorated(false);
    lstFound->setUniformRowHeights(true);
    lstFound->setAllColumnsShowFocus(true);
    lstFound->header()->setStretchLastSection(true);
    listLabel->setBuddy(lstFound);
    connect(lstFound, &QTreeWidget::itemActivated, this, &frmFind::choose);

    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblProgress->setWordWrap(true);
    cmdUse = MakeButton(this, "cmdUse", QStringLiteral("&Use#9030"));
    cmdCancel = MakeButton(this, "cmdCancel", QStringLiteral("&Cancel#1002"));
    connect(cmdSearch, &QPushButton::clicked, this, &frmFind::cmdSearch_Click);
    connect(cmdUse, &QPushButton::clicked, this, [this] { choose(lstFound->currentItem()); });
    connect(cmdCancel, &QPushButton::clicked, this, &frmFind::reject);
    connect(lstFound, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { cmdUse->setEnabled(item && (item->flags() & Qt::ItemIsEnabled)); });

    auto* range = new QHBoxLayout;
    range->addWidget(rangeLabel);
    range->addWidget(cmbRange, 1);
    range->addWidget(cmdSearch);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblProgress, 1);
    buttons->addWidget(cmdUse);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(range);
    layout->addWidget(chkSerial);
    layout->addWidget(listLabel);
    layout->addWidget(lstFound, 1);
    layout->addLayout(buttons);

    LocalizeForm(this);
    for (int i = 0; i < m_rows.rows().size(); ++i)
        showRow(i);
    lstFound->setCurrentItem(lstFound->topLevelItem(0));
    cmdUse->setEnabled(lstFound->currentItem() && (lstFound->currentItem()->flags() & Qt::ItemIsEnabled));
    for (int c = 0; c < kStatus; ++c)
        lstFound->resizeColumnToContents(c);
    resize(920, 400);
    // The list when there is a recent controller to choose, else the range to search.
    if (lstFound->topLevelItemCount() > 0)
        lstFound->setFocus();
    else
        cmbRange->setFocus();
}

frmFind::~frmFind() = default;

bool frmFind::searching() const { return m_scanner && m_scanner->running(); }

void frmFind::cmdSearch_Click()
{
    if (searching()) {
        stopSearch();
        return;
    }
    const std::optional<QList<scan::Target>> targets =
        wizard::SearchTargets(cmbRange->currentText(), chkSerial->isChecked());
    if (!targets) {
        lblProgress->setText(LStr(9042));
        cmbRange->setFocus();
        return;
    }
    m_rows.restart();
    lstFound->clear();
    for (int i = 0; i < m_rows.rows().size(); ++i)
        showRow(i);
    scan::ScanOptions options;
    options.details = true;
    options.clientName = QStringLiteral("tolvane find");
    m_scanner.reset();
    m_scanner = std::make_unique<scan::Scanner>(*targets, options);
    m_progress = {};
    m_stopped = false;
    m_progress.total = m_scanner->total();
    connect(m_scanner.get(), &scan::Scanner::answered, this, [this](const scan::Found& f) { showRow(m_rows.take(f)); });
    m_scanner->setProgressHook([this](const scan::ScanProgress& p) {
        m_progress = p;
        showProgress(wizard::SearchState::kRunning);
    });
    connect(m_scanner.get(), &scan::Scanner::done, this, &frmFind::searchDone);
    cmdSearch->setText(LStr(9029));
    showProgress(wizard::SearchState::kRunning);
    m_scanner->start();
}

void frmFind::stopSearch()
{
    if (!searching())
        return;
    m_stopped = true;
    m_scanner->cancel();  // ends every try now; searchDone follows before it returns
}

void frmFind::searchDone()
{
    cmdSearch->setText(LStr(9028));
    // A port that answered skips its other rates: a search that ran out covered them all.
    if (!m_stopped)
        m_progress.tried = m_progress.total;
    showProgress(m_stopped ? wizard::SearchState::kStopped : wizard::SearchState::kDone);
    for (int c = 0; c < lstFound->columnCount() - 1; ++c)
        lstFound->resizeColumnToContents(c);
    emit searchEnded();
}

void frmFind::showProgress(wizard::SearchState state)
{
    lblProgress->setText(wizard::SearchProgressText(m_progress, state));
}

void frmFind::showRow(int index)
{
    const wizard::FindRow& row = m_rows.rows().at(index);
    QTreeWidgetItem* item = lstFound->topLevelItem(index);
    if (!item) {
        item = new QTreeWidgetItem(lstFound);
        item->setData(kConn, Qt::UserRole, row.conn);
    }
    item->setText(kConn, row.conn);
    item->setText(kId, wizard::Printable(row.id));
    item->setText(kModel, wizard::Printable(row.model));
    item->setText(kAddress, row.settings ? FormatIPv4(row.settings->ipAddress) : QString());
    item->setText(kMask, row.settings ? FormatIPv4(row.settings->subnetMask) : QString());
    item->setText(kBaud, row.settings ? QString::number(row.settings->baudRate) : QString());
    item->setText(kStatus, wizard::StatusText(row));
    // A recent controller that answers now stands out.
    QFont font = lstFound->font();
    font.setBold(row.used && row.answered);
    for (int c = 0; c < kColumns; ++c)
        item->setFont(c, font);
    const std::optional<ConnText> t = ParseConnText(row.conn);
    if (!t || !wizard::PageShows(*t, m_ports)) {
        item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
        item->setToolTip(kConn, LStr(9043));
    }
    if (!lstFound->currentItem() && (item->flags() & Qt::ItemIsEnabled))
        lstFound->setCurrentItem(item);
    emit rowShown(index);
}

void frmFind::choose(QTreeWidgetItem* item)
{
    if (!item || !(item->flags() & Qt::ItemIsEnabled))
        return;
    const std::optional<ConnText> t = ParseConnText(item->data(kConn, Qt::UserRole).toString());
    if (!t)
        return;
    stopSearch();
    m_chosen = t;
    accept();
}

void frmFind::reject()
{
    stopSearch();
    QDialog::reject();
}

void frmFind::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        // The first Escape stops a search and keeps what it found; the next closes.
        if (searching())
            stopSearch();
        else
            reject();
        return;
    case Qt::Key_Enter:
    case Qt::Key_Return:
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else if (cmbRange->isAncestorOf(focusWidget()) || focusWidget() == cmbRange)
            cmdSearch_Click();
        // In the list, Enter has chosen the row already (itemActivated).
        return;
    default: QDialog::keyPressEvent(event);
    }
}
