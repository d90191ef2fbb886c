#include "CHistoryWnd.h"

#include "CFramework.h"
#include "CHistoryChart.h"
#include "CPlatform.h"
#include "CProbeHistory.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

CHistoryWnd::CHistoryWnd(const CProbeHistory* pHistory, QWidget* pParent)
    : QDialog(pParent), m_pHistory(pHistory) {
    setWindowTitle(QStringLiteral("History"));
    setModal(false);
    auto* pLayout = new QVBoxLayout(this);
    m_pChart = new CHistoryChart(pHistory, this);
    pLayout->addWidget(m_pChart, 1);
    m_pTable = new QTableWidget(0, 10, this);
    m_pTable->setAccessibleName(QStringLiteral("Probes by name"));
    m_pTable->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Probes"), QStringLiteral("Answered"),
         QStringLiteral("Lookup failures"), QStringLiteral("Socket failures"),
         QStringLiteral("Connect failures"), QStringLiteral("No reply"),
         QStringLiteral("Last answered at"), QStringLiteral("Median (ms)"),
         QStringLiteral("Worst (ms)")});
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Tab goes on to the buttons rather than from cell to cell.
    m_pTable->setTabKeyNavigation(false);
    m_pTable->verticalHeader()->hide();
    // Fitted when rows come, not at every change: a probe costs one row's texts.
    m_pTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    pLayout->addWidget(m_pTable, 1);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    m_pExport = new QPushButton(QStringLiteral("Export..."), this);
    m_pExport->setAutoDefault(false);
    pButtons->addWidget(m_pExport);
    auto* pClose = new QPushButton(QStringLiteral("Close"), this);
    pClose->setAutoDefault(false);
    pButtons->addWidget(pClose);
    pLayout->addLayout(pButtons);
    setTabOrder(m_pChart, m_pTable);
    setTabOrder(m_pTable, m_pExport);
    setTabOrder(m_pExport, pClose);
    connect(m_pExport, &QPushButton::clicked, this, &CHistoryWnd::OnExport);
    connect(pClose, &QPushButton::clicked, this, &QDialog::close);
    connect(pHistory, &CProbeHistory::Changed, this, [this](int nRow) {
        if (!isVisible())
            return;
        if (nRow == -1) {
            Refresh();
            return;
        }
        m_pChart->Refresh();
        if (nRow >= 0)
            RefreshRow(nRow);
    });
}

void CHistoryWnd::showEvent(QShowEvent* pEvent) {
    Refresh();
    QDialog::showEvent(pEvent);
}

void CHistoryWnd::ShowBeside(const QWidget* pBeside) {
    if (!m_bPlaced) {
        m_bPlaced = true;
        Refresh();
        // The first size holds the whole table, whatever the font, within the screen.
        const QScreen* pScreen = pBeside != nullptr ? pBeside->screen() : screen();
        const QRect room = pScreen->availableGeometry();
        const QMargins margins = layout()->contentsMargins();
        const int tableWidth = m_pTable->horizontalHeader()->length() + 2 * m_pTable->frameWidth() +
                               m_pTable->verticalScrollBar()->sizeHint().width();
        const int width =
            std::min(room.width() * 9 / 10,
                     std::max(sizeHint().width(), tableWidth + margins.left() + margins.right()));
        resize(width, std::min(room.height() * 8 / 10, std::max(sizeHint().height(), 460)));
        if (pBeside != nullptr && pBeside->isVisible())
            PlaceBeside(pBeside->frameGeometry(), room);
    }
    show();
    raise();
    activateWindow();
}

