#include "tests/fakes/fake_seams.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "session/desktop.h"
#include "session/thread_prologue.h"
#include "visual/strobe_timer.h"

namespace fake {
namespace {
std::mutex gMutex;
std::condition_variable gReleased;
std::vector<std::string> gLog;
std::vector<int> gLevels;
bool gHold = false;
int gHeld = 0;
} // namespace

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
    releaseThreads(); // no thread stays held across tests
    std::lock_guard<std::mutex> lock(gMutex);
    gLog.clear();
    gLevels.clear();
    refreshRate = 0.0;
}

bool eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 5000; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

void holdNewThreads()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gHold = true;
}

int heldThreads()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gHeld;
}

void releaseThreads()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gHold = false;
    gReleased.notify_all();
}

std::vector<int> filledLevels()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gLevels;
}

} // namespace fake

void threadPrologue()
{
    std::unique_lock<std::mutex> lock(fake::gMutex);
    if (!fake::gHold)
        return;
    ++fake::gHeld;
    fake::gReleased.wait(lock, [] { return !fake::gHold; });
    --fake::gHeld;
}

void desktopShowCursor(bool visible) { fake::record(visible ? "showCursor" : "hideCursor"); }
void desktopShowStimulationWindow() { fake::record("showStimulationWindow"); }
void desktopHideStimulationWindow() { fake::record("hideStimulationWindow"); }
void desktopEnableControlWindow(bool enabled) { fake::record(enabled ? "enableControl" : "disableControl"); }
void desktopFocusControlWindow() { fake::record("focusControl"); }
double desktopRefreshRate() { return fake::refreshRate; }
void desktopTellUser(const char* text) { fake::record(std::string("tell: ") + text); }

void strobeTimerStart() { fake::record("timerStart"); }
void strobeTimerStop() { fake::record("timerStop"); }

void strobeShow(std::uint8_t level)
{
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::gLevels.push_back(level);
}
