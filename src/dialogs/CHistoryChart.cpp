#include "CHistoryChart.h"

#include "CContrast.h"
#include "CFramework.h"
#include "CPlatform.h"
#include "CProbeHistory.h"

#include <QAccessibleWidget>
#include <QDateTime>
#include <QHelpEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QToolTip>

#include <algorithm>
#include <vector>

namespace {
constexpr int kMark = 9; // failure marks stand in a strip along the top
constexpr int kDot = 5;
constexpr int kSlower = CProbeHistory::kKinds; // the legend's item for clipped answers

QColor Mix(const QColor& a, const QColor& b, double part) {
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * part),
                            float(a.greenF() + (b.greenF() - a.greenF()) * part),
                            float(a.blueF() + (b.blueF() - a.blueF()) * part));
}

// The shape of a kind, so that colour is not the only cue.
void DrawShape(QPainter& painter, int nKind, QPointF c, const QColor& color) {
    const double r = kDot / 2.0 + 0.5;
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    switch (nKind) {
    case CProbeHistory::Answered:
        painter.drawEllipse(c, r, r);
        break;
    case CProbeHistory::LookupFailure: // a triangle pointing down
        painter.drawPolygon(
            QPolygonF({c + QPointF(-r - 1, -r), c + QPointF(r + 1, -r), c + QPointF(0, r + 1)}));
        break;
    case CProbeHistory::SocketFailure: // a square
        painter.drawRect(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r));
        break;
    case CProbeHistory::ConnectFailure: // a cross
        painter.setPen(QPen(color, 2));
        painter.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
        painter.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
        break;
    case CProbeHistory::NoReply: // a ring
        painter.setPen(QPen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(c, r - 0.5, r - 0.5);
        break;
    default: // slower than the scale: a triangle pointing up
        painter.drawPolygon(
            QPolygonF({c + QPointF(-r - 1, r), c + QPointF(r + 1, r), c + QPointF(0, -r - 1)}));
        break;
    }
}

QString LegendText(int nKind) {
    return nKind == kSlower ? QStringLiteral("slower than the scale")
                            : CProbeHistory::KindText(nKind);
}

// A round upper bound for the scale: 1, 2 or 5 times a power of ten.
int RoundUp(int ms) {
    for (int step = 1;; step *= 10)
        for (const int f : {1, 2, 5})
            if (f * step >= ms)
                return f * step;
}

QAccessibleInterface* ChartAccessible(const QString& className, QObject* pObject) {
    if (className == QLatin1String("CHistoryChart") && pObject->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(pObject), QAccessible::Chart);
    return nullptr;
}
} // namespace

CHistoryChart::CHistoryChart(const CProbeHistory* pHistory, QWidget* pParent)
    : QWidget(pParent), m_pHistory(pHistory) {
    static const bool installed = (QAccessible::installFactory(ChartAccessible), true);
    Q_UNUSED(installed);
    setAccessibleName(QStringLiteral("Probe history chart"));
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(360, 200);
    Refresh();
}

QColor CHistoryChart::KindColor(int nKind, const QColor& background) {
    const bool dark = background.lightnessF() < 0.5;
    QColor color;
    switch (nKind) {
    case CProbeHistory::Answered:
        color = dark ? QColor(0x66, 0xbb, 0x6a) : QColor(0x2e, 0x7d, 0x32);
        break;
    case CProbeHistory::LookupFailure:
        color = dark ? QColor(0xff, 0xa7, 0x26) : QColor(0xb2, 0x4a, 0x00);
        break;
    case CProbeHistory::SocketFailure:
        color = dark ? QColor(0xef, 0x53, 0x50) : QColor(0xc6, 0x28, 0x28);
        break;
    case CProbeHistory::ConnectFailure:
        color = dark ? QColor(0xf4, 0x8f, 0xb1) : QColor(0xad, 0x14, 0x57);
        break;
    case CProbeHistory::NoReply:
        color = dark ? QColor(0xce, 0x93, 0xd8) : QColor(0x6a, 0x1b, 0x9a);
        break;
    case CProbeHistory::Skipped: // bands: a tint of the background, never the brightest
        return Mix(background, QColor(0x42, 0x8b, 0xe0), dark ? 0.3 : 0.2);
    case CProbeHistory::Stopped:
        return Mix(background, dark ? Qt::white : Qt::black, 0.12);
    case CProbeHistory::Suspended:
        return Mix(background, dark ? Qt::white : Qt::black, 0.06);
    default:
        color = dark ? QColor(0x66, 0xbb, 0x6a) : QColor(0x2e, 0x7d, 0x32);
        break;
    }
    // A palette of the user's own may still be too close: lighter or darker until 3:1.
    return CContrast::Readable(color, background, 3.0);
}

QString CHistoryChart::AxisText(int64_t nSeconds, int64_t nSpanMs) {
    const QDateTime at = QDateTime::fromSecsSinceEpoch(nSeconds);
    return at.toString(nSpanMs > 86400000 ? QStringLiteral("yyyy-MM-dd HH:mm")
                                          : QStringLiteral("HH:mm:ss"));
}

