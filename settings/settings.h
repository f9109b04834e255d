#pragma once
// The three choices that define a stimulation session, their ranges and defaults.
// Written by the control window and the session controller before a session starts,
// read by the workers while it runs.
#include <cstdint>

enum SoundMode : std::int32_t {
    SoundNone = 0,      // silence; the stream still runs
    SoundBinaural = 1,  // a different pure tone in each ear
    SoundBeeps = 2,     // a 334 Hz tone gated by the stimulation sine
    SoundNoise = 3,     // noise whose loudness follows the stimulation frequency
};

enum VisualMode : std::int32_t {
    VisualNone = 0,    // the stimulation window stays black
    VisualStrobe = 1,  // the screen pulses from black to light grey and back
};

constexpr std::uint32_t kMinFrequency = 10;      // 0.10 Hz, in hundredths of a hertz
constexpr std::uint32_t kMaxFrequency = 5000;    // 50.00 Hz
constexpr std::uint32_t kDefaultFrequency = 780; // 7.80 Hz
constexpr int kSoundModeCount = 4;
constexpr int kVisualModeCount = 2;

struct StimulationSettings {
    std::uint32_t frequency = kDefaultFrequency;  // hundredths of a hertz, never 0 in a session
    SoundMode soundMode = SoundBinaural;
    VisualMode visualMode = VisualStrobe;
};

// The one instance for the whole process.
extern StimulationSettings gStimulationSettings;

// Captions of the list items, UTF-8, in value order: an item's position is its mode value.
extern const char* const kSoundModeCaptions[kSoundModeCount];
extern const char* const kVisualModeCaptions[kVisualModeCount];

// Range checks used wherever a value enters the settings from outside.
constexpr bool isValidFrequency(std::uint32_t f) { return f >= kMinFrequency && f <= kMaxFrequency; }
constexpr bool isValidSoundMode(long v) { return v >= 0 && v < kSoundModeCount; }
constexpr bool isValidVisualMode(long v) { return v >= 0 && v < kVisualModeCount; }

// The sound modes' names on command lines and in file names: none, binaural, beeps,
// noise, in value order. One table for every tool that takes a mode by name.
const char* soundModeName(SoundMode mode);

// The mode whose name is `text` exactly (case matters); false, and `*mode` untouched,
// for any other text.
bool parseSoundModeName(const char* text, SoundMode* mode);
