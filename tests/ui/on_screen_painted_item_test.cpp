#include "ui/on_screen_painted_item.h"

#include <gtest/gtest.h>

#include "tests/ui/ui_test_support.h"
#include "ui/meter_bar_view.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::distance;

const QSizeF kMeterSize(132.0, 520.0);
// Where the dashboard's centring puts an instrument: off the pixel grid.
const QPointF kOffset(10.3, 7.6);

void setUpMeter(MeterBarView& meter) {
    meter.setMinValue(-60.0);
    meter.setMaxValue(0.0);
    meter.setFillColor(Theme::panelSurface());
}

// The meter's scale labels inside a parent scaled like the dashboard's canvas, as the window
// shows them, and the window's image.
struct Shown {
    QImage image;
    QRect labels;
};

Shown shownAt(double scale) {
    test::QmlWindow window;
    const QByteArray qml = QByteArrayLiteral("import QtQuick\nimport Orvinta.Ui\nItem { Item {") +
                           " x: " + QByteArray::number(kOffset.x()) +
                           "; y: " + QByteArray::number(kOffset.y()) +
                           "; scale: " + QByteArray::number(scale) +
                           "; width: " + QByteArray::number(kMeterSize.width()) +
                           "; height: " + QByteArray::number(kMeterSize.height()) +
                           "; transformOrigin: Item.TopLeft; MeterBarView { anchors.fill: parent"
                           " } } }";
    if (!window.load(qml, QSize(300, 1100))) {
        return {};
    }
    auto* meter = window.find<MeterBarView>();
    setUpMeter(*meter);
    const MeterBarLayout layout =
        meterBarLayout(kMeterSize, meter->showLabel(), meter->showScale(), meter->showValue());
    return {window.grab(), meter->mapRectToScene(layout.scaleColumn).toAlignedRect()};
}

// Rows of the area that hold label ink, first to last.
int inkSpan(const QImage& image, QRect area) {
    int first = -1;
    int last = -1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        if (test::inkIn(image, QRect(area.left(), y, area.width(), 1)) > 0) {
            first = first < 0 ? y : first;
            last = y;
        }
    }
    return last - first;
}

// The labels of a scaled dashboard are drawn for the pixels they cover, like QML text: on
// screen they are the meter painted straight at that resolution, not its drawing at its own
// size resampled (which at 0.6 reads "-30" as "-38").
TEST(OnScreenPaintedItem, ScaledInstrumentIsDrawnAtTheResolutionItCoversOnScreen) {
    const Shown atOne = shownAt(1.0);
    ASSERT_FALSE(atOne.image.isNull());
    const int spanAtOne = inkSpan(atOne.image, atOne.labels);
    for (double scale : {0.6, 0.85, 1.0, 2.0}) {
        SCOPED_TRACE(scale);
        const Shown shown = shownAt(scale);
        ASSERT_FALSE(shown.image.isNull());
        EXPECT_NEAR(inkSpan(shown.image, shown.labels), spanAtOne * scale, 2.0);

        MeterBarView meter;
        setUpMeter(meter);
        meter.setSize(kMeterSize);
        QImage painted(shown.image.size(), QImage::Format_ARGB32_Premultiplied);
        painted.fill(Theme::panelSurface());
        QPainter painter(&painted);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        painter.translate(kOffset);
        painter.scale(scale, scale);
        meter.paint(&painter);
        painter.end();

        int differing = 0;
        for (int y = shown.labels.top(); y <= shown.labels.bottom(); ++y) {
            for (int x = shown.labels.left(); x <= shown.labels.right(); ++x) {
                differing += distance(shown.image.pixelColor(x, y), painted.pixelColor(x, y)) > 24;
            }
        }
        EXPECT_LE(differing, shown.labels.width() * shown.labels.height() / 200);
    }
}

}  // namespace
}  // namespace orvinta
