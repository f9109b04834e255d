#pragma once
// The frequency as the program shows it: hundredths of a hertz rendered with a comma
// and two decimals, "7,80" for 780.
#include <array>
#include <cstdint>

// At most 5 visible characters plus the terminating zero.
using FrequencyTextBuffer = std::array<char, 6>;

// Works on a copy of the value. Values from 10000 up cannot come from the controls;
// they are shown as "99,99" so the text never outgrows its 6 bytes.
FrequencyTextBuffer FrequencyText(std::uint32_t frequency);
