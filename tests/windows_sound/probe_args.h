#pragma once
// Command-line words shared by the sound probe and the frame writer: a sound mode by
// name, a frequency in hundredths of a hertz, and positive counts. Each parser prints
// one message naming what is wrong and what is accepted, and returns false.
#include <cstdint>

#include "session/settings.h"

bool parseSoundMode(const char* text, SoundMode& mode);
bool parseFrequency(const char* text, std::uint32_t& frequency);
bool parseCount(const char* text, const char* what, std::uint32_t low, std::uint32_t high,
                std::uint32_t& value);