void CHistoryChart::Refresh() {
    setAccessibleDescription(m_pHistory->Description());
    update();
}

bool CHistoryChart::event(QEvent* pEvent) {
    if (pEvent->type() == QEvent::ToolTip) {
        const auto* pHelp = static_cast<QHelpEvent*>(pEvent);
        const QString tip = TipAt(pHelp->pos().x());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(pHelp->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(pEvent);
}

QString CHistoryChart::TipAt(int x) const {
    const std::deque<CProbeHistory::Entry>& entries = m_pHistory->Entries();
    if (entries.empty() || !m_plot.isValid())
        return QString();
    // The probe nearest to the pointer, within a few pixels.
    const double msPerPixel = m_span / std::max(1, m_plot.width() - 1);
    const auto at = int64_t(m_nFirst + (x - m_plot.left()) * msPerPixel);
    const int64_t reach = int64_t(4 * msPerPixel);
    auto it = std::lower_bound(
        entries.begin(), entries.end(), at - reach,
        [](const CProbeHistory::Entry& e, int64_t t) { return e.nAt + e.nLengthMs < t; });
    const CProbeHistory::Entry* pBest = nullptr;
    int64_t best = reach + 1;
    for (; it != entries.end() && it->nAt <= at + reach; ++it) {
        if (it->nCount == 0)
            continue;
        const int64_t distance =
            at < it->nAt ? it->nAt - at : std::max<int64_t>(0, at - it->nAt - it->nLengthMs);
        if (distance < best) {
            best = distance;
            pBest = &*it;
        }
    }
    if (pBest == nullptr)
        return QString();
    const int64_t now = CPlatform::Framework().Time();
    QString tip = m_pHistory->Text(pBest->nName);
    if (!m_pHistory->Text(pBest->nAddress).isEmpty())
        tip += QStringLiteral(" (%1)").arg(m_pHistory->Text(pBest->nAddress));
    tip += QLatin1Char('\n') + CProbeHistory::ClockText(pBest->nClock, now) + QStringLiteral(": ") +
           CProbeHistory::KindText(pBest->nKind);
    if (pBest->nCount > 1)
        tip += QStringLiteral(", %1 times until %2")
                   .arg(pBest->nCount)
                   .arg(CProbeHistory::ClockText(pBest->nClock + pBest->nLengthMs / 1000, now));
    if (pBest->nKind == CProbeHistory::Answered)
        tip += QStringLiteral("\n%1 ms to the first byte").arg(pBest->nValueMs);
    return tip;
}

void CHistoryChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor background = palette().base().color();
    const QColor ink = palette().text().color();
    painter.fillRect(rect(), background);
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height();

    // The legend wraps into as many rows as the width needs, along the bottom.
    struct Item {
        int nKind;
        QPoint at;
    };
    std::vector<Item> legend;
    int x = 4;
    int rows = 1;
    for (int kind = 0; kind <= kSlower; ++kind) {
        const int width = line + fm.horizontalAdvance(LegendText(kind)) + line / 2;
        if (x > 4 && x + width > this->width() - 4) {
            x = 4;
            ++rows;
        }
        legend.push_back({kind, QPoint(x, rows)});
        x += width + line / 2;
    }
    const int legendTop = height() - rows * line - 2;
    for (const Item& item : legend) {
        const QRect swatch(item.at.x(), legendTop + (item.at.y() - 1) * line + 2, line - 4,
                           line - 4);
        if (item.nKind >= CProbeHistory::Skipped && item.nKind < kSlower) {
            painter.fillRect(swatch, KindColor(item.nKind, background));
            if (item.nKind == CProbeHistory::Suspended)
                painter.fillRect(swatch, QBrush(Mix(background, ink, 0.4), Qt::BDiagPattern));
        } else {
            painter.setRenderHint(QPainter::Antialiasing);
            DrawShape(painter, item.nKind, QRectF(swatch).center(),
                      KindColor(item.nKind == kSlower ? int(CProbeHistory::Answered) : item.nKind,
                                background));
            painter.setRenderHint(QPainter::Antialiasing, false);
        }
        painter.setPen(ink);
        painter.drawText(item.at.x() + line, legendTop + (item.at.y() - 1) * line + fm.ascent(),
                         LegendText(item.nKind));
    }

    const std::deque<CProbeHistory::Entry>& entries = m_pHistory->Entries();
    // The scale: the 95th percentile of the answers, so one slow answer does not squash
    // the rest; slower ones are clipped at the top and flagged.
    std::vector<int32_t> times;
    times.reserve(entries.size());
    for (const CProbeHistory::Entry& entry : entries)
        if (entry.nKind == CProbeHistory::Answered)
            times.push_back(entry.nValueMs);
    int scaleMs = 100;
    if (!times.empty()) {
        const auto p95 = times.begin() + (times.size() - 1) * 95 / 100;
        std::nth_element(times.begin(), p95, times.end());
        scaleMs = RoundUp(std::max(100, *p95 * 6 / 5));
    }
    const QString top = QStringLiteral("%1 ms").arg(scaleMs);
    const int left = fm.horizontalAdvance(top) + 8;
    m_plot = QRect(left, 4, width() - left - 8, legendTop - line - 12);
    painter.setPen(palette().mid().color());
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(m_plot.adjusted(0, 0, -1, -1));
    painter.setPen(ink);
    const int yTop = m_plot.top() + kMark + 6;
    const int yBottom = m_plot.bottom() - 4;
    painter.drawText(4, yTop + fm.ascent() / 2, top);
    painter.drawText(4, yBottom + fm.ascent() / 2, QStringLiteral("0"));
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = m_plot.adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
    if (entries.empty() || m_plot.width() < 10 || yBottom - yTop < 10) {
        painter.drawText(m_plot, Qt::AlignCenter, QStringLiteral("No probes yet"));
        m_plot = QRect();
        return;
    }

    CFramework& framework = CPlatform::Framework();
    const int64_t now = framework.TickCount64();
    m_nFirst = entries.front().nAt;
    m_span = std::max<double>(1000.0, double(now - m_nFirst));
    const double scale = (m_plot.width() - 1) / m_span;
    const auto xOf = [&](int64_t at) { return m_plot.left() + int(double(at - m_nFirst) * scale); };
    const auto yOf = [&](int ms) {
        return yBottom - int(double(std::min(ms, scaleMs)) / scaleMs * (yBottom - yTop));
    };

    // Bands first, under the marks.
    for (size_t i = 0; i < entries.size(); ++i) {
        const CProbeHistory::Entry& entry = entries[i];
        if (entry.nKind < CProbeHistory::Skipped)
            continue;
        const int end =
            m_pHistory->IsOpenStretch(i) ? m_plot.right() : xOf(entry.nAt + entry.nLengthMs);
        const QRect band(QPoint(xOf(entry.nAt), m_plot.top() + 1),
                         QPoint(std::max(xOf(entry.nAt) + 1, end), m_plot.bottom() - 1));
        painter.fillRect(band, KindColor(entry.nKind, background));
        if (entry.nKind == CProbeHistory::Suspended)
            painter.fillRect(band, QBrush(Mix(background, ink, 0.4), Qt::BDiagPattern));
    }

    // Then one column at a time: the answers' fastest, middle and slowest, and each kind of
    // failure once.
    painter.setRenderHint(QPainter::Antialiasing);
    QColor colors[CProbeHistory::kKinds];
    for (int kind = 0; kind < CProbeHistory::kKinds; ++kind)
        colors[kind] = KindColor(kind, background);
    const QColor answered = colors[CProbeHistory::Answered];
    std::vector<int32_t> column;
    int columnX = -1;
    // The spread from the fastest to the slowest as a tint, the middle as a mark on it.
    const QColor spread = Mix(background, answered, 0.4);
    const auto flush = [&] {
        if (column.empty())
            return;
        const auto [low, high] = std::minmax_element(column.begin(), column.end());
        const int32_t lowest = *low;
        const int32_t highest = *high;
        const auto middle = column.begin() + (column.size() - 1) / 2;
        std::nth_element(column.begin(), middle, column.end());
        painter.setPen(QPen(spread, 1));
        painter.drawLine(columnX, yOf(lowest), columnX, yOf(highest));
        if (highest > scaleMs)
            DrawShape(painter, kSlower, QPointF(columnX, yTop - 3), answered);
        if (*middle <= scaleMs)
            DrawShape(painter, CProbeHistory::Answered, QPointF(columnX, yOf(*middle)), answered);
        column.clear();
    };
    int failureX[CProbeHistory::kKinds];
    std::fill(std::begin(failureX), std::end(failureX), -1);
    const double stripY = m_plot.top() + kMark / 2.0 + 2;
    for (const CProbeHistory::Entry& entry : entries) {
        if (entry.nKind >= CProbeHistory::Skipped)
            continue;
        const int at = xOf(entry.nAt);
        if (entry.nKind == CProbeHistory::Answered) {
            if (at != columnX) {
                flush();
                columnX = at;
            }
            column.push_back(entry.nValueMs);
            continue;
        }
        const QColor& color = colors[entry.nKind];
        const int last = xOf(entry.nAt + entry.nLengthMs);
        if (last > at) { // a folded run: a line from its first probe to its last
            painter.setPen(QPen(color, 2));
            painter.drawLine(QPointF(at, stripY), QPointF(last, stripY));
        }
        if (failureX[entry.nKind] != last) {
            DrawShape(painter, entry.nKind, QPointF(last, stripY), color);
            failureX[entry.nKind] = last;
        }
    }
    flush();
    painter.setRenderHint(QPainter::Antialiasing, false);

    // The times at both ends, with dates when the span passes a day.
    painter.setPen(ink);
    const int labelY = m_plot.bottom() + fm.ascent() + 3;
    const auto span = int64_t(m_span);
    const int64_t clockNow = int64_t(framework.Time());
    painter.drawText(m_plot.left(), labelY, AxisText(clockNow - span / 1000, span));
    const QString end = AxisText(clockNow, span);
    painter.drawText(m_plot.right() - fm.horizontalAdvance(end), labelY, end);
}
