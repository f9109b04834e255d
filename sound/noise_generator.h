#pragma once
// The noise source: a 32-bit linear congruential generator. Never reseeded, and not
// reset between sessions, so a second noise session continues the sequence.
#include <cstdint>

struct NoiseGenerator {
    std::uint32_t state = 1;

    // Returns bits 16..30 of the new state: 0..32767.
    std::uint32_t next()
    {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFFu;
    }

    // Advances the state by `count` draws in O(log count), as if next() had been
    // called that many times. Lets a long render split the work between threads.
    void skip(std::uint64_t count);
};

// The generator the audio worker draws from, for the life of the process.
extern NoiseGenerator gNoiseGenerator;
