#include "tests/fakes/fake_seams.h"

#include <thread>

#include "session/desktop.h"
#include "sound/wave_output.h"
#include "visual/strobe_timer.h"

namespace fake {
namespace {
std::mutex gMutex;
std::vector<std::string> gLog;
std::vector<HeldThread> gHeld;
std::vector<SampleBlock> gQueued;
std::vector<int> gLevels;
SampleBlock* gBlocks = nullptr;
int gWaits = 0;
} // namespace

Controls controls;
bool holdThreads = false;
bool deviceOpens = true;
std::function<bool(int)> onWait;
int devicesOpenNow = 0;
int mostDevicesOpen = 0;
bool timerRunning = false;

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
    gHeld.clear();
    gQueued.clear();
    gLevels.clear();
    gWaits = 0;
    controls = Controls{};
    holdThreads = false;
    deviceOpens = true;
    onWait = nullptr;
    devicesOpenNow = 0;
    mostDevicesOpen = 0;
    timerRunning = false;
}

std::vector<HeldThread> takeHeldThreads()
{
    std::lock_guard<std::mutex> lock(gMutex);
    std::vector<HeldThread> held;
    held.swap(gHeld);
    return held;
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

// Desktop -------------------------------------------------------------------------

std::uint32_t desktopFrequency() { return fake::controls.frequency; }
long desktopSoundSelection() { return fake::controls.sound; }
long desktopVisualSelection() { return fake::controls.visual; }

bool desktopStartThread(void (*entry)(const SessionFlagType*), const SessionFlagType* flag)
{
    fake::record("startThread");
    if (fake::holdThreads) {
        std::lock_guard<std::mutex> lock(fake::gMutex);
        fake::gHeld.push_back({entry, flag});
        return true;
    }
    std::thread(entry, flag).detach();
    return true;
}

void desktopShowCursor(bool visible) { fake::record(visible ? "showCursor" : "hideCursor"); }
void desktopShowStimulationWindow() { fake::record("showStimulationWindow"); }
void desktopHideStimulationWindow() { fake::record("hideStimulationWindow"); }
void desktopEnableControlWindow(bool enabled) { fake::record(enabled ? "enableControl" : "disableControl"); }
void desktopFocusControlWindow() { fake::record("focusControl"); }

// Wave output ---------------------------------------------------------------------

bool waveOutputOpen(SampleBlock* blocks)
{
    fake::record("open");
    if (!fake::deviceOpens)
        return false;
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::gBlocks = blocks;
    fake::gWaits = 0;
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

bool waveOutputWait(std::uint32_t)
{
    fake::record("wait");
    int wait;
    std::function<bool(int)> answer;
    {
        std::lock_guard<std::mutex> lock(fake::gMutex);
        wait = ++fake::gWaits;
        answer = fake::onWait;
    }
    return answer ? answer(wait) : true;
}

void waveOutputReset() { fake::record("reset"); }

void waveOutputClose()
{
    fake::record("close");
    std::lock_guard<std::mutex> lock(fake::gMutex);
    --fake::devicesOpenNow;
}

// Strobe --------------------------------------------------------------------------

void strobeSurfaceAcquire() { fake::record("acquireSurface"); }
void strobeSurfaceRelease() { fake::record("releaseSurface"); }

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

void strobeFill(std::uint8_t level)
{
    std::lock_guard<std::mutex> lock(fake::gMutex);
    fake::gLevels.push_back(level);
}
