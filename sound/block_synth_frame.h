#pragma once
// One frame of each sound mode computed with the C library's sine: the reference every
// other way of computing the sound must equal sample for sample. The scalar path loops
// over these; the vector paths call them again for any frame they cannot vouch for.
//
// The functions are `static` on purpose: each translation unit gets its own copy,
// compiled with that unit's instruction set. An inline function with external linkage
// compiled once with -mavx2 could otherwise be the copy the linker keeps for everyone,
// and a processor without AVX2 would then fault in the scalar path.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "sound/block_synth.h"

namespace synth {

// The short decimal values the sound has always been made with, not the exact ones.
constexpr double TWO_PI = 6.2831853;
constexpr double PI = 3.14159265;
constexpr double AMPLITUDE = 32767.0;
constexpr double BEEP_STEP = 0.04759988863636364; // 6.2831853 / 132

// The noise carrier's phase step for every draw: its period is 44100 div (r div 15 + 30),
// so 2185 possible steps, each TWO_PI divided by its period exactly as the sound is
// defined. Computed once by the compiler; a lookup instead of two divisions per frame.
constexpr std::size_t kCarrierSteps = 32768 / 15 + 1;
constexpr std::array<double, kCarrierSteps> carrierStepTable()
{
    std::array<double, kCarrierSteps> steps{};
    for (std::size_t k = 0; k < kCarrierSteps; ++k) {
        const std::int32_t period = 44100 / (static_cast<std::int32_t>(k) + 30);
        steps[k] = TWO_PI / period;
    }
    return steps;
}
inline constexpr std::array<double, kCarrierSteps> kCarrierStep = carrierStepTable();

static inline double carrierStep(std::uint32_t draw) { return kCarrierStep[draw / 15]; }

// The frame index as the sines take it: unsigned 32-bit, so it wraps at 2^32.
static inline double frameIndex(std::uint32_t first, std::uint32_t i)
{
    return static_cast<double>(static_cast<std::uint32_t>(first + i));
}

// The phase steps of the slow sines, from the frequency (hundredths of a hertz).
static inline double beepGateStep(std::uint32_t f) { return TWO_PI / stimulationPeriod(f); }
static inline double noiseHalfStep(std::uint32_t f) { return PI / stimulationPeriod(f); }
static inline double binauralStep(std::uint32_t period) { return TWO_PI / period; }

// Truncates toward zero and keeps the low 16 bits, as the device format wants.
static inline std::int16_t sample(double v)
{
    return static_cast<std::int16_t>(static_cast<std::int32_t>(v));
}

static inline void binauralFrame(std::int16_t* out, double n, double stepLeft, double stepRight)
{
    out[0] = sample(std::sin(n * stepLeft) * AMPLITUDE);
    out[1] = sample(std::sin(n * stepRight) * AMPLITUDE);
}

static inline void beepFrame(std::int16_t* out, double n, double step)
{
    const double gate = std::sin(n * step);
    std::int16_t v = 0;
    if (!(gate < 0.0)) {
        const std::int32_t a = std::abs(static_cast<std::int32_t>(gate * AMPLITUDE));
        v = sample(std::sin(n * BEEP_STEP) * a);
    }
    out[0] = v;
    out[1] = v;
}

static inline void noiseFrame(std::int16_t* out, double n, double halfStep, double carrier)
{
    const std::int32_t g = std::abs(static_cast<std::int32_t>(std::sin(n * halfStep) * AMPLITUDE));
    const std::int16_t v = sample(g * std::sin(n * carrier));
    out[0] = v;
    out[1] = v;
}

} // namespace synth
