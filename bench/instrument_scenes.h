#pragma once

// The dashboard's instruments at their dashboard sizes, with values that move from frame to
// frame the way a busy programme moves them. Shared by the painting benchmark and the gallery.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QQuickPaintedItem>
#include <QString>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

#include "state/goniometer_point_list.h"
#include "state/history_point_list.h"
#include "state/spectrum_rows.h"
#include "ui/correlation_meter_bar.h"
#include "ui/goniometer_canvas_view.h"
#include "ui/meter_bar_view.h"
#include "ui/radar_loudness_view.h"
#include "ui/sparkline_view.h"
#include "ui/spectrum_canvas_view.h"
#include "ui/theme.h"
#include "ui/true_peak_bar_view.h"

namespace orvinta::bench {

// Canvas sizes on the 1440 x 1150 dashboard.
inline const QSizeF kMeterBarSize(132, 520);    // meter column 160 less its 14-point inset
inline const QSizeF kTruePeakBarSize(600, 76);  // one of two bars in the true-peak panel
inline const QSizeF kRadarSize(285, 285);       // what the radar panel leaves square
inline const QSizeF kSparklineSize(195, 64);    // read-out column 223 less its inset
inline const QSizeF kGoniometerSize(158, 158);  // phase panel's scope
inline const QSizeF kCorrelationSize(30, 220);  // phase panel's correlation bar
inline const QSizeF kSpectrumSize(531, 260);    // frequency panel 559 less its inset

// Default scale of the dashboard: target -23 LUFS with a 20 LU radar range.
constexpr double kTarget = -23.0;
constexpr double kScaleBottom = kTarget - 4 * 20.0;
constexpr double kScaleTop = -3.0;

// A programme loudness that wanders around the target, in LUFS, at time t seconds.
inline double programmeLUFS(double t) {
    return kTarget + 6.0 * std::sin(t * 0.9) + 3.0 * std::sin(t * 5.3);
}

inline HistoryPointList busyHistory(double endSeconds) {
    QList<HistoryPoint> points;
    // One point per hand-over (about 30 per second) over the 62 seconds the history keeps.
    quint64 id = 0;
    for (double t = std::max(0.0, endSeconds - 62.0); t <= endSeconds; t += 1.0 / 30.0) {
        points.append(HistoryPoint{++id, t, programmeLUFS(t), programmeLUFS(t - 1.5) + 1.0});
    }
    return HistoryPointList(points);
}

inline GoniometerPointList busyGoniometer(int count, double phase) {
    std::vector<GoniometerPoint> points;
    points.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double t = phase + i * 0.0137;
        const double left = 0.6 * std::sin(t * 7.0) + 0.15 * std::sin(t * 31.0);
        const double right = 0.5 * std::sin(t * 7.0 + 0.4) + 0.1 * std::cos(t * 23.0);
        points.push_back({static_cast<float>((right - left) / std::numbers::sqrt2),
                          static_cast<float>((left + right) / std::numbers::sqrt2)});
    }
    return GoniometerPointList(std::move(points));
}

inline SpectrumRows busySpectrum(double phase) {
    std::vector<std::vector<float>> rows(2, std::vector<float>(192));
    for (int i = 0; i < 192; ++i) {
        const double x = i / 191.0;
        const double base = -30.0 - 35.0 * x + 6.0 * std::sin(x * 40.0 + phase);
        rows[0][static_cast<std::size_t>(i)] = static_cast<float>(base);
        rows[1][static_cast<std::size_t>(i)] =
            static_cast<float>(base - 3.0 + 4.0 * std::cos(x * 25.0 - phase));
    }
    return SpectrumRows(std::move(rows));
}

// One instrument of the dashboard with the code that moves it to frame n.
struct Scene {
    QString name;
    std::unique_ptr<QQuickPaintedItem> item;
    std::function<void(int frame)> advance;
};

