#pragma once
// What the user is told when the screen cannot show the flicker chosen: the screen's
// refresh rate and the highest setting whose flicker it shows, in the program's
// language, UTF-8.
#include <cstdint>
#include <string>

std::string strobeLimitMessage(std::uint32_t frequency, double refreshHz);

// A refresh rate as the message shows it: "60", "59,94", "75"; an unknown rate (0 or 1)
// as the 60 it is taken for.
std::string refreshRateText(double refreshHz);
