#include "app/scan/scan_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace orvinta {

namespace {

// Length of the valid UTF-8 sequence at the start of `text`, or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t code = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < minimum || code > 0x10FFFF || surrogate ? 0 : length;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const char c = text[0];
        const std::size_t length = utf8SequenceLength(text);
        if (length == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out + "\"";
}

std::string number(double value, const char* format) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    // A value that rounds to zero prints as zero, not "-0.00".
    const std::string_view printed = text;
    if (printed.starts_with('-') && printed.find_first_not_of("0.", 1) == std::string_view::npos) {
        return std::string(printed.substr(1));
    }
    return text;
}

std::size_t displayWidth(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void appendPadded(std::string& out, std::string_view text, std::size_t width, bool right) {
    const std::size_t pad = width - std::min(width, displayWidth(text));
    if (right) {
        out.append(pad, ' ');
    }
    out.append(text);
    if (!right) {
        out.append(pad, ' ');
    }
}

std::string reading(double value) {
    return std::isfinite(value) ? number(value, "%.1f") : "—";
}

std::string duration(double seconds) {
    // Rounded to tenths first, so that 59.96 s reads 1:00.0 and not 0:60.0.
    const double tenths = std::round(seconds * 10.0) / 10.0;
    const double wholeMinutes = std::floor(tenths / 60.0);
    const double rest = tenths - wholeMinutes * 60.0;
    const auto minutes = static_cast<long long>(wholeMinutes);
    char text[32];
    if (minutes >= 60) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%04.1f", minutes / 60, minutes % 60, rest);
    } else {
        std::snprintf(text, sizeof text, "%lld:%04.1f", minutes, rest);
    }
    return text;
}

constexpr std::size_t kColumnWidth = 10;

}  // namespace

std::string ScanReport::jsonLine(const ScanResult& result) {
    std::string line = "{\"file\": " + jsonString(result.file);
    if (!result.measured()) {
        return line + ", \"error\": " + jsonString(result.error) + "}";
    }
    line += ", \"integratedLUFS\": " + number(result.integratedLUFS, "%.2f");
    line += ", \"loudnessRangeLU\": " + number(result.loudnessRangeLU, "%.2f");
    line += ", \"truePeakDBTP\": " + number(result.truePeakDBTP, "%.2f");
    line += ", \"maxMomentaryLUFS\": " + number(result.maxMomentaryLUFS, "%.2f");
    line += ", \"maxShortTermLUFS\": " + number(result.maxShortTermLUFS, "%.2f");
    line += ", \"durationSeconds\": " + number(result.durationSeconds, "%.3f");
    line += ", \"sampleRate\": " + std::to_string(result.sampleRate);
    line += ", \"channels\": " + std::to_string(result.channels) + "}";
    return line;
}

std::size_t ScanReport::fileColumnWidth(std::span<const std::string> files) {
    std::size_t width = displayWidth("File");
    for (const std::string& file : files) {
        width = std::max(width, displayWidth(file));
    }
    return width;
}

std::string ScanReport::tableHeader(std::size_t fileWidth) {
    std::string line;
    appendPadded(line, "File", fileWidth, false);
    for (const char* title : {"I LUFS", "LRA LU", "TP dBTP", "M max", "S max", "Duration"}) {
        line += "  ";
        appendPadded(line, title, kColumnWidth, true);
    }
    return line;
}

std::string ScanReport::tableRow(const ScanResult& result, std::size_t fileWidth) {
    std::string line;
    appendPadded(line, result.file, fileWidth, false);
    if (!result.measured()) {
        return line + "  error: " + result.error;
    }
    for (const double value : {result.integratedLUFS, result.loudnessRangeLU, result.truePeakDBTP,
                               result.maxMomentaryLUFS, result.maxShortTermLUFS}) {
        line += "  ";
        appendPadded(line, reading(value), kColumnWidth, true);
    }
    line += "  ";
    appendPadded(line, duration(result.durationSeconds), kColumnWidth, true);
    return line;
}

}  // namespace orvinta
