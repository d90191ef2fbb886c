#pragma once

#include <QColor>

// Contrast of colours as the web's accessibility guidelines compute it, for text and marks
// that must read on the palette's background.
class CContrast {
public:
    // 1 (the same) to 21 (black on white).
    static double Ratio(const QColor& a, const QColor& b);
    // The colour itself when it reaches minRatio on the background, else the colour of its
    // hue and saturation whose lightness is nearest its own and that does (as far as white or
    // black, whichever stands out more, goes).
    static QColor Readable(const QColor& colour, const QColor& background, double minRatio);
};
