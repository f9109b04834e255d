#pragma once
// The program keeps its texts in UTF-8 and hands them to the wide-character window
// calls as UTF-16, so the Russian captions show whatever the system's ANSI code page.
#include <cstddef>

constexpr std::size_t kWideTextCapacity = 512; // longer than any caption, item or message

struct WideText {
    wchar_t text[kWideTextCapacity];
};

// Converts `utf8`; a text too long for the buffer comes out empty rather than cut in
// the middle of a character.
WideText widen(const char* utf8);
