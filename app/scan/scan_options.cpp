#include "app/scan/scan_options.h"

#include <charconv>
#include <string_view>

namespace orvinta {

ScanOptions ScanOptions::parse(std::span<const char* const> arguments) {
    ScanOptions options;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (onlyFiles || argument.empty() || argument[0] != '-' || argument == "-") {
            options.files.emplace_back(argument);
        } else if (argument == "--") {
            onlyFiles = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--jobs" || argument == "-j" || argument.starts_with("--jobs=")) {
            std::string_view value;
            if (argument.starts_with("--jobs=")) {
                value = argument.substr(7);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            }
            int jobs = 0;
            const auto [end, status] =
                std::from_chars(value.data(), value.data() + value.size(), jobs);
            if (status != std::errc() || end != value.data() + value.size() || jobs < 1) {
                options.usageError = "--jobs needs a whole number of at least 1";
                return options;
            }
            options.jobs = jobs;
        } else {
            options.usageError = "unknown option " + std::string(argument);
            return options;
        }
    }
    if (options.files.empty() && !options.help) {
        options.usageError = "no file to measure";
    }
    return options;
}

const char* ScanOptions::usage() {
    return "usage: orvinta-scan [--json] [--jobs N] FILE...\n"
           "Measures integrated loudness, loudness range, maximum true peak and maximum\n"
           "momentary and short-term loudness of audio files (EBU R128 / ITU-R BS.1770).\n"
           "  --json      one JSON object per file per line, in the order of the files\n"
           "  --jobs N    measure N files at once (default: the number of cores)\n";
}

}  // namespace orvinta
