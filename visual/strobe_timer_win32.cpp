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

// Taken by the strobe worker before the timer starts and given back after it is
// killed; in between only the timer callback draws with them.
HDC gDrawing = nullptr;
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

void strobeSurfaceAcquire()
{
    gDrawing = GetDC(gStimulationWindow);
    GetClientRect(gStimulationWindow, &gArea);
}

void strobeSurfaceRelease()
{
    if (gDrawing != nullptr)
        ReleaseDC(gStimulationWindow, gDrawing);
    gDrawing = nullptr;
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
    HBRUSH brush = CreateSolidBrush(greyColour(level));
    HGDIOBJ previous = SelectObject(gDrawing, brush);
    PatBlt(gDrawing, 0, 0, gArea.right, gArea.bottom, PATCOPY);
    SelectObject(gDrawing, previous);
    DeleteObject(brush);
}
