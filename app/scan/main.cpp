// orvinta-scan: measures audio files with the live meter's loudness analyzer.
// Exit status: 0 when every file was measured, 1 when any failed, 2 for a usage error.

#include <unistd.h>

#include <cstdio>

#include "app/scan/scan_options.h"
#include "app/scan/scan_runner.h"

int main(int argc, char** argv) {
    using orvinta::ScanOptions;
    using orvinta::ScanRunner;
    const ScanOptions options =
        ScanOptions::parse({argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)});
    if (options.help) {
        std::fputs(ScanOptions::usage(), stdout);
        return 0;
    }
    if (!options.usageError.empty()) {
        std::fprintf(stderr, "orvinta-scan: %s\n%s", options.usageError.c_str(),
                     ScanOptions::usage());
        return 2;
    }
    ScanRunner::Output output;
    output.json = options.json;
    output.results = stdout;
    if (!options.json && isatty(STDERR_FILENO) != 0) {
        output.progress = stderr;
    }
    const int jobs = options.jobs > 0 ? options.jobs : ScanRunner::availableCores();
    const bool allMeasured = ScanRunner::run(options.files, jobs, output);
    std::fflush(output.results);
    return allMeasured ? 0 : 1;
}
