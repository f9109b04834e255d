#include "ui/windows/wide_text.h"

#include <windows.h>

WideText widen(const char* utf8)
{
    WideText out{};
    const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out.text,
                                            static_cast<int>(kWideTextCapacity));
    if (written <= 0)
        out.text[0] = L'\0';
    return out;
}
