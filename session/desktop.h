#pragma once
// Desktop seam: what the session controller asks of the window system. Implemented
// once per face (user32 on Windows, Qt on Linux) and by a recording fake in the tests.
// All of it is called on the UI thread.
#include <cstdint>

#include "session/session_flag.h"

// The control window's current choices: the arrows' position (hundredths of a hertz)
// and the selected item of the sound and the visual list.
std::uint32_t desktopFrequency();
long desktopSoundSelection();
long desktopVisualSelection();

// Starts `entry(flag)` on a new detached thread with the default stack size. Returns
// false when no thread could be started.
bool desktopStartThread(void (*entry)(const SessionFlagType*), const SessionFlagType* flag);

void desktopShowCursor(bool visible);

// Shows the stimulation window over the whole primary screen and gives it the keyboard
// focus.
void desktopShowStimulationWindow();
void desktopHideStimulationWindow();

void desktopEnableControlWindow(bool enabled);
void desktopFocusControlWindow();
