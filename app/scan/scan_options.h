#pragma once

#include <span>
#include <string>
#include <vector>

namespace orvinta {

// The command line of orvinta-scan: [--json] [--jobs N] FILE...
struct ScanOptions {
    bool json = false;
    int jobs = 0;  // 0: one per core
    bool help = false;
    std::vector<std::string> files;
    std::string usageError;  // empty when the command line is valid

    static ScanOptions parse(std::span<const char* const> arguments);
    static const char* usage();
};

}  // namespace orvinta
