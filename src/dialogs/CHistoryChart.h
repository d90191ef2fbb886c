#pragma once

#include <QWidget>

#include <cstdint>

class CProbeHistory;

// The strip chart of the History window: time along, time to the first byte up, a colour
// and a shape for each outcome, bands where probes were held back, where the engine was
// stopped and where the machine slept. Each pixel column shows the fastest, the middle and
// the slowest answer in it; answers slower than the scale (set from the 95th percentile)
// are drawn at the top and flagged.
class CHistoryChart : public QWidget {
    Q_OBJECT
public:
    explicit CHistoryChart(const CProbeHistory* pHistory, QWidget* pParent = nullptr);

    // The colour of an outcome or stretch kind on a background, at least 3:1 against it
    // for the marks; the bands stay close to the background.
    static QColor KindColor(int nKind, const QColor& background);
    // An axis label: the time of day, with the date when the chart spans more than a day.
    static QString AxisText(int64_t nSeconds, int64_t nSpanMs);
    // Takes the history's summary sentence as the chart's accessible description.
    void Refresh();

protected:
    bool event(QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QString TipAt(int x) const;

    const CProbeHistory* m_pHistory;
    // Where the last paint put the time axis, for the tooltips.
    QRect m_plot;
    int64_t m_nFirst = 0;
    double m_span = 1;
};
