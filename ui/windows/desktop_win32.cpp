// The desktop seam over user32: the cursor, the stimulation window and the control
// window. Everything here runs on the UI thread.
#include "session/desktop.h"

#include <windows.h>

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
