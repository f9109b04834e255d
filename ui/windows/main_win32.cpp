// The entry routine: one instance per user session, the control window and its
// controls, the hidden stimulation window, the message loop until the control window is
// closed, then an exit that no device thread can trip over.
#include <windows.h>

#include "session/session_controller.h"
#include "sound/device_thread_output.h"
#include "ui/windows/single_instance_win32.h"
#include "ui/windows/thread_arithmetic.h"
#include "ui/windows/win32_windows.h"

namespace {

// How long the exit waits under Wine for a device thread still held by the sound
// system. Wine's sound goes to PulseAudio, whose client gives up a request after 30 s;
// a device thread stopped by a frozen server waits out one request for its reset and
// more while its stream is stopped again, released and disconnected on the close
// (117 s in all, measured with the server frozen throughout).
constexpr DWORD kWineDeviceLetGoMs = 150000;

// Wine's ntdll names its version; the system's does not.
bool runningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    rememberMainThreadArithmetic();
    switch (claimSingleInstance()) {
    case InstanceClaim::First:
        break;
    case InstanceClaim::HandedOver:
        return 0; // the running instance is in front; nothing was started here
    case InstanceClaim::NoAnswer:
        return 1; // another instance holds the session but never showed its window
    }
    if (!createControlWindow(instance) || !createStimulationWindow(instance))
        return 1;
    answerLaterStarts();
    const int code = runMessageLoop();
    // A session may still be winding down (or running, if the window was closed from
    // outside): let its workers reset the device and kill the timer before the process
    // takes them away.
    finishWorkers(kWorkerWindDownMs);
    // Nothing of this instance is on the screen any more, so a new start may run at once.
    DestroyWindow(gStimulationWindow);
    releaseSingleInstance();
    // A device thread left to a frozen sound server is still inside the sound system.
    // Windows ends such a thread wherever it waits. Wine cannot: its ending of a thread
    // blocked in a call into the server faults (SIGSEGV, no dialog) and takes the process
    // with it, whichever way the process exits (ExitProcess and TerminateProcess alike,
    // measured). So under Wine the exit waits, windowless and no longer holding the
    // instance, until the server answers or the sound system gives the requests up.
    if (runningUnderWine())
        waitForDeviceThreads(kWineDeviceLetGoMs);
    // Then the process ends without running any teardown: neither the C++ runtime's
    // static destructors nor the libraries' detach routines, which a device thread that
    // is still held could meet. TerminateProcess on the own process ends every thread
    // where it stands, lets go of what the process holds (the mutex, the device) and
    // passes the code on; ExitProcess would first run every library's detach routine,
    // winmm's among them, on a sound system whose calls are not done.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code; // not reached
}
