// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The connection page's Find dialog: the controllers this PC used recently at once, and
// on Search those that answer in a range of addresses and, when ticked, on every serial
// port at every rate, row by row as they answer, while the window stays free. Choosing
// a row (double-click, Enter or Use) closes it with that connection; nothing connects.

#include "controller/conntext.h"
#include "wizard/finder.h"

#include <QDialog>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class frmFind : public QDialog {
    Q_OBJECT
public:
    // address: the first page's address (the range starts with its /24); ports: the
    // ports the first page lists, the only ones a row may name.
    frmFind(const IPv4& address, const QList<int>& ports, QWidget* parent = nullptr);
    ~frmFind() override;

    // The connection chosen, after the dialog was accepted.
    std::optional<ConnText> chosen() const { return m_chosen; }
    bool searching() const;
    // The search under way, for tests and benchmarks; null between searches.
    scan::Scanner* scanner() const { return m_scanner.get(); }

public slots:
    void cmdSearch_Click();  // starts a search, or stops the one under way
    void stopSearch();
    void reject() override;  // Cancel and the close box: the search stops, nothing chosen

signals:
    void rowShown(int row);  // a row was added or marked
    void searchEnded();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showRow(int index);
    void choose(QTreeWidgetItem* item);
    void showProgress(wizard::SearchState state);
    void searchDone();

    QComboBox* cmbRange = nullptr;
    QCheckBox* chkSerial = nullptr;
    QPushButton* cmdSearch = nullptr;
    QTreeWidget* lstFound = nullptr;
    QLabel* lblProgress = nullptr;
    QPushButton* cmdUse = nullptr;
    QPushButton* cmdCancel = nullptr;

    QList<int> m_ports;
    wizard::FindRows m_rows;
    std::unique_ptr<scan::Scanner> m_scanner;
    scan::ScanProgress m_progress;
    bool m_stopped = false;  // the search under way or last was stopped
    std::optional<ConnText> m_chosen;
};
