#include "CDialogUnits.h"

#include <QFont>
#include <QFontMetrics>
#include <QFontMetricsF>

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    // The exact average letter width, not rounded to whole pixels: a rounded base unit loses
    // up to a seventh of every width at common sizes, and texts no longer fit their boxes.
    m_dBaseX = qMax(1.0, metrics.horizontalAdvance(QStringLiteral(
                             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                             52);
    m_nBaseY = qMax(1, QFontMetrics(font).height());
}

QRect CDialogUnits::MapRect(int x, int y, int cx, int cy) const {
    // Edges are mapped, not sizes, so controls that meet in the template meet on screen.
    const int left = qRound(x * m_dBaseX / 4);
    const int right = qRound((x + cx) * m_dBaseX / 4);
    return QRect(left, y * m_nBaseY / 8, right - left, cy * m_nBaseY / 8);
}
