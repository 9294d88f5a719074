#include "ui/theme.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orvinta {

namespace {

QColor rgbF(double r, double g, double b, double a = 1.0) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                            static_cast<float>(a));
}

}  // namespace

QColor segmentPaletteColor(double position) {
    if (position > 0.92) {
        return Theme::segmentRed();
    }
    if (position > 0.80) {
        return Theme::segmentYellow();
    }
    if (position > 0.65) {
        return Theme::segmentGreen();
    }
    return Theme::segmentBlueGreen();
}

const std::array<ColorStop, 5>& loudnessRampStops() {
    static const std::array<ColorStop, 5> stops = {{
        {0.0, Theme::segmentBlueGreen()},
        {0.65, Theme::segmentBlueGreen()},
        {0.80, Theme::segmentGreen()},
        {0.92, Theme::segmentYellow()},
        {1.0, Theme::segmentRed()},
    }};
    return stops;
}

QColor loudnessRampColor(double t) {
    if (std::isnan(t)) {
        t = 0.0;
    }
    t = std::clamp(t, 0.0, 1.0);
    const auto& stops = loudnessRampStops();
    // Pick the pair of stops: t <= 0.65, t <= 0.8, t <= 0.92, otherwise the last pair.
    std::size_t upper = stops.size() - 1;
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (t <= stops[i].location) {
            upper = i;
            break;
        }
    }
    const ColorStop& lo = stops[upper - 1];
    const ColorStop& hi = stops[upper];
    const double weight = (t - lo.location) / (hi.location - lo.location);
    auto mix = [weight](float a, float b) { return a + (b - a) * weight; };
    return rgbF(mix(lo.color.redF(), hi.color.redF()), mix(lo.color.greenF(), hi.color.greenF()),
                mix(lo.color.blueF(), hi.color.blueF()));
}

Theme::Theme(QObject* parent) : QObject(parent) {}

// The named colours are this application's own shades for a dark background.
QColor Theme::accent() {
    return QColor(0x2f, 0x7c, 0xf6);
}
QColor Theme::red() {
    return QColor(0xf0, 0x45, 0x3a);
}
QColor Theme::orange() {
    return QColor(0xff, 0x9a, 0x1f);
}
QColor Theme::yellow() {
    return QColor(0xff, 0xd2, 0x1f);
}
QColor Theme::green() {
    return QColor(0x34, 0xcf, 0x5c);
}
QColor Theme::cyan() {
    return QColor(0x4f, 0xcb, 0xf0);
}
QColor Theme::pink() {
    return QColor(0xff, 0x4d, 0x85);
}
QColor Theme::white() {
    return QColor(0xff, 0xff, 0xff);
}
QColor Theme::black() {
    return QColor(0x00, 0x00, 0x00);
}
QColor Theme::text() {
    return QColor(0xf2, 0xf2, 0xf2);
}

QColor Theme::windowBackground() {
    return rgbF(0.09, 0.095, 0.10);
}
QColor Theme::panelFill() {
    return rgbF(0.0, 0.0, 0.0, 0.35);
}
QColor Theme::panelSurface() {
    static const QColor surface = [] {
        QImage pixel(1, 1, QImage::Format_RGB32);
        pixel.fill(windowBackground());
        QPainter painter(&pixel);
        painter.fillRect(0, 0, 1, 1, panelFill());
        painter.end();
        return pixel.pixelColor(0, 0);
    }();
    return surface;
}
QColor Theme::panelBorder() {
    return whiteAlpha(0.1);
}
QColor Theme::chipFill() {
    return whiteAlpha(0.04);
}
QColor Theme::chipBorder() {
    return whiteAlpha(0.12);
}
QColor Theme::caption() {
    return whiteAlpha(0.75);
}
QColor Theme::canvasBackground() {
    return rgbF(0.1, 0.1, 0.1);
}

QColor Theme::segmentBlueGreen() {
    return rgbF(0.00, 0.70, 0.82);
}
QColor Theme::segmentGreen() {
    return rgbF(0.28, 0.76, 0.05);
}
QColor Theme::segmentYellow() {
    return rgbF(0.98, 0.82, 0.10);
}
QColor Theme::segmentRed() {
    return rgbF(0.95, 0.20, 0.16);
}

QString Theme::fontFamily() {
    return QStringLiteral("DejaVu Sans");
}
QString Theme::monoFontFamily() {
    return QStringLiteral("DejaVu Sans Mono");
}
QString Theme::missingValueText() {
    return QStringLiteral("\u2014");
}

QColor Theme::whiteAlpha(double opacity) {
    return rgbF(1.0, 1.0, 1.0, std::clamp(opacity, 0.0, 1.0));
}

QColor Theme::withAlpha(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(std::clamp(opacity, 0.0, 1.0)));
    return color;
}

namespace {

QFont makeFont(const QString& family, double points, Theme::Weight weight) {
    QFont font(family);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(points))));
    // DejaVu ships Book and Bold only: medium reads as regular, semibold and heavier as bold,
    // so no weight is ever synthesised.
    const bool bold = weight == Theme::Weight::Semibold || weight == Theme::Weight::Bold ||
                      weight == Theme::Weight::Heavy;
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

}  // namespace

QFont Theme::font(double points, Weight weight) {
    return makeFont(fontFamily(), points, weight);
}

QFont Theme::monoFont(double points, Weight weight) {
    QFont font = makeFont(monoFontFamily(), points, weight);
    font.setStyleHint(QFont::Monospace);
    return font;
}

QString Theme::formatValue(double value) {
    if (!std::isfinite(value)) {
        return missingValueText();
    }
    return QString::asprintf("%.1f", value);
}

}  // namespace orvinta
