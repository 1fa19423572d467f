// The integrity report page: header table, verdict, SVG timeline, findings table, thumbnails
// as BMP data URIs, so the page needs no other file.
#include "playback/integrity_report.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>

#include "playback/integrity_check.h"

namespace kx {
namespace {

constexpr size_t kMaxThumbnails = 200;

std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// The recorder's wall time in its own time zone, as the player shows it.
std::string recorderTime(uint32_t seconds, int32_t gmtOffsetHours) {
    const std::time_t t = std::time_t(seconds) + std::time_t(gmtOffsetHours) * 3600;
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    char zone[16];
    std::snprintf(zone, sizeof zone, gmtOffsetHours >= 0 ? "(GMT+%02d:00)" : "(GMT-%02d:00)",
                  gmtOffsetHours >= 0 ? gmtOffsetHours : -gmtOffsetHours);
    return std::string(text) + " " + zone;
}

std::string base64(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = uint32_t(bytes[i]) << 16 | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0) |
                           (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        out += kDigits[n >> 18 & 63];
        out += kDigits[n >> 12 & 63];
        out += i + 1 < bytes.size() ? kDigits[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// A 24-bit bottom-up BMP of a top-down B, G, R picture.
std::vector<uint8_t> bmpOf(const Finding& finding) {
    const uint32_t width = finding.thumbnailWidth;
    const uint32_t height = finding.thumbnailHeight;
    const uint32_t stride = (width * 3 + 3) & ~3u;
    std::vector<uint8_t> out;
    out.reserve(54 + size_t(stride) * height);
    out.push_back('B');
    out.push_back('M');
    putLe(out, 54 + stride * height, 4);
    putLe(out, 0, 4);
    putLe(out, 54, 4);
    putLe(out, 40, 4);
    putLe(out, width, 4);
    putLe(out, height, 4);
    putLe(out, 1, 2);
    putLe(out, 24, 2);
    putLe(out, 0, 4);
    putLe(out, stride * height, 4);
    putLe(out, 2835, 4);
    putLe(out, 2835, 4);
    putLe(out, 0, 4);
    putLe(out, 0, 4);
    for (uint32_t y = height; y-- > 0;) {
        const uint8_t* row = finding.thumbnail.data() + size_t(y) * width * 3;
        out.insert(out.end(), row, row + size_t(width) * 3);
        out.insert(out.end(), stride - width * 3, 0);
    }
    return out;
}

std::string frameName(const Finding& f) { return std::to_string(f.group) + ":" + std::to_string(f.position); }

}  // namespace

std::string integrityReportHtml(const std::string& recordingPath, const IntegrityCheck& check,
                                const std::string& sha256) {
    const CRecordInfo& h = check.header();
    const int32_t zone = h.GmtOffset();
    const std::vector<Finding>& findings = check.findings();
    std::string html;
    html += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Integrity report: " + escape(recordingPath) +
            "</title>\n<style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
            "td,th{border:1px solid #999;padding:3px 8px;text-align:left}.passed{color:#009640}"
            ".failed{color:#ff0000}code{font-size:90%}</style></head><body>\n";
    html += "<h1>Integrity report</h1>\n";
    html += check.passed() ? "<h2 class=\"passed\">This file has passed the authentication!</h2>\n"
                           : "<h2 class=\"failed\">This file has failed the authentication!</h2>\n";
    const uint64_t findingCount = findings.size() + check.findingsOmitted();
    html += "<p>" + std::to_string(check.framesChecked()) + " of " + std::to_string(check.framesIndexed()) +
            " indexed frames checked, " + std::to_string(findingCount) + " finding" + (findingCount == 1 ? "" : "s") +
            (check.findingsOmitted() ? " (the first " + std::to_string(findings.size()) + " listed)" : std::string()) +
            ". Recordings carry no checksums: the check finds what the reader and the decoders detect "
            "(records that cannot be read, pictures that do not decode or decode only in part, codec "
            "identifiers) and what the timing shows (ticks, group times, group frame counts).</p>\n";

    html += "<h2>Recording</h2>\n<table>\n";
    const auto row = [&html](const std::string& name, const std::string& value) {
        html += "<tr><th>" + name + "</th><td>" + value + "</td></tr>\n";
    };
    row("File", escape(recordingPath));
    row("SHA-256", "<code>" + (sha256.empty() ? std::string("(the file could not be read)") : sha256) + "</code>");
    row("Length", std::to_string(h.FileLength()) + " bytes");
    row("Kind", std::to_string(h.Kind()));
    row("Host", escape(h.HostName()));
    row("Board", escape(h.BoardName()) + " (number " + std::to_string(h.BoardNumber()) + ")");
    row("Camera", escape(h.CameraName()) + " (number " + std::to_string(h.CameraNumber()) + ")");
    row("Picture size", std::to_string(h.Width()) + " x " + std::to_string(h.Height()) + " (resolution code " +
                            std::to_string(h.ResolutionCode()) + ")");
    row("Start", recorderTime(h.StartTime(), zone));
    row("End", recorderTime(h.EndTime(), zone));
    row("Groups", std::to_string(check.groups().size()));
    html += "</table>\n";

    // The timeline: one bar per group, as wide as its frames; groups with findings in red, and
    // a mark at each finding's frame.
    const std::vector<GroupEntry>& groups = check.groups();
    uint64_t frames = 0;
    for (const GroupEntry& g : groups) frames += std::max<uint32_t>(g.frameCount, 1);
    std::vector<uint64_t> startOf(groups.size() + 1, 0);
    for (size_t g = 0; g < groups.size(); ++g) startOf[g + 1] = startOf[g] + std::max<uint32_t>(groups[g].frameCount, 1);
    std::vector<bool> damaged(groups.size(), false);
    for (const Finding& f : findings)
        if (f.group < groups.size()) damaged[f.group] = true;
    const double scale = frames ? 1000.0 / double(frames) : 0;
    html += "<h2>Timeline</h2>\n<svg width=\"1000\" height=\"60\" viewBox=\"0 0 1000 60\" "
            "xmlns=\"http://www.w3.org/2000/svg\">\n";
    for (size_t g = 0; g < groups.size(); ++g) {
        char rect[320];
        std::snprintf(rect, sizeof rect,
                      "<rect x=\"%.2f\" y=\"10\" width=\"%.2f\" height=\"30\" fill=\"%s\" stroke=\"#fff\" "
                      "stroke-width=\"0.5\"><title>group %zu: %u frames from %s</title></rect>\n",
                      double(startOf[g]) * scale, double(startOf[g + 1] - startOf[g]) * scale,
                      damaged[g] ? "#e04040" : "#40a060", g, groups[g].frameCount,
                      recorderTime(check.groupWallTimes()[g], zone).c_str());
        html += rect;
    }
    for (const Finding& f : findings) {
        if (f.group >= groups.size()) continue;
        char mark[256];
        std::snprintf(mark, sizeof mark,
                      "<line x1=\"%.2f\" y1=\"2\" x2=\"%.2f\" y2=\"58\" stroke=\"#000\" stroke-width=\"1.5\">"
                      "<title>%s at %u:%u</title></line>\n",
                      (double(startOf[f.group]) + f.position + 0.5) * scale,
                      (double(startOf[f.group]) + f.position + 0.5) * scale, findingKindName(f.kind), f.group, f.position);
        html += mark;
    }
    html += "</svg>\n";

    html += "<h2>Findings</h2>\n";
    if (findings.empty()) {
        html += "<p>None.</p>\n";
    } else {
        html += "<table>\n<tr><th>Frame (group:position)</th><th>Tick</th><th>Wall time</th><th>Kind</th>"
                "<th>Detail</th><th>Picture</th></tr>\n";
        size_t thumbnails = 0;
        for (const Finding& f : findings) {
            std::string picture;
            if (!f.thumbnail.empty() && thumbnails < kMaxThumbnails) {
                ++thumbnails;
                picture = "<img alt=\"frame " + frameName(f) + "\" width=\"" + std::to_string(f.thumbnailWidth) +
                          "\" height=\"" + std::to_string(f.thumbnailHeight) + "\" src=\"data:image/bmp;base64," +
                          base64(bmpOf(f)) + "\">";
            }
            html += "<tr><td>" + frameName(f) + "</td><td>" + std::to_string(f.tick) + "</td><td>" +
                    recorderTime(f.wallTime, zone) + "</td><td>" + findingKindName(f.kind) + "</td><td>" +
                    escape(f.detail) + "</td><td>" + picture + "</td></tr>\n";
        }
        html += "</table>\n";
    }
    html += "</body></html>\n";
    return html;
}

bool writeIntegrityReport(const std::string& outPath, const std::string& recordingPath, const IntegrityCheck& check,
                          const std::string& sha256, std::string& error) {
    const std::string temporary = outPath + ".part" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        const std::string html = integrityReportHtml(recordingPath, check, sha256);
        out.write(html.data(), std::streamsize(html.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            error = outPath + ": the report cannot be written";
            return false;
        }
    }
    if (std::rename(temporary.c_str(), outPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = outPath + ": the report cannot be moved into place";
        return false;
    }
    return true;
}

}  // namespace kx
