#include "render/stop_signals.h"

#include <windows.h>

namespace {

std::atomic<bool>* gStop = nullptr;
std::atomic<bool> gAnswered{false};

// Ctrl+C and Ctrl+Break ask the render to stop and the program goes on to clean up.
// Closing the console window, logging off or shutting down end the process as soon as
// this handler returns (or after a few seconds), so the handler waits for the render
// to have removed its temporary file first. The file is marked delete-on-close as
// well, so even a process ended mid-write leaves nothing.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (gStop != nullptr)
        gStop->store(true);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (int waited = 0; waited < 4000 && !gAnswered.load(); waited += 10)
            Sleep(10);
    }
    return TRUE;
}

} // namespace

void watchStopRequests(std::atomic<bool>& stop)
{
    gStop = &stop;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void stopRequestsAnswered() { gAnswered.store(true); }
