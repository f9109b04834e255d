#include <gtest/gtest.h>

#include "render/single_quoted.h"

namespace {

TEST(SingleQuoted, ControlCharactersShownNeverSent)
{
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"session 7,80.wav", "'session 7,80.wav'"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", "'caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5'"},
        {"\x1b[2J\x1b]0;x\x07", "'\\x1b[2J\\x1b]0;x\\x07'"},
        {"a\nb\rc\td\x7f", "'a\\nb\\rc\\td\\x7f'"},
        {"\xC2\x9B" "31m \xC2\x85", "'\\xc2\\x9b31m \\xc2\\x85'"},       // C1 controls, as UTF-8
        {"\xC2\xA0\xC2", "'\xC2\xA0\\xc2'"},                             // cut short
        {"\xC0\x9B \xED\xA0\x80 \xF4\x90\x80\x80", "'\\xc0\\x9b \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80'"}, // overlong, surrogate, too high
        {"", "''"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(singleQuoted(c.text), c.shown) << c.shown;
    EXPECT_EQ(singleQuoted(std::string_view("a\0b", 3)), "'a\\x00b'");
}

} // namespace
