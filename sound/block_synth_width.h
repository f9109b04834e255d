#pragma once
// Which vector unit computes the sound. synthesizeFrames picks the widest one the build
// and the processor have; tests and benchmarks may ask for a narrower one, and for a
// different safety margin, through synthesizeFramesWith.
#include <cstdint>

#include "settings/settings.h"
#include "sound/noise_generator.h"

// Frames computed per step: one with the C library's sine, 4 with AVX2, 8 with AVX-512.
enum class SynthWidth : std::uint32_t { Scalar = 1, Avx2 = 4, Avx512 = 8 };

// A vector frame whose scaled sine lies this close to a whole number is computed again
// with the C library's sine; block_synth_vector.h explains the value.
constexpr double kSynthMargin = 1e-9;

// The widest width this build can use on this processor (checked once).
SynthWidth widestSynthWidth();

// synthesizeFrames with the width given (narrowed to widestSynthWidth() if wider) and
// the margin given. Returns how many frames were computed again with the C library's
// sine. Only kSynthMargin guarantees the reference samples; a smaller margin is for
// showing that the recomputation is needed.
std::uint32_t synthesizeFramesWith(SynthWidth width, double margin, std::int16_t* out,
                                   std::uint32_t frameCount, std::uint32_t frequency, SoundMode mode,
                                   std::uint32_t firstFrame, NoiseGenerator& noise);
