#include "sound/block_synth.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace {

// The short decimal values the sound has always been made with, not the exact ones.
constexpr double TWO_PI = 6.2831853;
constexpr double PI = 3.14159265;
constexpr double AMPLITUDE = 32767.0;
constexpr double BEEP_STEP = 0.04759988863636364; // 6.2831853 / 132

// Truncates toward zero and keeps the low 16 bits, as the device format wants.
inline std::int16_t sample(double v)
{
    return static_cast<std::int16_t>(static_cast<std::int32_t>(v));
}

void silence(std::int16_t* out, std::uint32_t frames)
{
    for (std::uint32_t i = 0; i < frames * 2; ++i)
        out[i] = 0;
}

void binaural(std::int16_t* out, std::uint32_t frames, std::uint32_t f, std::uint32_t first)
{
    const BinauralPeriods periods = binauralPeriods(f);
    const double stepLeft = TWO_PI / periods.left;
    const double stepRight = TWO_PI / periods.right;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double n = static_cast<double>(static_cast<std::uint32_t>(first + i));
        out[2 * i] = sample(std::sin(n * stepLeft) * AMPLITUDE);
        out[2 * i + 1] = sample(std::sin(n * stepRight) * AMPLITUDE);
    }
}

void beeps(std::int16_t* out, std::uint32_t frames, std::uint32_t f, std::uint32_t first)
{
    const std::uint32_t period = stimulationPeriod(f);
    const double step = TWO_PI / period;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double n = static_cast<double>(static_cast<std::uint32_t>(first + i));
        const double gate = std::sin(n * step);
        std::int16_t v = 0;
        if (!(gate < 0.0)) {
            const std::int32_t a = std::abs(static_cast<std::int32_t>(gate * AMPLITUDE));
            v = sample(std::sin(n * BEEP_STEP) * a);
        }
        out[2 * i] = v;
        out[2 * i + 1] = v;
    }
}

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
constexpr std::array<double, kCarrierSteps> kCarrierStep = carrierStepTable();

void noise(std::int16_t* out, std::uint32_t frames, std::uint32_t f, std::uint32_t first,
           NoiseGenerator& generator)
{
    const std::uint32_t envelopePeriod = stimulationPeriod(f);
    const double halfStep = PI / envelopePeriod;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double n = static_cast<double>(static_cast<std::uint32_t>(first + i));
        const std::uint32_t r = generator.next(); // once per frame, first
        const double carrierStep = kCarrierStep[r / 15];
        const std::int32_t g = std::abs(static_cast<std::int32_t>(std::sin(n * halfStep) * AMPLITUDE));
        const std::int16_t v = sample(g * std::sin(n * carrierStep));
        out[2 * i] = v;
        out[2 * i + 1] = v;
    }
}

} // namespace

BinauralPeriods binauralPeriods(std::uint32_t f)
{
    // Below 0.20 Hz the tones sit higher above 80 Hz, so the two ears still differ.
    const std::uint32_t m = f < 20 ? 50 : 20;
    return {4410000u / (f * m + 8000u), 4410000u / (f * (m + 1) + 8000u)};
}

void synthesizeFrames(std::int16_t* out, std::uint32_t frameCount, std::uint32_t frequency,
                      SoundMode mode, std::uint32_t firstFrame, NoiseGenerator& generator)
{
    switch (mode) {
    case SoundBinaural: binaural(out, frameCount, frequency, firstFrame); break;
    case SoundBeeps: beeps(out, frameCount, frequency, firstFrame); break;
    case SoundNoise: noise(out, frameCount, frequency, firstFrame, generator); break;
    case SoundNone:
    default: silence(out, frameCount); break;
    }
}
