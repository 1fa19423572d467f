// The quad play window's arithmetic and texts, free of any toolkit: a pane's clip marks, its
// name and the window title, the names of a pane's clip and snapshot files, and where the four
// panes lie.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace kx {

// The clip marks of one pane, as (group, position in group) pairs.
struct QuadClipMarks {
    int32_t startGroup = 0;
    int32_t startPosition = 0;
    int32_t endGroup = 0;
    int32_t endPosition = 0;
    bool started = false;
    bool ended = false;

    void MarkStart(int32_t group, int32_t position);
    // After a start: the marks are put in order; the end on the start's own frame clears both.
    // Nothing without a start.
    void MarkEnd(int32_t group, int32_t position);
    void Clear() { *this = QuadClipMarks(); }
    bool Complete() const { return started && ended; }
};

// "(host)(GMT+01:00)(2026/11/03) --": the pane's name from its recording, the date of the start in
// the computer's zone `gmtOffsetHours` east of GMT.
std::string quadPaneName(const std::string& hostName, int32_t gmtOffsetHours, uint32_t startTime);

// The window title for the current pane: its name, then " Stop", " Pause" or " Playing", and while
// playing at a level other than 0 " Times" and the speed ("1/8" .. "1/2", "2", "4", "H", "XH").
std::string quadTitle(const std::string& paneName, bool active, bool paused, int32_t speedIndex);

// "<folder>clip<YYYYmmddHHMMSS><extension>" at the local time `now`; `folder` ends in '/'. The
// extension is the one of the source's kind (".ckx" for four-channel and extended recordings,
// ".kxz" for clips), since a recording opens again only under its kind's extension.
std::string quadClipPath(const std::string& folder, std::time_t now, const std::string& extension);
// "<folder>pc<board><camera><HHMMSS>.bmp" (board and camera counted from 0) at the local time `now`.
std::string quadSnapshotPath(const std::string& folder, uint32_t board, uint32_t camera, std::time_t now);

struct QuadRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const QuadRect&) const = default;
    bool empty() const { return right <= left || bottom <= top; }
};

// The panes' rectangles in a client area: below a 20-pixel strip, above the 100-pixel button and
// slider area (120 while the advanced line shows), 2 x 2; an enlarged pane (0-3) takes the whole
// area and the others none.
std::array<QuadRect, 4> layoutQuadPanes(const QuadRect& client, bool advanced, int enlargedPane);

}  // namespace kx
