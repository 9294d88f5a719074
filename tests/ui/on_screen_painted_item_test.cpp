#include "ui/on_screen_painted_item.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/meter_bar_view.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

const QSizeF kMeterSize(132.0, 520.0);
// Where the dashboard's centring puts an instrument: off the pixel grid.
const QPointF kOffset(10.3, 7.6);

// Rows from the first to the last that hold label ink.
int inkSpan(const QImage& image, QRect area) {
    std::vector<int> rows;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        if (test::inkIn(image, QRect(area.left(), y, area.width(), 1)) > 0) {
            rows.push_back(y);
        }
    }
    return rows.empty() ? 0 : rows.back() - rows.front();
}

// The labels of a scaled dashboard are drawn for the pixels they cover, like QML text: the
// window shows the meter painted straight at that resolution, not its drawing at its own size
// resampled (which at 0.6 reads "-30" as "-38").
TEST(OnScreenPaintedItem, ScaledInstrumentIsDrawnAtTheResolutionItCoversOnScreen) {
    int spanAtOne = 0;
    for (double scale : {1.0, 0.6, 0.85, 2.0}) {
        SCOPED_TRACE(scale);
        test::QmlWindow window;
        const QString qml = QString::asprintf(
            "import QtQuick\nimport Orvinta.Ui\nItem { Item { x: %g; y: %g; width: %g; height: %g;"
            " scale: %g; transformOrigin: Item.TopLeft\nMeterBarView { anchors.fill: parent;"
            " minValue: -60; maxValue: 0 } } }",
            kOffset.x(), kOffset.y(), kMeterSize.width(), kMeterSize.height(), scale);
        ASSERT_TRUE(window.load(qml.toUtf8(), QSize(300, 1100)));
        auto* shownMeter = window.find<MeterBarView>();
        shownMeter->setFillColor(Theme::panelSurface());
        const QImage shown = window.grab();
        const MeterBarLayout layout = meterBarLayout(
            kMeterSize, shownMeter->showLabel(), shownMeter->showScale(), shownMeter->showValue());
        const QRect labels = shownMeter->mapRectToScene(layout.scaleColumn).toAlignedRect();
        spanAtOne = scale == 1.0 ? inkSpan(shown, labels) : spanAtOne;
        EXPECT_NEAR(inkSpan(shown, labels), spanAtOne * scale, 2.0);

        MeterBarView meter;
        meter.setMinValue(-60.0);
        meter.setMaxValue(0.0);
        meter.setSize(kMeterSize);
        QImage painted(shown.size(), QImage::Format_ARGB32_Premultiplied);
        painted.fill(Theme::panelSurface());
        QPainter painter(&painted);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        painter.translate(kOffset);
        painter.scale(scale, scale);
        meter.paint(&painter);
        painter.end();
        int differing = 0;
        for (int y = labels.top(); y <= labels.bottom(); ++y) {
            for (int x = labels.left(); x <= labels.right(); ++x) {
                differing += test::distance(shown.pixelColor(x, y), painted.pixelColor(x, y)) > 24;
            }
        }
        EXPECT_LE(differing, labels.width() * labels.height() / 200);
    }
}

}  // namespace
}  // namespace orvinta
