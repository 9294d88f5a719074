#include <gtest/gtest.h>

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
    EXPECT_FALSE(loudnessTargetFromRawValue(u"ebu").has_value());
    EXPECT_FALSE(loudnessTargetFromRawValue(u"").has_value());
    EXPECT_FALSE(loudnessTargetFromRawValue(u"EBUR128").has_value());
    EXPECT_FALSE(loudnessTargetFromRawValue(u"ebuR128 ").has_value());
}

TEST(InputSourceAndMeterMetric, ListInMenuOrderAndParseOnlyTheirExactRawValues) {
    EXPECT_EQ(allInputSources(),
              (QList<InputSource>{InputSource::microphone, InputSource::systemAudio}));
    EXPECT_EQ(displayName(InputSource::microphone), u"Microphone");
    EXPECT_EQ(displayName(InputSource::systemAudio), u"System Audio");
    for (InputSource source : allInputSources()) {
        EXPECT_EQ(inputSourceFromRawValue(rawValue(source)), source);
    }
    EXPECT_FALSE(inputSourceFromRawValue(u"System Audio").has_value());

    EXPECT_EQ(allMeterMetrics(), (QList<MeterMetric>{MeterMetric::momentary, MeterMetric::shortTerm,
                                                     MeterMetric::integrated}));
    EXPECT_EQ(meterMetricFromRawValue(u"M"), MeterMetric::momentary);
    EXPECT_EQ(meterMetricFromRawValue(u"S"), MeterMetric::shortTerm);
    EXPECT_EQ(meterMetricFromRawValue(u"I"), MeterMetric::integrated);
    EXPECT_EQ(label(MeterMetric::shortTerm), u"Short-term");
    EXPECT_FALSE(meterMetricFromRawValue(u"m").has_value());
    EXPECT_FALSE(meterMetricFromRawValue(u"Momentary").has_value());
}

}  // namespace
}  // namespace orvinta
