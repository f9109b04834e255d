#include "render/wav_writer.h"

#include <bit>
#include <cstring>

#include "sound/block_synth.h"

namespace {

void put16(unsigned char* at, std::uint16_t v)
{
    at[0] = static_cast<unsigned char>(v & 0xFF);
    at[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

} // namespace

std::array<unsigned char, kWavHeaderBytes> wavHeader(std::uint64_t frames)
{
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames * kWavFrameBytes);
    std::array<unsigned char, kWavHeaderBytes> h{};
    unsigned char* p = h.data();
    std::memcpy(p + 0, "RIFF", 4);
    put32(p + 4, 36u + dataBytes); // everything after this field
    std::memcpy(p + 8, "WAVE", 4);
    std::memcpy(p + 12, "fmt ", 4);
    put32(p + 16, 16);                             // plain PCM fmt chunk, no extension
    put16(p + 20, 1);                              // PCM
    put16(p + 22, kWavChannels);
    put32(p + 24, kSampleRate);
    put32(p + 28, kSampleRate * kWavFrameBytes);   // bytes per second
    put16(p + 32, static_cast<std::uint16_t>(kWavFrameBytes)); // block alignment
    put16(p + 34, kWavBitsPerSample);
    std::memcpy(p + 36, "data", 4);
    put32(p + 40, dataBytes);
    return h;
}

void samplesToLittleEndian(std::int16_t* samples, std::size_t sampleCount)
{
    if constexpr (std::endian::native != std::endian::little) {
        for (std::size_t i = 0; i < sampleCount; ++i) {
            unsigned char bytes[2];
            put16(bytes, static_cast<std::uint16_t>(samples[i]));
            std::memcpy(&samples[i], bytes, 2);
        }
    }
}
