#include "CHistoryWnd.h"

#include "CHistoryChart.h"
#include "CProbeHistory.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

CHistoryWnd::CHistoryWnd(const CProbeHistory* pHistory, QWidget* pParent)
    : QDialog(pParent), m_pHistory(pHistory) {
    setWindowTitle(QStringLiteral("History"));
    setModal(false);
    auto* pLayout = new QVBoxLayout(this);
    m_pChart = new CHistoryChart(pHistory, this);
    pLayout->addWidget(m_pChart, 1);
    m_pTable = new QTableWidget(0, 9, this);
    m_pTable->setAccessibleName(QStringLiteral("Probes by name"));
    m_pTable->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Probes"), QStringLiteral("Answered"),
         QStringLiteral("Lookup failures"), QStringLiteral("Socket failures"),
         QStringLiteral("No reply"), QStringLiteral("Last answered at"),
         QStringLiteral("Median (ms)"), QStringLiteral("Worst (ms)")});
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->verticalHeader()->hide();
    m_pTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    pLayout->addWidget(m_pTable, 1);
    resize(860, 420);
    connect(pHistory, &CProbeHistory::Changed, this, [this] {
        if (isVisible())
            Refresh();
    });
}

void CHistoryWnd::showEvent(QShowEvent* pEvent) {
    Refresh();
    QDialog::showEvent(pEvent);
}

void CHistoryWnd::Refresh() {
    m_pChart->Refresh();
    const std::vector<CProbeHistory::NameSummary> rows = m_pHistory->Summaries();
    m_pTable->setRowCount(int(rows.size()));
    const auto number = [](int n) { return n < 0 ? QString() : QString::number(n); };
    for (int i = 0; i < int(rows.size()); ++i) {
        const CProbeHistory::NameSummary& row = rows[size_t(i)];
        const QStringList cells = {row.strName,
                                   number(row.nProbes),
                                   number(row.nAnswered),
                                   number(row.nLookupFailures),
                                   number(row.nSocketFailures),
                                   number(row.nNoReply),
                                   row.nLastAnswered < 0
                                       ? QString()
                                       : QDateTime::fromSecsSinceEpoch(row.nLastAnswered)
                                             .toString(QStringLiteral("HH:mm:ss")),
                                   number(row.nMedianMs),
                                   number(row.nWorstMs)};
        for (int column = 0; column < int(cells.size()); ++column) {
            auto* pItem = new QTableWidgetItem(cells[column]);
            if (column > 0)
                pItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_pTable->setItem(i, column, pItem);
        }
    }
}
