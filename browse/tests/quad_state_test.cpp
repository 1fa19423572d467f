// The quad play window's clip marks, title, file names and pane layout.
#include "browse/quad_state.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kx {
namespace {

TEST(QuadClipMarks, EndIsOrderedAgainstTheStartAndTheSameFrameClearsBoth) {
    struct Case {
        int32_t g, p;
        bool ended;
        int32_t sg, sp, eg, ep;
    };
    // The start is group 3, position 4 in every case.
    const Case cases[] = {
        {5, 1, true, 3, 4, 5, 1},    // a later group
        {3, 9, true, 3, 4, 3, 9},    // later in the same group
        {3, 1, true, 3, 1, 3, 4},    // earlier in the same group: the two positions swap
        {1, 7, true, 1, 7, 3, 4},    // an earlier group: the start becomes the end
        {3, 4, false, 0, 0, 0, 0},   // the start's own frame: nothing marked
    };
    for (const Case& c : cases) {
        QuadClipMarks marks;
        marks.MarkStart(3, 4);
        marks.MarkEnd(c.g, c.p);
        EXPECT_EQ(marks.Complete(), c.ended) << c.g << ":" << c.p;
        if (!c.ended) {
            EXPECT_FALSE(marks.started);
            continue;
        }
        EXPECT_EQ(marks.startGroup, c.sg);
        EXPECT_EQ(marks.startPosition, c.sp);
        EXPECT_EQ(marks.endGroup, c.eg);
        EXPECT_EQ(marks.endPosition, c.ep);
    }
    QuadClipMarks none;
    none.MarkEnd(2, 2);
    EXPECT_FALSE(none.ended) << "an end needs a start";
}

TEST(QuadTexts, TitleNameAndFileNames) {
    EXPECT_EQ(quadPaneName("KX-DVR", 1, 1793741400), "(KX-DVR)(GMT+01:00)(2026/11/03) --");
    EXPECT_EQ(quadPaneName("KX-DVR", -5, 1793606400), "(KX-DVR)(GMT-05:00)(2026/11/02) --");
    EXPECT_EQ(quadPaneName("KX-DVR", 3, 1793741400), "(KX-DVR)(GMT+03:00)(2026/11/04) --") << "past midnight there";
    const std::string name = "(H)(GMT+00:00)(2026/11/03) --";
    EXPECT_EQ(quadTitle(name, false, true, 2), name + " Stop");
    EXPECT_EQ(quadTitle(name, true, true, 2), name + " Pause");
    EXPECT_EQ(quadTitle(name, true, false, 0), name + " Playing");
    EXPECT_EQ(quadTitle(name, true, false, -4), name + " Playing Times1/8");
    EXPECT_EQ(quadTitle(name, true, false, -1), name + " Playing Times1/2");
    EXPECT_EQ(quadTitle(name, true, false, 2), name + " Playing Times4");
    EXPECT_EQ(quadTitle(name, true, false, 3), name + " Playing TimesH");
    EXPECT_EQ(quadTitle(name, true, false, 4), name + " Playing TimesXH");

    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(quadClipPath("/rec/", 1793741409, ".ckx"), "/rec/clip20261103213009.ckx");
    EXPECT_EQ(quadSnapshotPath("/rec/", 0, 2, 1793714709), "/rec/pc02140509.bmp");
    ::unsetenv("TZ");
    ::tzset();
}

TEST(QuadLayout, TwoByTwoBelowTheStripAboveTheButtonsOrOneEnlarged) {
    const QuadRect client{0, 0, 801, 621};
    const auto grid = layoutQuadPanes(client, false, -1);
    EXPECT_EQ(grid[0], (QuadRect{0, 20, 400, 270}));
    EXPECT_EQ(grid[1], (QuadRect{400, 20, 801, 270}));
    EXPECT_EQ(grid[2], (QuadRect{0, 270, 400, 521}));
    EXPECT_EQ(grid[3], (QuadRect{400, 270, 801, 521}));
    EXPECT_EQ(layoutQuadPanes(client, true, -1)[3].bottom, 501);
    const auto enlarged = layoutQuadPanes(client, false, 2);
    EXPECT_EQ(enlarged[2], (QuadRect{0, 20, 801, 521}));
    EXPECT_TRUE(enlarged[0].empty());
    EXPECT_TRUE(enlarged[3].empty());
}

}  // namespace
}  // namespace kx
