#include "session/settings.h"

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
