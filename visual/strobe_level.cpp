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
