#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvinta {

// Measures files on `jobs` worker threads, one file per thread at a time, and prints each
// result as soon as it and every file before it are done, so the output keeps the order of
// the arguments. On a terminal it keeps one progress line per running file below the results.
class ScanRunner {
public:
    struct Output {
        std::FILE* results = stdout;
        std::FILE* progress = nullptr;  // a terminal, or none
        bool json = false;
    };

    // Returns true when every file was measured.
    static bool run(const std::vector<std::string>& files, int jobs, const Output& output);
    // The cores this process may run on.
    static int availableCores();
};

}  // namespace orvinta
