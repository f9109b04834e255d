#include "render/single_quoted.h"

namespace {

void putEscaped(std::string& out, unsigned char byte)
{
    static const char hex[] = "0123456789abcdef";
    switch (byte) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default:
        out += "\\x";
        out += hex[byte >> 4];
        out += hex[byte & 0xF];
    }
}

// The length of the well-formed UTF-8 sequence of two or more bytes at the start of
// `text` and its code point, or 0 when it is not one (stray continuation bytes,
// overlong forms, surrogates, past U+10FFFF, cut short).
std::size_t utf8Sequence(std::string_view text, char32_t& code)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string visibleText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        std::size_t take = 1;
        if (byte >= 0x20 && byte < 0x7F) {
            out += text[0];
        } else if (char32_t code = 0; byte >= 0x80 && (take = utf8Sequence(text, code)) != 0) {
            if (code <= 0x9F) {
                for (std::size_t i = 0; i < take; ++i)
                    putEscaped(out, static_cast<unsigned char>(text[i]));
            } else {
                out.append(text.substr(0, take));
            }
        } else {
            take = 1;
            putEscaped(out, byte);
        }
        text.remove_prefix(take);
    }
    return out;
}

std::string singleQuoted(std::string_view text)
{
    return '\'' + visibleText(text) + '\'';
}
