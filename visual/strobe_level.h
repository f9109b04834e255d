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

// A screen shows a new picture only at each refresh, so a flicker faster than half its
// refresh rate cannot be shown: the screen samples it and shows a slower one instead.
// The flicker the strobe makes is 500 / ticksPerCycle(frequency) Hz, not the frequency
// chosen. A refresh rate of 0 or 1 (what systems report for "the hardware's default")
// or any other unknown rate is taken as 60 Hz.
constexpr double kAssumedRefreshHz = 60.0;
double knownRefreshRate(double refreshHz);

// Whether a screen refreshing `refreshHz` times a second shows the flicker of
// `frequency` (hundredths of a hertz, 10..5000) as it is.
bool strobeCanShow(std::uint32_t frequency, double refreshHz);

// The highest frequency setting (hundredths) whose flicker such a screen shows: 2941
// (29.41 Hz) at 60 Hz, every setting (5000) from 100 Hz up.
std::uint32_t highestShownFrequency(double refreshHz);
