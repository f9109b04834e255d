#include "tests/fakes/fake_seams.h"

#include <chrono>
#include <condition_variable>
#include <thread>

#include "session/desktop.h"
#include "session/thread_prologue.h"
#include "sound/wave_output.h"
#include "visual/strobe_timer.h"

namespace fake {
namespace {
std::mutex gMutex;
std::vector<std::string> gLog;
std::condition_variable gChanged; // a thread is held or let go, a wake, a release
int gHeldThreads = 0;
unsigned gReleases = 0; // a held thread goes once this moves on
bool gWoken = false;
std::vector<SampleBlock> gQueued;
std::vector<int> gLevels;
SampleBlock* gBlocks = nullptr;
int gWaits = 0;
} // namespace

namespace {
bool gHoldThreads = false;
}
bool deviceOpens = true;
bool deviceSilent = false;
std::function<bool(int)> onWait;
int devicesOpenNow = 0;
int mostDevicesOpen = 0;
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
    std::lock_guard<std::mutex> lock(gMutex);
    gLog.clear();
    ++gReleases; // no thread stays held across tests
    gChanged.notify_all();
    gWoken = false;
    gQueued.clear();
    gLevels.clear();
    gWaits = 0;
    gHoldThreads = false;
    deviceOpens = true;
    deviceSilent = false;
    onWait = nullptr;
    devicesOpenNow = 0;
    mostDevicesOpen = 0;
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

std::vector<SampleBlock> queuedBlocks()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gQueued;
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

// Wave output ---------------------------------------------------------------------

bool waveOutputOpen(SampleBlock* blocks)
{
    fake::record("open");
    if (!fake::deviceOpens)
        return false;
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::gBlocks = blocks;
    fake::gWaits = 0;
    fake::gWoken = false;
    if (++fake::devicesOpenNow > fake::mostDevicesOpen)
        fake::mostDevicesOpen = fake::devicesOpenNow;
    return true;
}

void waveOutputQueue(int index)
{
    fake::record("queue" + std::to_string(index));
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::gQueued.push_back(fake::gBlocks[index]);
}

WaveWait waveOutputWait(std::uint32_t timeoutMs)
{
    fake::record("wait");
    int wait;
    std::function<bool(int)> answer;
    {
        std::unique_lock<std::mutex> lock(fake::gMutex);
        wait = ++fake::gWaits;
        answer = fake::onWait;
        if (fake::gWoken) {
            fake::gWoken = false;
            return WaveWait::Woken;
        }
        if (fake::deviceSilent && wait > 1) {
            if (!fake::gChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [] { return fake::gWoken; }))
                return WaveWait::Failed;
            fake::gWoken = false;
            return WaveWait::Woken;
        }
    }
    if (answer && !answer(wait))
        return WaveWait::Failed;
    return WaveWait::Notified;
}

void waveOutputWake()
{
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::gWoken = true;
    fake::gChanged.notify_all();
}

void waveOutputReset() { fake::record("reset"); }

void waveOutputClose()
{
    fake::record("close");
    std::lock_guard<std::mutex> lock(fake::gMutex);
    --fake::devicesOpenNow;
}

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
