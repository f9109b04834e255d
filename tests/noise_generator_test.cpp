#include <gtest/gtest.h>

#include "sound/noise_generator.h"

namespace {

TEST(NoiseGenerator, FirstDrawsFromAFreshGenerator)
{
    NoiseGenerator g;
    const std::uint32_t expected[] = {41, 18467, 6334, 26500, 19169, 15724};
    for (std::uint32_t value : expected)
        EXPECT_EQ(g.next(), value);
}

TEST(NoiseGenerator, SkipEqualsDrawingThatManyTimes)
{
    const std::uint64_t counts[] = {0, 1, 2, 3, 7, 1000, 12288, 123457, (1ull << 32) + 5};
    for (std::uint64_t count : counts) {
        NoiseGenerator stepped, skipped;
        stepped.state = skipped.state = 0xDEADBEEFu;
        // 2^32 draws bring an LCG of full period back to where it was.
        const std::uint64_t steps = count % (1ull << 32);
        for (std::uint64_t i = 0; i < steps; ++i)
            stepped.next();
        skipped.skip(count);
        EXPECT_EQ(skipped.state, stepped.state) << count;
    }
}

} // namespace
