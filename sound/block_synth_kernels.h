#pragma once
// The three sounds computed several frames at a time, written once over a lane type V
// (block_synth_avx2.cpp and block_synth_avx512.cpp supply it). Include this only from
// those two files: everything here has internal linkage, so each gets its own copy
// compiled for its own instruction set.
//
// Why the samples equal the scalar path's, frame for frame
// -------------------------------------------------------
// Both paths form the same sine argument, the double product n * step rounded once
// (the build forbids contracting it into a fused multiply-add). They differ only in the
// sine itself:
//   - glibc's sin is within 1 ulp of the true sine (its own tables list 1 ulp at most);
//   - SLEEF's u35 sines are within 3.5 ulp for |x| <= 1e14 (its RANGEMAXD), and our arguments stay
//     below 2^32 * 0.34 < 1.5e9 (the largest step is the noise carrier's 2 pi / 19).
// A result with |s| <= 1 has an ulp of at most 2^-52, so the two sines differ by at most
// 4.5 * 2^-52, about 1.0e-15.
//
// Every sine is then multiplied by a whole number w <= 32767: the amplitude, or the
// beep amplitude a / noise envelope g, which are themselves truncated products of the
// same kind and so, once vouched for, the same whole numbers in both paths. A product
// below 32768 in magnitude is rounded by at most 2^-39. So the two products differ by at
// most 32767 * 4.5 * 2^-52 + 2 * 2^-39, about 3.6e-11.
//
// A sample is its product truncated toward zero. Two products that close truncate alike
// unless a whole number lies between them. So when the vector product lies farther than
// 3.6e-11 from every whole number (0 included), the scalar product truncates to the
// same value and has the same sign. kSynthMargin = 1e-9 is about 28 times the bound;
// a frame with any product closer than the margin to a whole number is computed again
// with the scalar code. That covers every truncation of a frame:
//   - binaural: both ears' products;
//   - beeps: the gate product (its sign opens the gate, so it is checked against 0 as
//     well), then the tone product when the gate is open with a >= 1;
//   - noise: the envelope product, then the carrier product when g >= 1.
// A tone or carrier product with a closed gate, a = 0 or g = 0 is exactly zero in both
// paths and is not checked (otherwise every silent stretch would be recomputed).
// Both sines stay within [-1, 1] (SLEEF documents this for every argument), so every
// product lies within +-32767 and saturating to 16 bits stores the same values as the
// scalar path's keeping of the low 16 bits.
#include <cstdint>

#include "sound/block_synth_frame.h"
#include "sound/block_synth_vector.h"

namespace {

using synth::AMPLITUDE;

// Calls `redo(frame)` for each lane set in `lanes` (lane k is frame base + k).
template <class Redo>
std::uint32_t redoLanes(unsigned lanes, std::uint32_t base, Redo redo)
{
    std::uint32_t count = 0;
    for (; lanes != 0; lanes &= lanes - 1, ++count)
        redo(base + static_cast<std::uint32_t>(__builtin_ctz(lanes)));
    return count;
}

template <class V>
std::uint32_t binauralVector(const VectorJob& job)
{
    const double stepLeft = job.step, stepRight = job.rightStep;
    const auto vLeft = V::set(stepLeft), vRight = V::set(stepRight);
    const auto amplitude = V::set(AMPLITUDE), near = V::set(job.margin);
    std::int16_t* const out = job.out;
    const std::uint32_t first = job.first;
    const auto redo = [&](std::uint32_t k) {
        synth::binauralFrame(out + 2 * k, synth::frameIndex(first, k), stepLeft, stepRight);
    };
    std::uint32_t redone = 0;
    std::uint32_t i = 0;
    for (; i + V::kLanes <= job.frames; i += V::kLanes) {
        const auto n = V::index(first + i);
        const auto left = V::mul(V::sin(V::mul(n, vLeft)), amplitude);
        const auto right = V::mul(V::sin(V::mul(n, vRight)), amplitude);
        V::storeStereo(out + 2 * i, left, right);
        redone += redoLanes(V::nearWhole(left, near) | V::nearWhole(right, near), i, redo);
    }
    for (; i < job.frames; ++i)
        redo(i);
    return redone;
}

template <class V>
std::uint32_t beepsVector(const VectorJob& job)
{
    const double step = job.step;
    const auto vStep = V::set(step), vTone = V::set(synth::BEEP_STEP);
    const auto amplitude = V::set(AMPLITUDE), near = V::set(job.margin);
    std::int16_t* const out = job.out;
    const std::uint32_t first = job.first;
    const auto redo = [&](std::uint32_t k) { synth::beepFrame(out + 2 * k, synth::frameIndex(first, k), step); };
    std::uint32_t redone = 0;
    std::uint32_t i = 0;
    for (; i + V::kLanes <= job.frames; i += V::kLanes) {
        const auto n = V::index(first + i);
        const auto gate = V::mul(V::sin(V::mul(n, vStep)), amplitude);
        const auto a = V::truncAbs(gate);
        const auto tone = V::mul(V::sin(V::mul(n, vTone)), a);
        const unsigned sounding = V::atLeastOne(gate); // gate open and a >= 1
        V::storeMono(out + 2 * i, V::keep(sounding, tone));
        redone += redoLanes(V::nearWhole(gate, near) | (V::nearWhole(tone, near) & sounding), i, redo);
    }
    for (; i < job.frames; ++i)
        redo(i);
    return redone;
}

template <class V>
std::uint32_t noiseVector(const VectorJob& job)
{
    const double halfStep = job.step;
    const auto vHalf = V::set(halfStep);
    const auto amplitude = V::set(AMPLITUDE), near = V::set(job.margin);
    // The draws stay one strict sequence, one per frame in frame order: a chunk's draws
    // first, then its sines.
    constexpr std::uint32_t kChunk = 256;
    alignas(64) double carrier[kChunk];
    std::uint32_t redone = 0;
    for (std::uint32_t start = 0; start < job.frames; start += kChunk) {
        const std::uint32_t count = job.frames - start < kChunk ? job.frames - start : kChunk;
        drawCarrierSteps(carrier, count, *job.noise);
        std::int16_t* const out = job.out + 2 * static_cast<std::size_t>(start);
        const std::uint32_t first = job.first + start;
        const auto redo = [&](std::uint32_t k) {
            synth::noiseFrame(out + 2 * k, synth::frameIndex(first, k), halfStep, carrier[k]);
        };
        std::uint32_t j = 0;
        for (; j + V::kLanes <= count; j += V::kLanes) {
            const auto n = V::index(first + j);
            const auto envelope = V::mul(V::sin(V::mul(n, vHalf)), amplitude);
            const auto g = V::truncAbs(envelope);
            const auto v = V::mul(g, V::sin(V::mul(n, V::load(carrier + j))));
            V::storeMono(out + 2 * j, v);
            const unsigned sounding = V::atLeastOne(g);
            redone += redoLanes(V::nearWhole(envelope, near) | (V::nearWhole(v, near) & sounding), j, redo);
        }
        for (; j < count; ++j)
            redo(j);
    }
    return redone;
}

template <class V>
std::uint32_t synthesizeVector(const VectorJob& job)
{
    switch (job.mode) {
    case SoundBinaural: return binauralVector<V>(job);
    case SoundBeeps: return beepsVector<V>(job);
    case SoundNoise: return noiseVector<V>(job);
    case SoundNone:
    default: return 0; // the caller computes silence
    }
}

} // namespace
