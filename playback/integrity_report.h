// The integrity check's report as one self-contained HTML page for a case file: the
// recording's header and SHA-256, the verdict, a timeline of the groups with the findings
// marked, each finding with its frame, and a thumbnail of each damaged picture.
#pragma once

#include <string>

namespace kx {

class IntegrityCheck;

// Writes the report of a finished check of `recordingPath` to `outPath` (through a temporary
// name, renamed into place when complete). False, with `error` set, when it cannot be written.
bool writeIntegrityReport(const std::string& outPath, const std::string& recordingPath, const IntegrityCheck& check,
                          const std::string& sha256, std::string& error);

// The report's text itself.
std::string integrityReportHtml(const std::string& recordingPath, const IntegrityCheck& check,
                                const std::string& sha256);

}  // namespace kx
