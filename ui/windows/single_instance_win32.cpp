// The Windows face's single instance. The mutex lives in the session's own namespace
// ("Local\"), so it is per user and per desktop session; the system lets it go with the
// process however that ends, so a killed instance never blocks a new start.
#include "ui/windows/single_instance_win32.h"

#include <windows.h>

#include "ui/control_table.h"
#include "ui/windows/wide_text.h"
#include "ui/windows/win32_windows.h"

namespace {

constexpr const wchar_t* kMutexName = L"Local\\Zarvelin.SingleInstance";
constexpr const wchar_t* kBringForwardMessage = L"Zarvelin.BringForward";
constexpr UINT kAnswerWaitMs = 5000;

HANDLE gMutex = nullptr;
bool gOwned = false;
UINT gBringForward = 0;
WNDPROC gControlWindowProc = nullptr;

// The front of this instance: the stimulation window while it covers the screen (it
// holds the focus, and a key there ends the session), else the control window, restored
// if minimised. The control window is never raised over a running session.
void bringForward()
{
    if (IsWindowVisible(gStimulationWindow)) {
        SetForegroundWindow(gStimulationWindow);
        return;
    }
    if (IsIconic(gControlWindow))
        ShowWindow(gControlWindow, SW_RESTORE);
    SetForegroundWindow(gControlWindow);
}

LRESULT CALLBACK answeringProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == gBringForward && gBringForward != 0) {
        bringForward();
        return 1;
    }
    return CallWindowProcW(gControlWindowProc, window, message, wParam, lParam);
}

bool becomeFirst()
{
    if (gOwned)
        return true;
    // The first instance let go (it ended, or was killed: an abandoned mutex).
    const DWORD got = WaitForSingleObject(gMutex, 0);
    gOwned = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
    return gOwned;
}

// Asks the running instance's control window to bring its instance forward. The window
// is found by its class and title; the request waits, bounded, for its answer, so the
// first instance is forward before this one ends. This start may take the foreground
// (the user just started it) and hands that right to the first instance.
bool handOver()
{
    const HWND first = FindWindowW(widen(kControlWindowClass).text, widen(kControlWindowTitle).text);
    if (first == nullptr)
        return false; // starting, or ending: the next try sees which
    DWORD firstProcess = 0;
    GetWindowThreadProcessId(first, &firstProcess);
    AllowSetForegroundWindow(firstProcess);
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(first, gBringForward, 0, 0, SMTO_ABORTIFHUNG, kAnswerWaitMs,
                               &answer) != 0 &&
           answer == 1;
}

} // namespace

InstanceClaim claimSingleInstance()
{
    gBringForward = RegisterWindowMessageW(kBringForwardMessage);
    gMutex = CreateMutexW(nullptr, TRUE, kMutexName);
    if (gMutex == nullptr)
        return InstanceClaim::First; // no mutex to be had: run rather than refuse
    gOwned = GetLastError() != ERROR_ALREADY_EXISTS;
    return claimInstance(becomeFirst, handOver);
}

void answerLaterStarts()
{
    if (gBringForward == 0)
        return;
    gControlWindowProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        gControlWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(answeringProc)));
}

void releaseSingleInstance()
{
    if (gMutex == nullptr)
        return;
    if (gOwned)
        ReleaseMutex(gMutex);
    CloseHandle(gMutex);
    gMutex = nullptr;
    gOwned = false;
}
