#pragma once
// The command line as UTF-8 strings, the encoding std::filesystem takes for narrow
// paths. On Windows the narrow argv is in the ANSI code page, which would turn a path
// such as C:\Users\Иван\session.wav into a different name, so the Windows file reads
// the wide command line instead.
#include <filesystem>
#include <string>
#include <vector>

std::vector<std::string> utf8Arguments(int argc, char** argv);

// A path given on the command line, and a path as shown in a message, both UTF-8 on
// Windows; on other systems a path is its bytes, passed through untouched.
std::filesystem::path pathFromArgument(const std::string& text);
std::string pathForMessage(const std::filesystem::path& path);
