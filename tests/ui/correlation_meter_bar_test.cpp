#include "ui/correlation_meter_bar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/ui/ui_test_support.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::distance;

// The bar's size in the phase panel: 30 points wide, as tall as the column leaves it.
const QSize kBarSize(30, 240);

enum class Shade { none, red, yellow, green, blueGreen, centre };

Shade classify(const QColor& c) {
    const std::pair<Shade, QColor> shades[] = {
        {Shade::red, QColor::fromRgbF(0.95f, 0.20f, 0.16f)},
        {Shade::yellow, QColor::fromRgbF(0.98f, 0.82f, 0.10f)},
        {Shade::green, QColor::fromRgbF(0.28f, 0.76f, 0.05f)},
        {Shade::blueGreen, QColor::fromRgbF(0.00f, 0.70f, 0.82f)},
    };
    for (const auto& [shade, colour] : shades) {
        if (distance(c, colour) <= 6) {
            return shade;
        }
    }
    // The centre line: white at 0.6 over the bar's dark background, the brightest grey.
    if (c.red() > 120 && std::abs(c.red() - c.blue()) < 4) {
        return Shade::centre;
    }
    return Shade::none;
}

// The segments a scan down the middle column of the rendered bar meets, as runs of one shade,
// split at the centre line: first the runs above it (top to bottom), then the runs below.
struct Scan {
    std::vector<Shade> above;
    std::vector<Shade> below;
    int centreLines = 0;
};

Scan scanBar(double value, int segmentsPerSide = 18) {
    CorrelationMeterBar bar;
    bar.setSegmentsPerSide(segmentsPerSide);
    bar.setValue(value);
    const QImage image = test::renderItem(bar, kBarSize);
    Scan scan;
    Shade previous = Shade::none;
    bool belowCentre = false;
    for (int y = 0; y < image.height(); ++y) {
        const Shade shade = classify(image.pixelColor(kBarSize.width() / 2, y));
        if (shade != previous && shade == Shade::centre) {
            ++scan.centreLines;
            belowCentre = true;
        } else if (shade != previous && shade != Shade::none) {
            (belowCentre ? scan.below : scan.above).push_back(shade);
        }
        previous = shade;
    }
    return scan;
}

std::vector<Shade> repeat(std::initializer_list<std::pair<Shade, int>> runs) {
    std::vector<Shade> out;
    for (const auto& [shade, count] : runs) {
        out.insert(out.end(), count, shade);
    }
    return out;
}

TEST(CorrelationMeterBarPixels, ValueLightsItsSideFromTheCentreOutwardUpToItsMagnitude) {
    const std::vector<Shade> upward =
        repeat({{Shade::red, 2}, {Shade::yellow, 2}, {Shade::green, 3}, {Shade::blueGreen, 11}});
    const std::vector<Shade> downward =
        repeat({{Shade::blueGreen, 11}, {Shade::green, 3}, {Shade::yellow, 2}, {Shade::red, 2}});
    const struct {
        double value;
        std::vector<Shade> above, below;
    } cases[] = {
        {0.0, {}, {}},        {1.0, upward, {}},      {-0.5, {}, repeat({{Shade::blueGreen, 9}})},
        {3.0, upward, {}},  // out of range: the whole side and no more
        {-1.5, {}, downward}, {std::nan(""), {}, {}},
    };
    EXPECT_EQ(scanBar(0.0).centreLines, 1);
    for (const auto& c : cases) {
        const Scan scan = scanBar(c.value);
        EXPECT_EQ(scan.above, c.above) << c.value;
        EXPECT_EQ(scan.below, c.below) << c.value;
    }
}

}  // namespace
}  // namespace orvinta
