#include <gtest/gtest.h>

#include <string>

#include "settings/frequency_text.h"
#include "settings/settings.h"

namespace {

// Every value the controls can produce, against div/mod.
TEST(FrequencyText, EveryFrequencyInRangeMatchesDivMod)
{
    for (std::uint32_t f = kMinFrequency; f <= kMaxFrequency; ++f) {
        const char tail[3] = {static_cast<char>('0' + f % 100 / 10), static_cast<char>('0' + f % 10), 0};
        ASSERT_EQ(std::string(FrequencyText(f).data()), std::to_string(f / 100) + "," + tail) << f;
    }
}

// Known values, and values out of range kept within the buffer.
TEST(FrequencyText, KnownValues)
{
    const struct {
        std::uint32_t frequency;
        const char* text;
    } cases[] = {{10, "0,10"}, {780, "7,80"}, {1005, "10,05"}, {5000, "50,00"},
                 {0, "0,00"},  {9999, "99,99"}, {10000, "99,99"}, {0xFFFFFFFFu, "99,99"}};
    for (const auto& c : cases)
        EXPECT_STREQ(FrequencyText(c.frequency).data(), c.text) << c.frequency;
}

} // namespace
