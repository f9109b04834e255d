#include "tests/fakes/fake_seams.h"

#include <chrono>
#include <condition_variable>
#include <thread>

#include "session/desktop.h"
#include "session/thread_prologue.h"
#include "tests/fakes/fake_wave_device.h"
#include "visual/strobe_timer.h"

namespace fake {
namespace {
std::mutex gMutex;
std::vector<std::string> gLog;
std::condition_variable gChanged; // a thread is held or let go
int gHeldThreads = 0;
unsigned gReleases = 0; // a held thread goes once this moves on
std::vector<int> gLevels;
} // namespace

namespace {
bool gHoldThreads = false;
}
bool timerRunning = false;
double refreshRate = 0.0;

std::vector<std::string> log()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gLog;
}

void record(const std::string& entry)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gLog.push_back(entry);
}

void reset()
{
    resetWaveDevice();
    std::lock_guard<std::mutex> lock(gMutex);
    gLog.clear();
    ++gReleases; // no thread stays held across tests
    gChanged.notify_all();
    gLevels.clear();
    gHoldThreads = false;
    timerRunning = false;
    refreshRate = 0.0;
}

int heldThreads()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gHeldThreads;
}

void holdNewThreads()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gHoldThreads = true;
}

void releaseThreads()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gHoldThreads = false;
    ++gReleases;
    gChanged.notify_all();
}

std::vector<int> filledLevels()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gLevels;
}

} // namespace fake

// Threads -------------------------------------------------------------------------

void threadPrologue()
{
    std::unique_lock<std::mutex> lock(fake::gMutex);
    if (!fake::gHoldThreads)
        return;
    const unsigned releases = fake::gReleases;
    ++fake::gHeldThreads;
    fake::gChanged.wait(lock, [releases] { return fake::gReleases != releases; });
    --fake::gHeldThreads;
}

// Desktop -------------------------------------------------------------------------

void desktopShowCursor(bool visible) { fake::record(visible ? "showCursor" : "hideCursor"); }
void desktopShowStimulationWindow() { fake::record("showStimulationWindow"); }
void desktopHideStimulationWindow() { fake::record("hideStimulationWindow"); }
void desktopEnableControlWindow(bool enabled) { fake::record(enabled ? "enableControl" : "disableControl"); }
void desktopFocusControlWindow() { fake::record("focusControl"); }
double desktopRefreshRate() { return fake::refreshRate; }
void desktopTellUser(const char* text) { fake::record(std::string("tell: ") + text); }

// Strobe --------------------------------------------------------------------------

void strobeTimerStart()
{
    fake::record("timerStart");
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::timerRunning = true;
}

void strobeTimerStop()
{
    fake::record("timerStop");
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::timerRunning = false;
}

void strobeShow(std::uint8_t level)
{
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::gLevels.push_back(level);
}
