// Writes a PNG of every dashboard instrument in a few representative states, drawn at its
// dashboard size over the dashboard's panel colour, for looking at by eye.
//
//   ui_gallery [output folder, default: "gallery" beside the executable]

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <limits>

#include "bench/instrument_scenes.h"
#include "ui/view_clock.h"

namespace {

using namespace orvinta;
using namespace orvinta::bench;

constexpr double kInf = std::numeric_limits<double>::infinity();

QDir outputDir;
double fakeNow = 100.0;

void save(QQuickPaintedItem& item, QSizeF size, const QString& name, double scale = 1.0) {
    item.setSize(size);
    item.setFillColor(Theme::panelSurface());
    QImage image((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Theme::panelSurface());
    QPainter painter(&image);
    item.paint(&painter);
    painter.end();
    const QString path = outputDir.filePath(name + QStringLiteral(".png"));
    if (!image.save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

void meterBars() {
    {
        MeterBarView meter;
        meter.setMinValue(-60.0);
        meter.setMaxValue(0.0);
        save(meter, kMeterBarSize, QStringLiteral("meter_bar_silence_no_target"));
    }
    {
        MeterBarView meter;
        meter.setMinValue(kScaleBottom);
        meter.setMaxValue(kScaleTop);
        meter.setTargetValue(kTarget);
        meter.setValue(-12.0);
        meter.setValue(-20.0);
        save(meter, kMeterBarSize, QStringLiteral("meter_bar_dashboard_peak_held"));
    }
    {
        MeterBarView meter;
        meter.setMinValue(-43.0);
        meter.setMaxValue(1.0);
        meter.setTargetValue(-23.0);
        meter.setLabel(QStringLiteral("Momentary"));
        meter.setShowLabel(true);
        meter.setShowValue(true);
        meter.setPeakOverThreshold(-10.0);
        meter.setValue(4.0);
        save(meter, kMeterBarSize, QStringLiteral("meter_bar_over_the_top_with_label_value"));
        meter.setValue(-kInf);
        save(meter, kMeterBarSize, QStringLiteral("meter_bar_silence_after_over_value_dash"));
    }
}

void truePeakBars() {
    {
        TruePeakBarView bar;
        bar.setLabel(QStringLiteral("L"));
        save(bar, kTruePeakBarSize, QStringLiteral("true_peak_silence"));
    }
    {
        TruePeakBarView bar;
        bar.setLabel(QStringLiteral("R"));
        bar.setValue(-4.5);
        bar.setValue(-14.0);
        save(bar, kTruePeakBarSize, QStringLiteral("true_peak_moderate_peak_held"));
    }
    {
        TruePeakBarView bar;
        bar.setLabel(QStringLiteral("Ch3"));
        bar.setValue(1.3);
        save(bar, kTruePeakBarSize, QStringLiteral("true_peak_over_zero"));
    }
}

void radars() {
    {
        RadarLoudnessView radar;
        radar.setMinLUFS(kScaleBottom);
        radar.setMaxLUFS(kScaleTop);
        radar.setTargetLUFS(kTarget);
        save(radar, kRadarSize, QStringLiteral("radar_fresh"));
    }
    {
        RadarLoudnessView radar;
        radar.setMinLUFS(kScaleBottom);
        radar.setMaxLUFS(kScaleTop);
        radar.setTargetLUFS(kTarget);
        radar.setMomentaryLUFS(-kInf);
        for (int n = 0; n < 300; ++n) {
            radar.setElapsedSeconds(n / 10.0);
        }
        save(radar, kRadarSize, QStringLiteral("radar_half_turn_of_silence"));
    }
    {
        RadarLoudnessView radar;
        radar.setMinLUFS(kScaleBottom);
        radar.setMaxLUFS(kScaleTop);
        radar.setTargetLUFS(kTarget);
        for (int n = 0; n < 2400; ++n) {
            const double t = n / 30.0;
            radar.setMomentaryLUFS(programmeLUFS(t) + (t > 50.0 ? 14.0 : 0.0));
            radar.setElapsedSeconds(t);
        }
        save(radar, kRadarSize, QStringLiteral("radar_busy_with_loud_passage"));
        save(radar, kRadarSize, QStringLiteral("radar_busy_with_loud_passage@2x"), 2.0);
        save(radar, QSizeF(400, 300), QStringLiteral("radar_busy_in_wide_item"));
    }
    {
        RadarLoudnessView radar;
        radar.setMinLUFS(-60.0);
        radar.setMaxLUFS(0.0);
        radar.setCycleSeconds(15.0);
        for (int n = 0; n < 300; ++n) {
            radar.setMomentaryLUFS(n % 60 < 30 ? 3.0 : -30.0);
            radar.setElapsedSeconds(n / 20.0);
        }
        save(radar, QSizeF(220, 220), QStringLiteral("radar_no_target_above_scale_minimum_size"));
    }
}

void analyzers() {
    for (auto& scene : dashboardScenes()) {
        const QString name = scene.name.toLower().replace(QLatin1Char(' '), QLatin1Char('_'));
        if (name.startsWith(QStringLiteral("sparkline")) ||
            name.startsWith(QStringLiteral("goniometer")) ||
            name.startsWith(QStringLiteral("correlation")) ||
            name.startsWith(QStringLiteral("spectrum"))) {
            scene.advance(40);
            save(*scene.item, scene.item->size(), name + QStringLiteral("_busy"));
        }
    }
    {
        GoniometerCanvasView scope;
        save(scope, kGoniometerSize, QStringLiteral("goniometercanvasview_empty"));
    }
    {
        CorrelationMeterBar correlation;
        correlation.setSegmentsPerSide(18);
        correlation.setValue(-0.55);
        save(correlation, kCorrelationSize, QStringLiteral("correlationmeterbar_negative"));
    }
    {
        SpectrumCanvasView spectrum;
        save(spectrum, kSpectrumSize, QStringLiteral("spectrumcanvasview_empty"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ViewClock::setSource([] { return fakeNow; });
    outputDir =
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1])
                      : QCoreApplication::applicationDirPath() + QStringLiteral("/gallery"));
    if (!outputDir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "could not create %s\n", qPrintable(outputDir.path()));
        return 1;
    }
    meterBars();
    truePeakBars();
    radars();
    analyzers();
    return 0;
}
