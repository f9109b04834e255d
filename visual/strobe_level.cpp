#include "visual/strobe_level.h"

#include <cmath>

double phaseStep(std::uint32_t ticks)
{
    return 6.2831853 / ticks;
}

std::uint8_t strobeLevel(std::uint32_t tick, double step)
{
    // The product must be rounded to double before the subtraction: in the middle of a
    // cycle the exact value lies a hair below 254, and only that rounding makes it 254.
    const double product = std::cos(static_cast<double>(tick) * step) * 127.0;
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(127.0 - product));
}

double knownRefreshRate(double refreshHz)
{
    // NaN fails the comparison too.
    return refreshHz > 1.0 ? refreshHz : kAssumedRefreshHz;
}

bool strobeCanShow(std::uint32_t frequency, double refreshHz)
{
    // The flicker 500 / ticks is at most half the rate when ticks * rate >= 1000.
    return static_cast<double>(ticksPerCycle(frequency)) * knownRefreshRate(refreshHz) >= 1000.0;
}

std::uint32_t highestShownFrequency(double refreshHz)
{
    // The fewest ticks per cycle the screen shows, then the highest setting that still
    // divides 50000 into that many.
    const double fewest = std::ceil(1000.0 / knownRefreshRate(refreshHz));
    if (fewest <= 10.0)
        return 5000; // 50.00 Hz takes 10 ticks, the fewest any setting takes
    return 50000u / static_cast<std::uint32_t>(fewest);
}
