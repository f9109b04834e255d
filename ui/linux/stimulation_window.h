#pragma once
// The Linux face's stimulation window: borderless and black over the whole primary
// screen while a session runs, painted in the strobe's grey once per display frame.
#include <cstdint>

class QWidget;

// Creates the window hidden. Call once, after the control window.
void createStimulationWindow();
void destroyStimulationWindow();
QWidget* stimulationWindow();

// Covers the primary screen, takes the keyboard focus and starts following the strobe.
void showStimulationWindow();
void hideStimulationWindow();

// The refresh rate the primary screen reports, the screen this window covers; 0 where
// there is none.
double screenRefreshRate();

// The interval between two looks at the strobe's level: one display frame, from the
// primary screen's refresh rate.
int frameIntervalMs();
