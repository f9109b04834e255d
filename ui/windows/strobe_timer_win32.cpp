// The strobe seam over winmm and GDI: a periodic 2 ms multimedia timer whose callback,
// on the system's timer thread, fills the stimulation window in one grey.
//
// Each fill takes the window's drawing context afresh (a cached one: cheap) and gives it
// back. A context taken once for the session, while the UI thread may still be showing
// the window, can stay clipped to the hidden window: under Wine such a context went on
// drawing nowhere, and every session after the first stayed black.
#include "visual/strobe_timer.h"

#include <windows.h>
#include <mmsystem.h>

#include "ui/windows/thread_arithmetic.h"
#include "ui/windows/win32_windows.h"
#include "visual/strobe_level.h"
#include "visual/strobe_worker.h"

namespace {

// The area to fill, taken when the timer starts; while it runs only the timer callback
// reads it.
RECT gArea{};
MMRESULT gTimer = 0;

void CALLBACK timerCallback(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR)
{
    // The system's timer thread is not ours: its arithmetic is set on every tick (one
    // control-word load), so the levels are those of the main thread.
    adoptMainThreadArithmetic();
    strobeTick();
}

} // namespace

void strobeTimerStart()
{
    GetClientRect(gStimulationWindow, &gArea);
    gTimer = timeSetEvent(kStrobeTickMs, 0, timerCallback, 0, TIME_PERIODIC);
}

void strobeTimerStop()
{
    if (gTimer != 0)
        timeKillEvent(gTimer);
    gTimer = 0;
}

void strobeShow(std::uint8_t level)
{
    HDC drawing = GetDC(gStimulationWindow);
    HBRUSH brush = CreateSolidBrush(greyColour(level));
    HGDIOBJ previous = SelectObject(drawing, brush);
    PatBlt(drawing, 0, 0, gArea.right, gArea.bottom, PATCOPY);
    SelectObject(drawing, previous);
    DeleteObject(brush);
    ReleaseDC(gStimulationWindow, drawing);
}
