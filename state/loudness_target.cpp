#include "state/loudness_target.h"

#include <QVariantMap>

namespace orvinta {

QList<LoudnessTarget> allLoudnessTargets() {
    return {LoudnessTarget::ebuR128, LoudnessTarget::atsc, LoudnessTarget::streaming16,
            LoudnessTarget::streaming14, LoudnessTarget::off};
}

std::optional<LoudnessTarget> loudnessTargetFromRawValue(QStringView rawValueText) {
    for (LoudnessTarget target : allLoudnessTargets()) {
        if (rawValue(target) == rawValueText) {
            return target;
        }
    }
    return std::nullopt;
}

QString rawValue(LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::ebuR128:
            return QStringLiteral("ebuR128");
        case LoudnessTarget::atsc:
            return QStringLiteral("atsc");
        case LoudnessTarget::streaming16:
            return QStringLiteral("streaming16");
        case LoudnessTarget::streaming14:
            return QStringLiteral("streaming14");
        case LoudnessTarget::off:
            return QStringLiteral("off");
    }
    return {};
}

std::optional<double> targetLUFS(LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::ebuR128:
            return -23.0;
        case LoudnessTarget::atsc:
            return -24.0;
        case LoudnessTarget::streaming16:
            return -16.0;
        case LoudnessTarget::streaming14:
            return -14.0;
        case LoudnessTarget::off:
            return std::nullopt;
    }
    return std::nullopt;
}

QString displayName(LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::ebuR128:
            return QStringLiteral("EBU R128 (Broadcast, -23 LUFS)");
        case LoudnessTarget::atsc:
            return QStringLiteral("ATSC A/85 (US Broadcast, -24 LUFS)");
        case LoudnessTarget::streaming16:
            return QStringLiteral("Streaming (-16 LUFS)");
        case LoudnessTarget::streaming14:
            return QStringLiteral("Streaming (-14 LUFS, Spotify/YouTube, etc.)");
        case LoudnessTarget::off:
            return QStringLiteral("No Target");
    }
    return {};
}

QString shortName(LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::ebuR128:
            return QStringLiteral("EBU R128");
        case LoudnessTarget::atsc:
            return QStringLiteral("ATSC A/85");
        case LoudnessTarget::streaming16:
            return QStringLiteral("Streaming -16");
        case LoudnessTarget::streaming14:
            return QStringLiteral("Streaming -14");
        case LoudnessTarget::off:
            return QStringLiteral("No Target");
    }
    return {};
}

QString menuLabel(LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::ebuR128:
            return QStringLiteral("-23");
        case LoudnessTarget::atsc:
            return QStringLiteral("-24");
        case LoudnessTarget::streaming16:
            return QStringLiteral("-16");
        case LoudnessTarget::streaming14:
            return QStringLiteral("-14 YT");
        case LoudnessTarget::off:
            return QStringLiteral("OFF");
    }
    return {};
}

QVariantList loudnessTargetOptions() {
    QVariantList options;
    for (LoudnessTarget option : allLoudnessTargets()) {
        const std::optional<double> lufs = targetLUFS(option);
        options.append(QVariantMap{
            {QStringLiteral("rawValue"), rawValue(option)},
            {QStringLiteral("displayName"), displayName(option)},
            {QStringLiteral("shortName"), shortName(option)},
            {QStringLiteral("menuLabel"), menuLabel(option)},
            {QStringLiteral("targetLUFS"), lufs ? QVariant(*lufs) : QVariant()},
        });
    }
    return options;
}

}  // namespace orvinta
