#include <gtest/gtest.h>

#include "sound/noise_generator.h"

namespace {

TEST(NoiseGenerator, FirstDrawsFromAFreshGenerator)
{
    NoiseGenerator g;
    for (std::uint32_t value : {41u, 18467u, 6334u, 26500u, 19169u, 15724u})
        EXPECT_EQ(g.next(), value);
}

TEST(NoiseGenerator, SkipEqualsDrawingThatManyTimes)
{
    for (std::uint64_t count : {0ull, 1ull, 2ull, 3ull, 7ull, 1000ull, 12288ull, 123457ull, (1ull << 32) + 5}) {
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
