// The desktop seam over user32: the cursor, the stimulation window and the control
// window. Everything here runs on the UI thread.
#include "session/desktop.h"

#include <windows.h>

#include "ui/control_table.h"
#include "ui/windows/wide_text.h"
#include "ui/windows/win32_windows.h"

void desktopShowCursor(bool visible)
{
    ShowCursor(visible ? TRUE : FALSE);
}

void desktopShowStimulationWindow()
{
    ShowWindow(gStimulationWindow, SW_SHOWNORMAL);
    SetFocus(gStimulationWindow);
}

void desktopHideStimulationWindow()
{
    ShowWindow(gStimulationWindow, SW_HIDE);
}

void desktopEnableControlWindow(bool enabled)
{
    EnableWindow(gControlWindow, enabled ? TRUE : FALSE);
}

void desktopFocusControlWindow()
{
    SetFocus(gControlWindow);
}

double desktopRefreshRate()
{
    // The current display settings' frequency: 0 or 1 where the hardware's default is
    // in force and the system does not know the figure.
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode))
        return 0.0;
    return static_cast<double>(mode.dmDisplayFrequency);
}

void desktopTellUser(const char* text)
{
    MessageBoxW(gControlWindow, widen(text).text, widen(kControlWindowTitle).text, MB_OK | MB_ICONWARNING);
}
