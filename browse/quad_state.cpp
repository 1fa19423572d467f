// The quad play window's clip marks, texts, file names and pane layout.
#include "browse/quad_state.h"

#include <algorithm>
#include <cstdio>

namespace kx {
namespace {

std::string localText(std::time_t when, const char* format) {
    std::tm parts{};
    localtime_r(&when, &parts);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}

}  // namespace

void QuadClipMarks::MarkStart(int32_t group, int32_t position) {
    startGroup = group;
    startPosition = position;
    started = true;
    ended = false;
}

void QuadClipMarks::MarkEnd(int32_t group, int32_t position) {
    if (!started) return;
    if (group > startGroup) {
        endGroup = group;
        endPosition = position;
    } else if (group == startGroup) {
        if (position == startPosition) {
            Clear();
            return;
        }
        endGroup = group;
        endPosition = std::max(position, startPosition);
        startPosition = std::min(position, startPosition);
    } else {
        endGroup = startGroup;
        endPosition = startPosition;
        startGroup = group;
        startPosition = position;
    }
    ended = true;
}

std::string quadPaneName(const std::string& hostName, int32_t gmtOffsetHours, uint32_t startTime) {
    char zone[32];
    std::snprintf(zone, sizeof zone, gmtOffsetHours >= 0 ? "(GMT+%02d:00)" : "(GMT-%02d:00)",
                  gmtOffsetHours >= 0 ? gmtOffsetHours : -gmtOffsetHours);
    const std::time_t shown = std::time_t(startTime) + std::time_t(gmtOffsetHours) * 3600;
    std::tm parts{};
    gmtime_r(&shown, &parts);
    char date[32];
    std::strftime(date, sizeof date, "(%Y/%m/%d)", &parts);
    return "(" + hostName + ")" + zone + date + " --";
}

std::string quadTitle(const std::string& paneName, bool active, bool paused, int32_t speedIndex) {
    if (!active) return paneName + " Stop";
    if (paused) return paneName + " Pause";
    std::string title = paneName + " Playing";
    if (speedIndex == 0) return title;
    title += " Times";
    if (speedIndex < 0) return title + "1/" + std::to_string(-2 * speedIndex);
    if (speedIndex <= 2) return title + std::to_string(2 * speedIndex);
    return title + (speedIndex == 3 ? "H" : "XH");
}

std::string quadClipPath(const std::string& folder, std::time_t now, const std::string& extension) {
    return folder + "clip" + localText(now, "%Y%m%d%H%M%S") + extension;
}

std::string quadSnapshotPath(const std::string& folder, uint32_t board, uint32_t camera, std::time_t now) {
    return folder + "pc" + std::to_string(board) + std::to_string(camera) + localText(now, "%H%M%S") + ".bmp";
}

std::array<QuadRect, 4> layoutQuadPanes(const QuadRect& client, bool advanced, int enlargedPane) {
    QuadRect area = client;
    area.top += 20;
    area.bottom -= advanced ? 120 : 100;
    std::array<QuadRect, 4> panes{};
    if (enlargedPane >= 0 && enlargedPane < 4) {
        panes[size_t(enlargedPane)] = area;
        return panes;
    }
    const int midX = area.left + (area.right - area.left) / 2;
    const int midY = area.top + (area.bottom - area.top) / 2;
    panes[0] = {area.left, area.top, midX, midY};
    panes[1] = {midX, area.top, area.right, midY};
    panes[2] = {area.left, midY, midX, area.bottom};
    panes[3] = {midX, midY, area.right, area.bottom};
    return panes;
}

}  // namespace kx
