#include "CHistoryChart.h"

#include "CFramework.h"
#include "CPlatform.h"
#include "CProbeHistory.h"

#include <QDateTime>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int kMarkHeight = 8; // failures stand as marks along the top
constexpr int kDot = 4;

QString ClockText(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("HH:mm:ss"));
}
} // namespace

CHistoryChart::CHistoryChart(const CProbeHistory* pHistory, QWidget* pParent)
    : QWidget(pParent), m_pHistory(pHistory) {
    setAccessibleName(QStringLiteral("Probe history chart"));
    setMinimumSize(420, 180);
    Refresh();
}

QColor CHistoryChart::KindColor(int nKind) {
    switch (nKind) {
    case CProbeHistory::Answered:
        return QColor(0x2e, 0x7d, 0x32); // green
    case CProbeHistory::LookupFailure:
        return QColor(0xe6, 0x51, 0x00); // orange
    case CProbeHistory::SocketFailure:
        return QColor(0xc6, 0x28, 0x28); // red
    case CProbeHistory::NoReply:
        return QColor(0x6a, 0x1b, 0x9a); // purple
    case CProbeHistory::Skipped:
        return QColor(0xbb, 0xde, 0xfb); // pale blue band
    default:
        return QColor(0xdd, 0xdd, 0xdd); // grey band
    }
}

void CHistoryChart::Refresh() {
    setAccessibleDescription(m_pHistory->Description());
    update();
}

void CHistoryChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QFontMetrics fm = fontMetrics();
    const int lineHeight = fm.height();

    // The legend along the bottom.
    int legendX = 4;
    const int legendY = height() - lineHeight - 2;
    for (int kind = CProbeHistory::Answered; kind <= CProbeHistory::Stopped; ++kind) {
        painter.fillRect(legendX, legendY + 2, lineHeight - 4, lineHeight - 4, KindColor(kind));
        legendX += lineHeight;
        const QString text = CProbeHistory::KindText(kind);
        painter.setPen(palette().text().color());
        painter.drawText(legendX, legendY + fm.ascent(), text);
        legendX += fm.horizontalAdvance(text) + lineHeight;
    }

    const std::deque<CProbeHistory::Entry>& entries = m_pHistory->Entries();
    int maxMs = 100;
    for (const CProbeHistory::Entry& entry : entries)
        if (entry.nKind == CProbeHistory::Answered)
            maxMs = std::max(maxMs, int(entry.nValueMs));
    const QString top = QStringLiteral("%1 ms").arg(maxMs);
    const QRect plot(fm.horizontalAdvance(top) + 8, 4, width() - fm.horizontalAdvance(top) - 12,
                     legendY - lineHeight - 10);
    painter.setPen(palette().mid().color());
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    painter.setPen(palette().text().color());
    painter.drawText(4, plot.top() + kMarkHeight + fm.ascent(), top);
    painter.drawText(4, plot.bottom(), QStringLiteral("0"));
    if (entries.empty() || plot.width() < 10 || plot.height() < 2 * kMarkHeight) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No probes yet"));
        return;
    }

    CFramework& framework = CPlatform::Framework();
    const DWORD first = entries.front().dwAt;
    const double span = std::max<double>(1000.0, double(framework.GetTickCount() - first));
    const auto xOf = [&](DWORD at) {
        return plot.left() + int(double(at - first) / span * (plot.width() - 1));
    };
    const int yBottom = plot.bottom() - 1;
    const int yTop = plot.top() + kMarkHeight + 2;
    for (const CProbeHistory::Entry& entry : entries) {
        const int x = xOf(entry.dwAt);
        const QColor color = KindColor(entry.nKind);
        switch (entry.nKind) {
        case CProbeHistory::Skipped:
        case CProbeHistory::Stopped: {
            // A stretch still open runs to now.
            const int end =
                entry.nValueMs < 0 ? plot.right() : xOf(entry.dwAt + DWORD(entry.nValueMs));
            painter.fillRect(
                QRect(QPoint(x, plot.top() + 1), QPoint(std::max(x + 1, end), plot.bottom() - 1)),
                color);
            break;
        }
        case CProbeHistory::Answered: {
            const int y = yBottom - int(double(entry.nValueMs) / maxMs * (yBottom - yTop));
            painter.fillRect(x - kDot / 2, y - kDot / 2, kDot, kDot, color);
            break;
        }
        default:
            painter.fillRect(x - 1, plot.top() + 1, 3, kMarkHeight, color);
            break;
        }
    }
    painter.setPen(palette().text().color());
    const int labelY = plot.bottom() + fm.ascent() + 2;
    painter.drawText(plot.left(), labelY, ClockText(entries.front().nClock));
    const QString now = ClockText(int64_t(framework.Time()));
    painter.drawText(plot.right() - fm.horizontalAdvance(now), labelY, now);
}
