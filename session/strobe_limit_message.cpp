#include "session/strobe_limit_message.h"

#include <cmath>

#include "settings/frequency_text.h"
#include "visual/strobe_level.h"

std::string refreshRateText(double refreshHz)
{
    const double rate = knownRefreshRate(refreshHz);
    // Rates of 100 Hz and more show every setting, so they never reach a message; the
    // cap keeps the text within what FrequencyText writes.
    const auto hundredths = static_cast<std::uint32_t>(std::lround(std::fmin(rate, 99.99) * 100.0));
    if (hundredths % 100 == 0)
        return std::to_string(hundredths / 100);
    return FrequencyText(hundredths).data();
}

std::string strobeLimitMessage(std::uint32_t frequency, double refreshHz)
{
    return std::string("Частота обновления экрана — ") + refreshRateText(refreshHz) +
           " Гц. Мерцание " + FrequencyText(frequency).data() +
           " Гц он показать не может: вместо него было бы видно более медленное.\n\n"
           "Самая высокая частота стробоскопа на этом экране — " +
           FrequencyText(highestShownFrequency(refreshHz)).data() +
           " Гц.\n\nСеанс пройдёт с чёрным экраном, звук не изменится.";
}
