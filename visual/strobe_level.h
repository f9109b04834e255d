#pragma once
// The stroboscope's brightness curve: a raised cosine over whole 2 ms ticks, black at
// tick 0 of each cycle and light grey (254) in the middle.
#include <cstdint>

constexpr std::uint32_t kStrobeTickMs = 2;

// 2 ms ticks in one stimulation cycle, truncated: 50000 div frequency.
constexpr std::uint32_t ticksPerCycle(std::uint32_t frequency) { return 50000u / frequency; }

// Phase advance per tick: 6.2831853 / ticksPerCycle.
double phaseStep(std::uint32_t ticksPerCycle);

// Grey level of tick `tick`: trunc(127 - cos(tick * step) * 127), low 8 bits.
std::uint8_t strobeLevel(std::uint32_t tick, double step);

// The grey of a level in the 0x00BBGGRR encoding: red = green = blue = level.
constexpr std::uint32_t greyColour(std::uint8_t level) { return level * 0x010101u; }
