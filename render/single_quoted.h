#pragma once
// How messages show what the user typed or named: in single quotes, as given.
#include <string>
#include <string_view>

std::string singleQuoted(std::string_view text);
