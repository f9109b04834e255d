#include <gtest/gtest.h>

#include <string>

#include "settings/frequency_text.h"
#include "settings/settings.h"

namespace {

struct Case {
    std::uint32_t frequency;
    const char* text;
};

TEST(FrequencyText, KnownValues)
{
    const Case cases[] = {
        {10, "0,10"},   {99, "0,99"},    {100, "1,00"},   {780, "7,80"},   {781, "7,81"},
        {999, "9,99"},  {1000, "10,00"}, {1005, "10,05"}, {1234, "12,34"}, {5000, "50,00"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(FrequencyText(c.frequency).data(), c.text) << c.frequency;
}

// Cheap enough to check every value the controls can produce against div/mod.
TEST(FrequencyText, EveryFrequencyInRangeMatchesDivMod)
{
    for (std::uint32_t f = kMinFrequency; f <= kMaxFrequency; ++f) {
        char tail[3] = {static_cast<char>('0' + f % 100 / 10), static_cast<char>('0' + f % 10), 0};
        const std::string expected = std::to_string(f / 100) + "," + tail;
        const FrequencyTextBuffer text = FrequencyText(f);
        ASSERT_EQ(std::string(text.data()), expected) << f;
        ASSERT_LE(expected.size(), 5u);
    }
}

TEST(FrequencyText, OutOfRangeValuesStayWithinTheBuffer)
{
    EXPECT_STREQ(FrequencyText(0).data(), "0,00");
    EXPECT_STREQ(FrequencyText(9999).data(), "99,99");
    EXPECT_STREQ(FrequencyText(10000).data(), "99,99");
    EXPECT_STREQ(FrequencyText(0xFFFFFFFFu).data(), "99,99");
}

} // namespace
