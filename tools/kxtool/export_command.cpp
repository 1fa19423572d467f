// kxtool export: converts a recording into an AVI file as "KX to AVI" does, or into an MP4
// evidence file as "Export to MP4" does, headless: the export's log lines on standard output,
// the progress on standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "output/avi_export.h"
#include "output/mp4_export.h"
#include "platform/avi_file.h"
#include "tools/kxtool/commands.h"

namespace kx {

int runExport(const ExportOptions& options) {
    if (options.listCodecs) {
        for (const AviCompressor& compressor : aviCompressors())
            std::printf("%-6s %s\n", compressor.name.c_str(), compressor.description.c_str());
        return 0;
    }
    std::vector<std::string> lines;
    int shownPercent = -1;
    const auto log = [&](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        lines.push_back(line);
    };
    const auto progress = [&](uint32_t frame, uint32_t total) {
        const int percent = total == 0 ? 100 : int(uint64_t(frame) * 100 / total);
        if (percent == shownPercent) return;
        shownPercent = percent;
        std::fprintf(stderr, "\rframe %u of %u (%d%%)%s", frame, total, percent,
                     frame == total ? "\n" : "");
    };
    if (options.format == "mp4") {
        Mp4Export exporter(log, progress);
        if (exporter.Export(options.file, options.out, options.quality.value_or(23))) return 0;
        reportError(options.file, lines.empty() ? "not exported" : lines.back());
        return 1;
    }
    AviExport exporter(log, progress);
    if (exporter.Convert(options.file, options.out, options.codec, options.quality)) return 0;
    // The message, and the detail without the file name reportError puts first.
    std::string reason = lines.empty() ? "not converted" : lines.front();
    if (lines.size() > 1) {
        std::string detail = lines.back();
        if (detail.compare(0, options.file.size() + 2, options.file + ": ") == 0)
            detail.erase(0, options.file.size() + 2);
        reason += " " + detail;
    }
    reportError(options.file, reason);
    return 1;
}

}  // namespace kx
