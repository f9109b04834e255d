#pragma once
// The frequency as the program shows it: hundredths of a hertz rendered with a comma
// and two decimals, "7,80" for 780.
#include <array>
#include <cstdint>

// At most 5 visible characters plus the terminating zero.
using FrequencyTextBuffer = std::array<char, 6>;

// Works on a copy of the value. Values from 10000 up cannot come from the controls;
// they are taken as 9999 ("99,99"), so the text never outgrows its 6 bytes.
constexpr FrequencyTextBuffer FrequencyText(std::uint32_t frequency)
{
    FrequencyTextBuffer out{};
    std::uint32_t remaining = frequency > 9999 ? 9999 : frequency;
    std::size_t length = 0;

    // The divisor steps down by multiplying with 0.1 in double arithmetic; in IEEE
    // double this lands exactly on 100, 10 and 1, which the comma test relies on.
    double divisor = 1000.0;
    while (divisor >= 1.0) {
        const std::uint32_t q = remaining / static_cast<std::uint32_t>(divisor);
        const double product = static_cast<double>(q) * divisor;
        remaining = static_cast<std::uint32_t>(static_cast<double>(remaining) - product);
        if (!(q == 0 && divisor == 1000.0)) // a zero thousands digit is left out
            out[length++] = static_cast<char>('0' + q);
        divisor = divisor * 0.1;
        if (divisor == 10.0)
            out[length++] = ',';
    }
    out[length] = '\0';
    return out;
}
