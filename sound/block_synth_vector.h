#pragma once
// The entry points of the vector paths, each in its own translation unit compiled for
// its instruction set (block_synth_avx2.cpp with -mavx2, block_synth_avx512.cpp with
// -mavx512f). Call one only when the processor has that unit. Each returns the number
// of frames it computed again with the C library's sine.
#include <cstdint>

#include "session/settings.h"
#include "sound/noise_generator.h"

std::uint32_t synthesizeFramesAvx2(double margin, std::int16_t* out, std::uint32_t frameCount,
                                   std::uint32_t frequency, SoundMode mode, std::uint32_t firstFrame,
                                   NoiseGenerator& noise);
std::uint32_t synthesizeFramesAvx512(double margin, std::int16_t* out, std::uint32_t frameCount,
                                     std::uint32_t frequency, SoundMode mode, std::uint32_t firstFrame,
                                     NoiseGenerator& noise);
