#pragma once

#include <QDialog>

class CHistoryChart;
class CProbeHistory;
class QTableWidget;

// The History window: modeless, updated as probes happen, closed by Escape. The chart on
// top, below it one row for each name.
class CHistoryWnd : public QDialog {
    Q_OBJECT
public:
    explicit CHistoryWnd(const CProbeHistory* pHistory, QWidget* pParent = nullptr);

    CHistoryChart* m_pChart = nullptr;
    QTableWidget* m_pTable = nullptr;

    void Refresh();

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    const CProbeHistory* m_pHistory;
};
