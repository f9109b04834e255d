#pragma once
// The Windows face's windows, created once by the entry routine on the UI thread and
// valid for the life of the process. The desktop and strobe seams act on them.
#include <windows.h>

extern HWND gControlWindow;
extern HWND gStimulationWindow;
extern HWND gFrequencyDisplay;
extern HWND gFrequencySlider;
extern HWND gFrequencyArrows;
extern HWND gSoundList;
extern HWND gVisualList;

// Registers "ZarvelinWindow" and creates the control window with its twelve controls,
// built from ui/control_table.h. False if the window could not be created.
bool createControlWindow(HINSTANCE instance);

// Registers "PaintWindow" and creates the hidden full-screen stimulation window.
bool createStimulationWindow(HINSTANCE instance);

// Runs the UI thread's message loop until the quit message; returns its code.
int runMessageLoop();
