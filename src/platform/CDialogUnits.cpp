#include "CDialogUnits.h"

#include <QFont>
#include <QFontMetrics>

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = qMax(1, (alphabet / 26 + 1) / 2);
    m_nBaseY = qMax(1, metrics.height());
}

QRect CDialogUnits::MapRect(int x, int y, int cx, int cy) const {
    return QRect(x * m_nBaseX / 4, y * m_nBaseY / 8, cx * m_nBaseX / 4, cy * m_nBaseY / 8);
}
