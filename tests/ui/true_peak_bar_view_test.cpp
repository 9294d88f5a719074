#include "ui/true_peak_bar_view.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/theme.h"

namespace orvinta {
namespace {

using test::at;
using test::ManualClock;

using test::kInf;
using test::kNaN;
// One of the two bars of the dashboard's true-peak panel.
constexpr double kWidth = 600.0;

class TruePeakBarViewTest : public ::testing::Test {
protected:
    TruePeakBarViewTest() {
        view.setLabel(QStringLiteral("L"));
        size = QSizeF(kWidth, view.implicitHeight());
        layout = truePeakBarLayout(size);
    }

    QImage render() { return test::renderItem(view, size, Theme::windowBackground()); }

    // x just past the last coloured (lit) pixel along the middle of the bar; 0 when none is.
    double litEnd(const QImage& image) const {
        int end = 0;
        for (int x = 0; x < image.width(); ++x) {
            if (at(image, x, layout.bar.center().y()).hsvSaturation() > 120) {
                end = x + 1;
            }
        }
        return end;
    }

    // Centres of the scale labels' ink, left to right: runs of inked columns split by gaps
    // wider than 5 points.
    std::vector<double> labelCentres(const QImage& image) const {
        std::vector<std::pair<int, int>> runs;
        const QRect row = layout.scaleRow.toAlignedRect();
        for (int x = 0; x < image.width(); ++x) {
            if (test::inkIn(image, QRect(x, row.top(), 1, row.height())) == 0) {
                continue;
            }
            if (runs.empty() || x - runs.back().second > 5) {
                runs.emplace_back(x, x);
            }
            runs.back().second = x;
        }
        std::vector<double> centres;
        centres.reserve(runs.size());
        for (const auto& [first, last] : runs) {
            centres.push_back((first + last + 1) / 2.0);
        }
        return centres;
    }

    ManualClock clock;
    TruePeakBarView view;
    QSizeF size;
    TruePeakBarLayout layout;
};

TEST_F(TruePeakBarViewTest, BarEndsWhereTheLabelsSayAndSilenceLightsNothing) {
    const std::vector<double> labels = labelCentres(render());
    ASSERT_EQ(labels.size(), 8u);
    // The lit bar ends at most one segment and two gaps short of the exact place.
    const double pitch = (kWidth + 2.0) / 48.0;
    // -20 lies a third of the way from the "-24" label to the "-12" label; -6 at the "-6" label.
    const std::pair<double, double> cases[] = {{-20.0, labels[3] + (labels[4] - labels[3]) / 3.0},
                                               {-6.0, labels[5]},
                                               {-4.5, (labels[5] + labels[6]) / 2.0}};
    for (const auto& [value, place] : cases) {
        view.setValue(value);
        view.setIdentity(view.identity() + 1);  // no held-peak marker over the end
        const double end = litEnd(render());
        EXPECT_LE(end, place + 1.5) << value;
        EXPECT_GT(end, place - pitch - 3.0) << value;
    }
    for (double nothing : {-kInf, kNaN}) {
        view.setValue(nothing);
        EXPECT_EQ(litEnd(render()), 0.0);
    }
}

TEST_F(TruePeakBarViewTest, HeldPeakMarksItsPlaceRedAboveZeroWhiteBelowAndResetForgetsIt) {
    const int y = static_cast<int>(layout.bar.center().y());
    auto markerAt = [&](const QImage& image, double place, const QColor& colour) {
        return test::colorNear(image, static_cast<int>(std::min(place, kWidth - 1.0)), y, colour, 1,
                               3);
    };
    view.setValue(1.2);
    view.setValue(-40.0);
    EXPECT_TRUE(markerAt(render(), kWidth, Theme::red()));
    // After the 1.2-second hold it falls 1.5 dB per tick; at -3 it stands on the "-3" label.
    clock.advance(1.25);
    for (int tick = 0; tick < 3; ++tick) {
        view.peakTick();
    }
    EXPECT_DOUBLE_EQ(view.peakValue(), -3.3);
    view.setValue(-3.0);
    const std::vector<double> labels = labelCentres(render());
    ASSERT_EQ(labels.size(), 8u);
    EXPECT_TRUE(markerAt(render(), labels[6], Theme::white()));

    view.setIdentity(7);
    EXPECT_EQ(view.peakValue(), -kInf);
    EXPECT_FALSE(markerAt(render(), labels[6], Theme::white()));
}

// On screen a repaint puts back only the bar and the read-out of the picture it paints over;
// after any run of values the window must show exactly what a view that was shown only the end
// of the run shows, at the dashboard's scale and off the pixel grid as well.
TEST(TruePeakBarView, OnScreenRepaintsLeaveNothingOfEarlierReadings) {
    ManualClock clock;
    const std::vector<double> values = {-20.0, -3.2, -45.0, -0.4, 1.5, -60.5, -12.0, -kInf, -7.7};
    const QSizeF size(kWidth, 75.0);
    for (double scale : {1.0, 0.85}) {
        SCOPED_TRACE(scale);
        const auto shown = test::instrumentWindow("TruePeakBarView", size, scale, "label: \"L\"");
        auto* view = shown->find<TruePeakBarView>();
        for (std::size_t step = 0; step < values.size(); ++step) {
            SCOPED_TRACE(step);
            view->setValue(values[step]);
            const QImage repainted = shown->grab();
            const auto fresh =
                test::instrumentWindow("TruePeakBarView", size, scale, "label: \"L\"");
            for (std::size_t i = 0; i <= step; ++i) {
                fresh->find<TruePeakBarView>()->setValue(values[i]);
            }
            EXPECT_EQ(test::differingPixels(repainted, fresh->grab()), 0);
        }
    }
}

}  // namespace
}  // namespace orvinta