inline std::vector<Scene> dashboardScenes() {
    std::vector<Scene> scenes;
    constexpr double kFrameSeconds = 1.0 / 30.0;

    {
        auto meter = std::make_unique<MeterBarView>();
        meter->setSize(kMeterBarSize);
        meter->setMinValue(kScaleBottom);
        meter->setMaxValue(kScaleTop);
        meter->setTargetValue(kTarget);
        auto* m = meter.get();
        scenes.push_back({QStringLiteral("MeterBarView"), std::move(meter), [m](int n) {
                              m->setValue(programmeLUFS(n * kFrameSeconds));
                              m->peakTick();
                          }});
    }
    for (int channel = 0; channel < 2; ++channel) {
        auto bar = std::make_unique<TruePeakBarView>();
        bar->setSize(kTruePeakBarSize);
        bar->setLabel(channel == 0 ? QStringLiteral("L") : QStringLiteral("R"));
        auto* b = bar.get();
        scenes.push_back(
            {QStringLiteral("TruePeakBarView ") + b->label(), std::move(bar), [b, channel](int n) {
                 const double t = n * kFrameSeconds + channel;
                 b->setValue(-6.0 + 5.0 * std::sin(t * 3.1));
                 b->peakTick();
             }});
    }
    {
        auto radar = std::make_unique<RadarLoudnessView>();
        radar->setSize(kRadarSize);
        radar->setMinLUFS(kScaleBottom);
        radar->setMaxLUFS(kScaleTop);
        radar->setTargetLUFS(kTarget);
        radar->setCycleSeconds(60.0);
        // A full turn of history before the first timed frame.
        for (int n = 0; n < 60 * 30; ++n) {
            radar->setMomentaryLUFS(programmeLUFS(n * kFrameSeconds));
            radar->setElapsedSeconds(n * kFrameSeconds);
        }
        auto* r = radar.get();
        scenes.push_back({QStringLiteral("RadarLoudnessView"), std::move(radar), [r](int n) {
                              const double t = 60.0 + n * kFrameSeconds;
                              r->setMomentaryLUFS(programmeLUFS(t));
                              r->setElapsedSeconds(t);
                          }});
    }
    for (int block = 0; block < 2; ++block) {
        auto spark = std::make_unique<SparklineView>();
        spark->setSize(kSparklineSize);
        spark->setWindowSeconds(block == 0 ? 60.0 : 10.0);
        spark->setMetric(block == 0 ? QStringLiteral("S") : QStringLiteral("M"));
        spark->setColor(block == 0 ? Theme::green() : Theme::cyan());
        spark->setMinLUFS(-60.0);
        spark->setMaxLUFS(0.0);
        auto* s = spark.get();
        scenes.push_back({QStringLiteral("SparklineView ") + s->metric(), std::move(spark),
                          [s](int n) { s->setHistory(busyHistory(120.0 + n * kFrameSeconds)); }});
    }
    {
        auto scope = std::make_unique<GoniometerCanvasView>();
        scope->setSize(kGoniometerSize);
        auto* g = scope.get();
        scenes.push_back({QStringLiteral("GoniometerCanvasView"), std::move(scope),
                          [g](int n) { g->setPoints(busyGoniometer(2000, n * 0.37)); }});
    }
    {
        auto correlation = std::make_unique<CorrelationMeterBar>();
        correlation->setSize(kCorrelationSize);
        correlation->setSegmentsPerSide(18);
        auto* c = correlation.get();
        scenes.push_back({QStringLiteral("CorrelationMeterBar"), std::move(correlation),
                          [c](int n) { c->setValue(0.6 + 0.35 * std::sin(n * 0.2)); }});
    }
    {
        auto spectrum = std::make_unique<SpectrumCanvasView>();
        spectrum->setSize(kSpectrumSize);
        auto* s = spectrum.get();
        scenes.push_back({QStringLiteral("SpectrumCanvasView"), std::move(spectrum),
                          [s](int n) { s->setSpectrumDB(busySpectrum(n * 0.21)); }});
    }
    // On the dashboard every instrument sits on a panel and fills with its colour, opaque.
    for (Scene& scene : scenes) {
        scene.item->setFillColor(Theme::panelSurface());
    }
    return scenes;
}

// The image the software scene graph paints an item into: opaque for an opaque fill colour.
inline QImage textureFor(const QQuickPaintedItem& item) {
    return QImage(item.size().toSize(), item.fillColor().alpha() == 255
                                            ? QImage::Format_RGB32
                                            : QImage::Format_ARGB32_Premultiplied);
}

// Paints the item as the software scene graph paints its texture: filled with the item's fill
// colour, then paint() with smooth painting.
inline void paintInto(QQuickPaintedItem& item, QImage& image) {
    image.fill(item.fillColor());
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    item.paint(&painter);
}

}  // namespace orvinta::bench
