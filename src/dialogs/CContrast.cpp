#include "CContrast.h"

#include <algorithm>
#include <cmath>

namespace {
// Relative luminance: 0 for black, 1 for white.
double Luminance(const QColor& colour) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}
} // namespace

double CContrast::Ratio(const QColor& a, const QColor& b) {
    const auto [dark, light] = std::minmax({Luminance(a), Luminance(b)});
    return (light + 0.05) / (dark + 0.05);
}

QColor CContrast::Readable(const QColor& colour, const QColor& background, double minRatio) {
    if (Ratio(colour, background) >= minRatio)
        return colour;
    const auto contrast = [&background](const QColor& c) { return Ratio(c, background); };
    const auto shade = [&colour](double lightness) {
        return QColor(QColor::fromHslF(colour.hslHueF(), colour.hslSaturationF(), lightness).rgb());
    };
    double near = colour.lightnessF();
    double far = contrast(Qt::white) >= contrast(Qt::black) ? 1.0 : 0.0;
    if (contrast(shade(far)) < minRatio)
        return shade(far);
    for (int i = 0; i < 16; ++i) {
        const double middle = (near + far) / 2;
        (contrast(shade(middle)) >= minRatio ? far : near) = middle;
    }
    return shade(far);
}
