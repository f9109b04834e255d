// The entry routine: the control window and its controls, the hidden stimulation
// window, then the message loop until the control window is closed.
#include <windows.h>

#include "session/session_controller.h"
#include "ui/windows/thread_arithmetic.h"
#include "ui/windows/win32_windows.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    rememberMainThreadArithmetic();
    if (!createControlWindow(instance) || !createStimulationWindow(instance))
        return 1;
    const int code = runMessageLoop();
    // A session may still be winding down (or running, if the window was closed from
    // outside): let its workers reset the device and kill the timer before the process
    // takes them away.
    finishWorkers(kWorkerWindDownMs);
    return code;
}
