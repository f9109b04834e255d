#pragma once
// The entry points of the vector paths, each in its own translation unit compiled for
// its instruction set (block_synth_avx2.cpp with -mavx2, block_synth_avx512.cpp with
// -mavx512f). Call one only when the processor has that unit.
//
// Those two files call no inline function with external linkage (the generator's
// next(), stimulationPeriod, std::array's operator[]...): where such a function is not
// inlined (a debug build), each file would emit its own copy, compiled for its unit,
// and the linker could keep that copy for the whole program. So the caller works out
// the steps, and the draws go through drawCarrierSteps, compiled for plain x86-64.
#include <cstdint>

#include "settings/settings.h"
#include "sound/noise_generator.h"

struct VectorJob {
    double margin;      // recompute a frame whose product lies this close to a whole number
    std::int16_t* out;  // 2 * frames samples
    std::uint32_t frames;
    std::uint32_t first; // frame index of the first frame
    SoundMode mode;      // SoundBinaural, SoundBeeps or SoundNoise
    double step;         // binaural: the left ear's; beeps: the gate's; noise: the envelope's
    double rightStep;    // binaural: the right ear's
    NoiseGenerator* noise;
};

// The carrier steps of the generator's next `count` draws, in draw order.
void drawCarrierSteps(double* steps, std::uint32_t count, NoiseGenerator& noise);

// Each returns the number of frames it computed again with the C library's sine.
std::uint32_t synthesizeFramesAvx2(const VectorJob& job);
std::uint32_t synthesizeFramesAvx512(const VectorJob& job);
