#include <gtest/gtest.h>

#include "render/progress.h"

namespace {

// Marks and percent round down, and the largest render does not overflow.
TEST(Progress, BarMarksAndPercent)
{
    const struct {
        std::uint64_t done, total;
        unsigned width;
        const char* bar;
    } cases[] = {
        {0, 100, 10, "[----------]   0%"}, {1, 100, 10, "[----------]   1%"}, {10, 100, 10, "[#---------]  10%"},
        {50, 100, 10, "[#####-----]  50%"}, {99, 100, 10, "[#########-]  99%"}, {100, 100, 10, "[##########] 100%"},
        {1, 3, 3, "[#--]  33%"}, {26460000, 26460000, 4, "[####] 100%"}, {1073741814, 1073741814, 2, "[##] 100%"},
        {5, 0, 4, "[####] 100%"}, // nothing to do is done
    };
    for (const auto& c : cases)
        EXPECT_EQ(progressBar(c.done, c.total, c.width), c.bar) << c.done << "/" << c.total;
}

// The line leaves the terminal's last column free, dropping the name, then marks.
TEST(Progress, TheLineFitsTheTerminal)
{
    const struct {
        unsigned columns;
        bool named; // "zarvelin-render: " in front
        unsigned marks;
    } cases[] = {
        {0, true, kProgressMarks}, // width unknown
        {200, true, kProgressMarks}, {80, true, kProgressMarks}, {65, true, kProgressMarks}, {64, true, 39},
        {35, true, kProgressMinMarks}, {34, false, 26}, {20, false, 12}, {9, false, 1},
    };
    for (const auto& c : cases) {
        const std::string line = progressLine(1, 2, c.columns);
        const std::string bar = progressBar(1, 2, c.marks);
        EXPECT_EQ(line, c.named ? "zarvelin-render: " + bar : bar) << c.columns;
        EXPECT_TRUE(c.columns == 0 || line.size() < c.columns) << c.columns;
    }
}

// Shown only for renders on course to take about a second or more.
TEST(Progress, ShownOnlyForLongRenders)
{
    const struct {
        double elapsed, fraction;
        bool shown;
    } cases[] = {
        {0.0, 0.0, false}, {0.1, 0.01, false}, // too early to judge
        {0.3, 0.5, false},                     // on course for 0.6 s
        {0.3, 0.2, true},                      // on course for 1.5 s
        {0.5, 0.0, false},                     // no pace yet
        {0.9, 0.95, false}, {1.0, 0.99, true}, {5.0, 0.5, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progressWorthShowing(c.elapsed, c.fraction), c.shown) << c.elapsed << " " << c.fraction;
}

} // namespace
