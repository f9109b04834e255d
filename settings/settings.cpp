#include "settings/settings.h"

#include <cstring>

StimulationSettings gStimulationSettings;

const char* const kSoundModeCaptions[kSoundModeCount] = {
    "Отсутствует",
    "Бинауральные биения",
    "Гудки",
    "Модуляция белого шума",
};

const char* const kVisualModeCaptions[kVisualModeCount] = {
    "Отсутствует",
    "Стробоскоп",
};

namespace {

const char* const kSoundModeNames[kSoundModeCount] = {"none", "binaural", "beeps", "noise"};

} // namespace

const char* soundModeName(SoundMode mode)
{
    return isValidSoundMode(mode) ? kSoundModeNames[mode] : "unknown";
}

bool parseSoundModeName(const char* text, SoundMode* mode)
{
    for (int k = 0; k < kSoundModeCount; ++k) {
        if (std::strcmp(text, kSoundModeNames[k]) == 0) {
            *mode = static_cast<SoundMode>(k);
            return true;
        }
    }
    return false;
}
