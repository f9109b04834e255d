#include "render/single_quoted.h"

std::string singleQuoted(std::string_view text)
{
    std::string q;
    q.reserve(text.size() + 2);
    q += '\'';
    q += text;
    q += '\'';
    return q;
}
