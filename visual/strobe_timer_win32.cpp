// The strobe seam over winmm and GDI: a periodic 2 ms multimedia timer whose callback,
// on the system's timer thread, fills the stimulation window in one grey.
#include "visual/strobe_timer.h"

#include <windows.h>
#include <mmsystem.h>

#include "ui/windows/thread_arithmetic.h"
#include "ui/windows/win32_windows.h"
#include "visual/strobe_level.h"
#include "visual/strobe_worker.h"

namespace {

// The area to fill, taken by the strobe worker before the timer starts; in between
// only the timer callback reads it.
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

// The worker takes its surface while the UI thread may still be showing the window. A
// drawing context taken then and kept for the session can stay clipped to the hidden
// window: under Wine, a cached context reused for a window that was shown after it was
// taken went on drawing nowhere, and a session after the first stayed black. So each
// tick takes the window's context afresh (a cached one: cheap) and gives it back.
void strobeSurfaceAcquire()
{
    GetClientRect(gStimulationWindow, &gArea);
}

void strobeSurfaceRelease()
{
}

void strobeTimerStart()
{
    gTimer = timeSetEvent(kStrobeTickMs, 0, timerCallback, 0, TIME_PERIODIC);
}

void strobeTimerStop()
{
    if (gTimer != 0)
        timeKillEvent(gTimer);
    gTimer = 0;
}

void strobeFill(std::uint8_t level)
{
    HDC drawing = GetDC(gStimulationWindow);
    HBRUSH brush = CreateSolidBrush(greyColour(level));
    HGDIOBJ previous = SelectObject(drawing, brush);
    PatBlt(drawing, 0, 0, gArea.right, gArea.bottom, PATCOPY);
    SelectObject(drawing, previous);
    DeleteObject(brush);
    ReleaseDC(gStimulationWindow, drawing);
}
