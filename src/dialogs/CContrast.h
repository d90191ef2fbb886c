#pragma once

#include <QColor>

// Contrast of colours as the web's accessibility guidelines compute it, for text and marks
// that must read on the palette's background.
class CContrast {
public:
    // Relative luminance: 0 for black, 1 for white.
    static double Luminance(const QColor& colour);
    // 1 (the same) to 21 (black on white).
    static double Ratio(const QColor& a, const QColor& b);
};
