#include <QHash>
#include <QSet>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "state/history_point.h"
#include "state/input_source.h"
#include "state/loudness_target.h"
#include "state/meter_metric.h"

namespace orvinta {
namespace {

TEST(LoudnessTarget, ListsTheFivePresetsInMenuOrderWithTheirLabels) {
    const QList<LoudnessTarget> all = allLoudnessTargets();
    ASSERT_EQ(all.size(), 5);

    struct Row {
        const char* raw;
        std::optional<double> lufs;
        const char* display;
        const char* shortText;
        const char* menu;
    };
    const Row rows[] = {
        {"ebuR128", -23.0, "EBU R128 (Broadcast, -23 LUFS)", "EBU R128", "-23"},
        {"atsc", -24.0, "ATSC A/85 (US Broadcast, -24 LUFS)", "ATSC A/85", "-24"},
        {"streaming16", -16.0, "Streaming (-16 LUFS)", "Streaming -16", "-16"},
        {"streaming14", -14.0, "Streaming (-14 LUFS, Spotify/YouTube, etc.)", "Streaming -14",
         "-14 YT"},
        {"off", std::nullopt, "No Target", "No Target", "OFF"},
    };
    for (int i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(rows[i].raw);
        EXPECT_EQ(rawValue(all[i]), QString::fromUtf8(rows[i].raw));
        EXPECT_EQ(targetLUFS(all[i]), rows[i].lufs);
        EXPECT_EQ(displayName(all[i]), QString::fromUtf8(rows[i].display));
        EXPECT_EQ(shortName(all[i]), QString::fromUtf8(rows[i].shortText));
        EXPECT_EQ(menuLabel(all[i]), QString::fromUtf8(rows[i].menu));
        EXPECT_EQ(loudnessTargetFromRawValue(rawValue(all[i])), all[i]);
    }
}

TEST(LoudnessTarget, ConstructionFromAnUnknownRawValueYieldsNone) {
    EXPECT_EQ(loudnessTargetFromRawValue(u"off"), LoudnessTarget::off);
    EXPECT_FALSE(targetLUFS(LoudnessTarget::off).has_value());
    EXPECT_FALSE(loudnessTargetFromRawValue(u"ebu").has_value());
    EXPECT_FALSE(loudnessTargetFromRawValue(u"").has_value());
    EXPECT_FALSE(loudnessTargetFromRawValue(u"EBUR128").has_value());
    EXPECT_FALSE(loudnessTargetFromRawValue(u"ebuR128 ").has_value());
}

TEST(InputSource, ListsMicrophoneThenSystemAudio) {
    const QList<InputSource> all = allInputSources();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0], InputSource::microphone);
    EXPECT_EQ(rawValue(all[0]), u"microphone");
    EXPECT_EQ(displayName(all[0]), u"Microphone");
    EXPECT_EQ(all[1], InputSource::systemAudio);
    EXPECT_EQ(rawValue(all[1]), u"systemAudio");
    EXPECT_EQ(displayName(all[1]), u"System Audio");

    EXPECT_EQ(inputSourceFromRawValue(u"systemAudio"), InputSource::systemAudio);
    EXPECT_EQ(inputSourceFromRawValue(u"microphone"), InputSource::microphone);
    EXPECT_FALSE(inputSourceFromRawValue(u"System Audio").has_value());
    EXPECT_FALSE(inputSourceFromRawValue(u"").has_value());
}

TEST(MeterMetric, SegmentTitlesAreCaseSensitive) {
    const QList<MeterMetric> all = allMeterMetrics();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(meterMetricFromRawValue(u"M"), MeterMetric::momentary);
    EXPECT_EQ(meterMetricFromRawValue(u"S"), MeterMetric::shortTerm);
    EXPECT_EQ(meterMetricFromRawValue(u"I"), MeterMetric::integrated);
    EXPECT_EQ(all, (QList<MeterMetric>{MeterMetric::momentary, MeterMetric::shortTerm,
                                       MeterMetric::integrated}));
    EXPECT_EQ(label(MeterMetric::momentary), u"Momentary");
    EXPECT_EQ(label(MeterMetric::shortTerm), u"Short-term");
    EXPECT_EQ(label(MeterMetric::integrated), u"Integrated");
    EXPECT_FALSE(meterMetricFromRawValue(u"m").has_value());
    EXPECT_FALSE(meterMetricFromRawValue(u"Momentary").has_value());
}

TEST(ValueTypes, EnumerationsHashAndCompareByCase) {
    QSet<LoudnessTarget> targets;
    for (LoudnessTarget target : allLoudnessTargets()) {
        targets.insert(target);
    }
    targets.insert(*loudnessTargetFromRawValue(u"atsc"));
    EXPECT_EQ(targets.size(), 5);
    EXPECT_EQ(std::hash<InputSource>{}(*inputSourceFromRawValue(u"microphone")),
              std::hash<InputSource>{}(InputSource::microphone));
}

TEST(HistoryPoint, KeepsNegativeInfinityAndComparesMemberwise) {
    const double silence = -std::numeric_limits<double>::infinity();
    const HistoryPoint a{7, 12.5, silence, -23.0};
    HistoryPoint b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(b.momentaryLUFS, silence);
    b.shortTermLUFS = -22.0;
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace orvinta