void CHistoryWnd::PlaceBeside(const QRect& form, const QRect& room) {
    // The free room on each side of the form; the largest that holds the window takes it,
    // shrunk to fit. The frame's decorations are not known before the first show, so some
    // room is kept for them.
    const QSize decorations(16, 48);
    const QRect sides[] = {QRect(QPoint(form.right() + 8, room.top()), room.bottomRight()),
                           QRect(room.topLeft(), QPoint(form.left() - 8, room.bottom())),
                           QRect(QPoint(room.left(), form.bottom() + 8), room.bottomRight()),
                           QRect(room.topLeft(), QPoint(room.right(), form.top() - 8))};
    // The whole table's width first; where no side has that, as narrow as the window goes
    // (the table then scrolls), which is still better than covering the form.
    for (const int narrowest : {width(), minimumSizeHint().width()}) {
        const QSize least = QSize(narrowest, minimumSizeHint().height()) + decorations;
        const QRect* pBest = nullptr;
        for (const QRect& side : sides)
            if (side.width() >= least.width() && side.height() >= least.height() &&
                (pBest == nullptr ||
                 int64_t(side.width()) * side.height() > int64_t(pBest->width()) * pBest->height()))
                pBest = &side;
        if (pBest != nullptr) {
            resize(size().boundedTo(pBest->size() - decorations));
            const QSize frame = size() + decorations;
            // Level with the form where the room allows.
            move(std::clamp(form.left(), pBest->left(), pBest->right() + 1 - frame.width()),
                 std::clamp(form.top(), pBest->top(), pBest->bottom() + 1 - frame.height()));
            return;
        }
    }
    // No side has room enough: whichever place covers least of the form.
    const QSize frame = size() + decorations;
    QPoint best;
    int64_t covers = INT64_MAX;
    for (const QRect& side : sides) {
        const QPoint at(std::clamp(side.left(), room.left(), room.right() + 1 - frame.width()),
                        std::clamp(side.top(), room.top(), room.bottom() + 1 - frame.height()));
        const QRect covered = QRect(at, frame) & form;
        const int64_t area = covered.isEmpty() ? 0 : int64_t(covered.width()) * covered.height();
        if (area < covers) {
            covers = area;
            best = at;
        }
    }
    move(best);
}

void CHistoryWnd::Refresh() {
    m_pChart->Refresh();
    m_pTable->setRowCount(m_pHistory->RowCount());
    for (int row = 0; row < m_pHistory->RowCount(); ++row)
        RefreshRow(row);
    m_pTable->resizeColumnsToContents();
}

void CHistoryWnd::RefreshRow(int nRow) {
    const CProbeHistory::NameSummary row = m_pHistory->Summary(nRow);
    const bool added = nRow >= m_pTable->rowCount();
    if (added)
        m_pTable->setRowCount(nRow + 1);
    const auto number = [](int n) { return n < 0 ? QString() : QString::number(n); };
    const QStringList cells = {
        row.strName,
        number(row.nProbes),
        number(row.nAnswered),
        number(row.nLookupFailures),
        number(row.nSocketFailures),
        number(row.nConnectFailures),
        number(row.nNoReply),
        row.nLastAnswered < 0
            ? QString()
            : CProbeHistory::ClockText(row.nLastAnswered, CPlatform::Framework().Time()),
        number(row.nMedianMs),
        number(row.nWorstMs)};
    // The hidden row header carries the name, so that a screen reader names the row.
    if (m_pTable->verticalHeaderItem(nRow) == nullptr ||
        m_pTable->verticalHeaderItem(nRow)->text() != row.strName)
        m_pTable->setVerticalHeaderItem(nRow, new QTableWidgetItem(row.strName));
    for (int column = 0; column < int(cells.size()); ++column) {
        QTableWidgetItem* pItem = m_pTable->item(nRow, column);
        if (pItem == nullptr) {
            pItem = new QTableWidgetItem;
            if (column > 0)
                pItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_pTable->setItem(nRow, column, pItem);
        }
        if (pItem->text() != cells[column])
            pItem->setText(cells[column]);
    }
    if (added)
        m_pTable->resizeColumnsToContents();
}

bool CHistoryWnd::ExportTo(const QString& strPath) {
    QSaveFile file(strPath);
    if (file.open(QIODevice::WriteOnly) && file.write(m_pHistory->Csv()) >= 0 && file.commit())
        return true;
    QMessageBox::warning(this, QStringLiteral("Bumple"),
                         QStringLiteral("The history could not be written to %1:\n%2")
                             .arg(strPath, file.errorString()));
    return false;
}

void CHistoryWnd::OnExport() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export History"), QStringLiteral("bumple-history.csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty())
        ExportTo(path);
}
