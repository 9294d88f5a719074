#include <gtest/gtest.h>

#include "state/input_source.h"
#include "state/loudness_target.h"
#include "state/meter_metric.h"

namespace orvinta {
namespace {

TEST(ValueTypes, RawValuesRoundTripAndNothingElseParses) {
    for (LoudnessTarget target : allLoudnessTargets()) {
        EXPECT_EQ(loudnessTargetFromRawValue(rawValue(target)), target);
        EXPECT_EQ(targetLUFS(target).has_value(), target != LoudnessTarget::off);
    }
    for (InputSource source : allInputSources()) {
        EXPECT_EQ(inputSourceFromRawValue(rawValue(source)), source);
    }
    for (MeterMetric metric : allMeterMetrics()) {
        EXPECT_EQ(meterMetricFromRawValue(rawValue(metric)), metric);
    }
    for (const char16_t* text : {u"ebu", u"", u"EBUR128", u"ebuR128 "}) {
        EXPECT_FALSE(loudnessTargetFromRawValue(text).has_value());
    }
    EXPECT_FALSE(inputSourceFromRawValue(u"System Audio").has_value());
    EXPECT_FALSE(meterMetricFromRawValue(u"m").has_value());
}

}  // namespace
}  // namespace orvinta
