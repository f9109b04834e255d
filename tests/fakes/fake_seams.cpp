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

template <typename F>
auto locked(F f)
{
    std::lock_guard<std::mutex> lock(gMutex);
    return f();
}
} // namespace

double refreshRate = 0.0;

std::vector<std::string> log() { return locked([] { return gLog; }); }
void record(const std::string& entry) { locked([&] { gLog.push_back(entry); }); }
std::vector<int> filledLevels() { return locked([] { return gLevels; }); }
void holdNewThreads() { locked([] { gHold = true; }); }
int heldThreads() { return locked([] { return gHeld; }); }

void releaseThreads()
{
    locked([] {
        gHold = false;
        gReleased.notify_all();
    });
}

void reset()
{
    resetWaveDevice();
    releaseThreads(); // no thread stays held across tests
    locked([] {
        gLog.clear();
        gLevels.clear();
        refreshRate = 0.0;
    });
}

bool eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 5000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
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

void strobeShow(std::uint8_t level) { fake::locked([=] { fake::gLevels.push_back(level); }); }
