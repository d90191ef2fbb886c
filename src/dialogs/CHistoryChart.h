#pragma once

#include <QWidget>

class CProbeHistory;

// The strip chart of the History window: time along, time to the first byte up, a colour
// for each outcome, bands where probes were skipped and where the engine was stopped.
class CHistoryChart : public QWidget {
    Q_OBJECT
public:
    explicit CHistoryChart(const CProbeHistory* pHistory, QWidget* pParent = nullptr);

    // The colour of an outcome or stretch kind, also shown in the legend.
    static QColor KindColor(int nKind);
    // Takes the history's summary sentence as the chart's accessible description.
    void Refresh();

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    const CProbeHistory* m_pHistory;
};
