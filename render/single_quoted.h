#pragma once
// How messages show what the user typed or named: in single quotes, with every character
// that a terminal would act on written out visibly instead, so a name such as
// $'\e[2J.wav' is shown, never obeyed. Printable text, UTF-8 included (Cyrillic file
// names), is shown as given.
#include <string>
#include <string_view>

// C0 controls as \n, \r, \t or \xNN (ESC is \x1b), DEL as \x7f, C1 controls (U+0080 to
// U+009F, which some terminals obey too) and bytes that are not UTF-8 as their bytes in
// \xNN form.
std::string visibleText(std::string_view text);

// visibleText in single quotes.
std::string singleQuoted(std::string_view text);
