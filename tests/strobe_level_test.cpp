#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

#include "visual/strobe_level.h"

namespace {

struct CurveCase {
    std::uint32_t frequency;
    std::uint32_t ticksPerCycle;
    std::uint32_t firstTick;
    std::vector<int> levels;
};

TEST(StrobeLevel, KnownCurves)
{
    const CurveCase cases[] = {
        {780, 64, 0, {0, 0, 2, 5, 9, 14, 21, 28}},
        {5000, 10, 0, {0, 24, 87, 166, 229, 254, 229, 166, 87, 24, 0, 24}},
        {10, 5000, 0, {0, 0, 0}},
        {10, 5000, 2500, {254}},
    };
    for (const CurveCase& c : cases) {
        const std::uint32_t ticks = ticksPerCycle(c.frequency);
        ASSERT_EQ(ticks, c.ticksPerCycle) << c.frequency;
        const double step = phaseStep(ticks);
        for (std::size_t i = 0; i < c.levels.size(); ++i)
            EXPECT_EQ(strobeLevel(c.firstTick + static_cast<std::uint32_t>(i), step), c.levels[i])
                << "f=" << c.frequency << " tick " << c.firstTick + i;
    }
}

// The middle of a cycle is 254 only when the product is rounded to double before the
// subtraction; wider intermediates give 253. Likewise the lopsided quarter points.
TEST(StrobeLevel, RoundingAtTheTurningPoints)
{
    const double step = phaseStep(64);
    EXPECT_DOUBLE_EQ(step, 0.0981747703125);
    const struct {
        std::uint32_t tick;
        int level;
    } cases[] = {{16, 126}, {32, 254}, {48, 127}, {64, 0}, {96, 254}};
    for (const auto& c : cases)
        EXPECT_EQ(strobeLevel(c.tick, step), c.level) << c.tick;
}

// Every cycle starts black, and where it has a middle tick (an even number of ticks)
// that tick is the brightest, 254, whatever the frequency: the grey that wider
// intermediate precision would turn into 253.
TEST(StrobeLevel, EveryCycleRunsFromBlackTo254)
{
    for (std::uint32_t f : {10u, 12u, 333u, 780u, 2500u, 4999u, 5000u}) {
        const std::uint32_t ticks = ticksPerCycle(f);
        ASSERT_EQ(ticks % 2, 0u) << f;
        const double step = phaseStep(ticks);
        int highest = 0;
        for (std::uint32_t t = 0; t < ticks; ++t)
            highest = std::max<int>(highest, strobeLevel(t, step));
        EXPECT_EQ(strobeLevel(0, step), 0) << f;
        EXPECT_EQ(strobeLevel(ticks, step), 0) << f;
        EXPECT_EQ(strobeLevel(ticks / 2, step), 254) << f;
        EXPECT_EQ(highest, 254) << f;
    }
}

TEST(StrobeLevel, GreyColour)
{
    EXPECT_EQ(greyColour(0), 0u);
    EXPECT_EQ(greyColour(254), 0xFEFEFEu);
    EXPECT_EQ(greyColour(1), 65793u);
}

// A screen refreshing R times a second shows a flicker of at most R / 2; the flicker is
// 500 / (50000 div f), so the limit falls between settings whose tick counts differ.
TEST(StrobeLevel, WhatAScreenCanShow)
{
    const struct {
        double refresh;
        std::uint32_t highest; // the highest setting shown; the next one up is not
    } cases[] = {
        {0.0, 2941},   // unknown: taken as 60
        {1.0, 2941},   // the system's "default": taken as 60
        {59.94, 2941}, // 17 ticks (29.41 Hz) <= 29.97 < 16 ticks (31.25 Hz)
        {60.0, 2941},
        {62.5, 3125},  // exactly half: 16 ticks give 31.25 Hz, which is shown
        {75.0, 3571},  // 14 ticks (35.71 Hz) <= 37.5 < 13 ticks (38.46 Hz)
        {99.0, 4545},
        {100.0, 5000}, // 10 ticks give 50 Hz, exactly half
        {120.0, 5000},
        {144.0, 5000},
        {240.0, 5000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(highestShownFrequency(c.refresh), c.highest) << c.refresh;
        EXPECT_TRUE(strobeCanShow(c.highest, c.refresh)) << c.refresh;
        if (c.highest < 5000) {
            EXPECT_FALSE(strobeCanShow(c.highest + 1, c.refresh)) << c.refresh;
        }
        // The settings shown are exactly those up to the highest: a faster setting never
        // has more ticks per cycle than a slower one.
        for (std::uint32_t f = 10; f <= 5000; ++f)
            ASSERT_EQ(strobeCanShow(f, c.refresh), f <= c.highest) << c.refresh << " Hz, f=" << f;
    }
}

} // namespace
