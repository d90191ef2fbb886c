#pragma once

#include <QDialog>

class CHistoryChart;
class CProbeHistory;
class QPushButton;
class QTableWidget;

// The History window: modeless, a window of its own beside the form (either can be in
// front), updated as probes happen, closed by Escape. The chart on top, below it one row for
// each name, then the buttons.
class CHistoryWnd : public QDialog {
    Q_OBJECT
public:
    explicit CHistoryWnd(const CProbeHistory* pHistory, QWidget* pParent = nullptr);

    CHistoryChart* m_pChart = nullptr;
    QTableWidget* m_pTable = nullptr;
    QPushButton* m_pExport = nullptr;

    void Refresh();
    // Shows the window; the first time beside pBeside, where the screen has room.
    void ShowBeside(const QWidget* pBeside);
    // Writes the history as CSV to the file, telling the user when that fails.
    bool ExportTo(const QString& strPath);

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    void RefreshRow(int nRow);
    void PlaceBeside(const QRect& form, const QRect& room);
    void OnExport();

    const CProbeHistory* m_pHistory;
    bool m_bPlaced = false;
};
