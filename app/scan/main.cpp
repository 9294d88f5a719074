// orvinta-scan: measures audio files with the live meter's loudness analyzer.
// Exit status: 0 when every file was measured, 1 when any failed, 2 for a usage error.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "app/scan/scan_options.h"
#include "app/scan/scan_runner.h"

namespace {

// The measuring core writes its diagnostic lines (the stage-timing report) to standard output,
// where they would break the table and the JSON lines. The results go to a duplicate of the
// original standard output; standard output itself is pointed at /dev/null.
std::FILE* takeStandardOutput() {
    const int results = dup(STDOUT_FILENO);
    const int discard = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (results < 0 || discard < 0) {
        return stdout;
    }
    dup2(discard, STDOUT_FILENO);
    close(discard);
    std::FILE* stream = fdopen(results, "w");
    return stream != nullptr ? stream : stdout;
}

}  // namespace

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
    output.results = takeStandardOutput();
    if (!options.json && isatty(STDERR_FILENO) != 0) {
        output.progress = stderr;
    }
    const int jobs = options.jobs > 0 ? options.jobs : ScanRunner::availableCores();
    const bool allMeasured = ScanRunner::run(options.files, jobs, output);
    std::fflush(output.results);
    return allMeasured ? 0 : 1;
}
