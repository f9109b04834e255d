#include "session/frequency_text.h"

FrequencyTextBuffer FrequencyText(std::uint32_t frequency)
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
