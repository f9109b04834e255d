// The desktop seam over user32: worker threads, the cursor, the stimulation window and
// the control window.
#include "session/desktop.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "ui/windows/thread_arithmetic.h"
#include "ui/windows/win32_windows.h"

namespace {

// A thread start carries one pointer, the workers take a flag: each start borrows a slot
// holding both, which the new thread gives back as soon as it has read it. Only two
// workers live at a time, so a handful of slots never runs out.
struct ThreadStart {
    std::atomic<bool> taken{false};
    void (*entry)(const SessionFlagType*) = nullptr;
    const SessionFlagType* flag = nullptr;
};
ThreadStart gThreadStarts[8];

DWORD WINAPI threadEntry(LPVOID parameter)
{
    auto* start = static_cast<ThreadStart*>(parameter);
    void (*entry)(const SessionFlagType*) = start->entry;
    const SessionFlagType* flag = start->flag;
    start->taken.store(false, std::memory_order_release);
    adoptMainThreadArithmetic(); // the samples must not depend on the thread
    entry(flag);
    return 0;
}

long selection(HWND list)
{
    return static_cast<long>(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

} // namespace

std::uint32_t desktopFrequency()
{
    return static_cast<std::uint32_t>(SendMessageW(gFrequencyArrows, UDM_GETPOS, 0, 0) & 0xFFFF);
}

long desktopSoundSelection() { return selection(gSoundList); }
long desktopVisualSelection() { return selection(gVisualList); }

bool desktopStartThread(void (*entry)(const SessionFlagType*), const SessionFlagType* flag)
{
    for (ThreadStart& start : gThreadStarts) {
        bool expected = false;
        if (!start.taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
            continue;
        start.entry = entry;
        start.flag = flag;
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, threadEntry, &start, 0, &id);
        if (thread == nullptr) {
            start.taken.store(false, std::memory_order_release);
            return false;
        }
        CloseHandle(thread); // detached: nobody waits on the handle
        return true;
    }
    return false;
}

void desktopShowCursor(bool visible)
{
    ShowCursor(visible ? TRUE : FALSE);
}

void desktopShowStimulationWindow()
{
    ShowWindow(gStimulationWindow, SW_SHOWNORMAL);
    SetFocus(gStimulationWindow);
}

void desktopHideStimulationWindow()
{
    ShowWindow(gStimulationWindow, SW_HIDE);
}

void desktopEnableControlWindow(bool enabled)
{
    EnableWindow(gControlWindow, enabled ? TRUE : FALSE);
}

void desktopFocusControlWindow()
{
    SetFocus(gControlWindow);
}
