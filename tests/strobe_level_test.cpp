#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "visual/strobe_level.h"

namespace {

// Known curves. The middle of a cycle is 254 only when the product is rounded to double
// before the subtraction; wider intermediates give 253. Likewise the lopsided quarter
// points of 780 (64 ticks); the first middle is the next test's, for every frequency.
TEST(StrobeLevel, KnownCurves)
{
    const struct {
        std::uint32_t frequency, ticksPerCycle, firstTick;
        std::vector<int> levels;
    } cases[] = {
        {780, 64, 0, {0, 0, 2, 5, 9, 14, 21, 28}},
        {780, 64, 16, {126}}, {780, 64, 48, {127}}, {780, 64, 96, {254}},
        {5000, 10, 0, {0, 24, 87, 166, 229, 254, 229, 166, 87, 24, 0, 24}},
        {10, 5000, 0, {0, 0, 0}},
    };
    EXPECT_DOUBLE_EQ(phaseStep(64), 0.0981747703125);
    for (const auto& c : cases) {
        ASSERT_EQ(ticksPerCycle(c.frequency), c.ticksPerCycle) << c.frequency;
        for (std::size_t i = 0; i < c.levels.size(); ++i)
            EXPECT_EQ(strobeLevel(c.firstTick + static_cast<std::uint32_t>(i), phaseStep(c.ticksPerCycle)), c.levels[i])
                << "f=" << c.frequency << " tick " << c.firstTick + i;
    }
    EXPECT_EQ(std::tuple(greyColour(0), greyColour(1), greyColour(254)), std::tuple(0u, 0x010101u, 0xFEFEFEu));
}

// Every cycle starts black, and its middle tick (every setting gives an even number) is
// the brightest, 254, whatever the frequency.
TEST(StrobeLevel, EveryCycleRunsFromBlackTo254)
{
    for (std::uint32_t f : {10u, 12u, 333u, 780u, 2500u, 4999u, 5000u}) {
        const std::uint32_t ticks = ticksPerCycle(f);
        ASSERT_EQ(ticks % 2, 0u) << f;
        const double step = phaseStep(ticks);
        int highest = 0;
        for (std::uint32_t t = 0; t < ticks; ++t)
            highest = std::max<int>(highest, strobeLevel(t, step));
        // The brightest, the middle, the first tick and the next cycle's first.
        EXPECT_EQ(std::tuple(highest, +strobeLevel(ticks / 2, step), +strobeLevel(0, step), +strobeLevel(ticks, step)),
                  std::tuple(254, 254, 0, 0)) << f;
    }
}

// A screen refreshing R times a second shows a flicker of at most R / 2; the flicker is
// 500 / (50000 div f), so the limit falls between settings whose tick counts differ.
TEST(StrobeLevel, WhatAScreenCanShow)
{
    const struct {
        double refresh;
        std::uint32_t highest; // the highest setting shown; the next one up is not
    } cases[] = {
        {0.0, 2941}, {1.0, 2941}, // unknown, and the system's "default": taken as 60
        {59.94, 2941},            // 17 ticks (29.41 Hz) <= 29.97 < 16 ticks (31.25 Hz)
        {60.0, 2941},
        {62.5, 3125},             // exactly half: 16 ticks give 31.25 Hz, which is shown
        {75.0, 3571},             // 14 ticks (35.71 Hz) <= 37.5 < 13 ticks (38.46 Hz)
        {99.0, 4545},
        {100.0, 5000},            // 10 ticks give 50 Hz, exactly half
        {120.0, 5000}, {144.0, 5000}, {240.0, 5000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(highestShownFrequency(c.refresh), c.highest) << c.refresh;
        // Exactly the settings up to the highest are shown: a faster setting never has
        // more ticks per cycle than a slower one.
        for (std::uint32_t f = 10; f <= 5000; ++f)
            ASSERT_EQ(strobeCanShow(f, c.refresh), f <= c.highest) << c.refresh << " Hz, f=" << f;
    }
}

} // namespace
