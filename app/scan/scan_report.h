#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "app/scan/scan_result.h"

namespace orvinta {

// The two ways orvinta-scan prints its results: one JSON object per line for scripts, and an
// aligned table for people.
class ScanReport {
public:
    // {"file": …, "integratedLUFS": …, …} or {"file": …, "error": …}, without a newline. A
    // loudness without a value is null; the file name is escaped, and bytes that are not UTF-8
    // become U+FFFD.
    static std::string jsonLine(const ScanResult& result);

    // The table's heading and one row per file, without newlines; `fileWidth` is the widest
    // file name in characters (fileColumnWidth of all the names).
    static std::string tableHeader(std::size_t fileWidth);
    static std::string tableRow(const ScanResult& result, std::size_t fileWidth);
    static std::size_t fileColumnWidth(std::span<const std::string> files);
};

}  // namespace orvinta
