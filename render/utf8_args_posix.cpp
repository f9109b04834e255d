#include "render/utf8_args.h"

// Paths here are bytes; they pass through as they are.
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

std::filesystem::path pathFromArgument(const std::string& text) { return std::filesystem::path(text); }

std::string pathForMessage(const std::filesystem::path& path) { return path.string(); }
