#pragma once

#include <QRect>

class QFont;

// Dialog units as the dialog manager counts them: a quarter of the font's average
// character width across and an eighth of its height down, so a template keeps its
// proportions at any font size.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    QRect MapRect(int x, int y, int cx, int cy) const;

private:
    qreal m_dBaseX;
    int m_nBaseY;
};
