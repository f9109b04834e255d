// The stimulation window: borderless, black, as large as the primary screen; hidden
// except while a session runs. Any key ends the session.
#include <windows.h>

#include "session/session_controller.h"
#include "ui/control_table.h"
#include "ui/windows/wide_text.h"
#include "ui/windows/win32_windows.h"

HWND gStimulationWindow = nullptr;

namespace {

LRESULT CALLBACK stimulationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
        stopSession();
        break;
    case WM_CLOSE:
        // Alt+F4 and the like would otherwise destroy the window the strobe paints on
        // and leave the session running behind a vanished window: end the session
        // instead, and keep the window for the next one.
        stopSession();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

bool createStimulationWindow(HINSTANCE instance)
{
    WNDCLASSW windowClass{};
    windowClass.style = CS_BYTEALIGNCLIENT;
    windowClass.lpfnWndProc = stimulationWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const WideText className = widen(kStimulationWindowClass);
    windowClass.lpszClassName = className.text;
    RegisterClassW(&windowClass);

    gStimulationWindow = CreateWindowExW(0, className.text, nullptr, WS_POPUP, 0, 0,
                                         GetSystemMetrics(SM_CXSCREEN),
                                         GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                         instance, nullptr);
    return gStimulationWindow != nullptr;
}
