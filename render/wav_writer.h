#pragma once
// The WAV container the renderer writes: RIFF/WAVE, a 16-byte PCM fmt chunk, then one
// data chunk of 16-bit stereo frames at 44.1 kHz, all little-endian whatever the host.
#include <array>
#include <cstddef>
#include <cstdint>

constexpr std::size_t kWavHeaderBytes = 44;
constexpr std::uint16_t kWavChannels = 2;
constexpr std::uint16_t kWavBitsPerSample = 16;
constexpr std::uint32_t kWavFrameBytes = kWavChannels * kWavBitsPerSample / 8;

// The 44 header bytes for `frames` frames. The caller keeps frames within what the
// 32-bit sizes can hold (kMaxRenderFrames).
std::array<unsigned char, kWavHeaderBytes> wavHeader(std::uint64_t frames);

// Puts `sampleCount` samples into the file's byte order, in place, so the buffer can be
// written as it is. On a little-endian host it already is, and this does nothing.
void samplesToLittleEndian(std::int16_t* samples, std::size_t sampleCount);
