#pragma once
// Desktop seam: what the session controller asks of the window system. Implemented
// once per face (ui/windows/desktop_win32.cpp, ui/linux/desktop_linux.cpp) and by a
// recording fake in the tests. All of it is called on the UI thread.

void desktopShowCursor(bool visible);

// Shows the stimulation window over the whole primary screen and gives it the keyboard
// focus.
void desktopShowStimulationWindow();
void desktopHideStimulationWindow();

void desktopEnableControlWindow(bool enabled);
void desktopFocusControlWindow();

// The refresh rate, in hertz, of the screen the stimulation window covers; 0 where the
// system does not tell.
double desktopRefreshRate();

// Tells the user `text` (UTF-8) in a message box over the control window and returns
// once the user has closed it.
void desktopTellUser(const char* text);
