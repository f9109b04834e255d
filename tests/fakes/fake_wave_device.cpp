// The wave device verbs over a sound system the tests steer (tests/fakes/fake_seams.h):
// it can find no device, freeze, fail, or finish blocks only as fast as a test lets it.
#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>

#include "sound/wave_device.h"
#include "tests/fakes/fake_seams.h"

namespace fake {

std::atomic<bool> deviceOpens{true};
std::atomic<int> deviceFailsAfter{0};
std::function<void()> onOpen;
std::function<void(int)> onAsk;
std::atomic<int> devicesOpenNow{0};
std::atomic<int> mostDevicesOpen{0};

namespace {

// Enough for any test to look at; a session left streaming gives thousands.
constexpr std::size_t kContentsKept = 64;

struct Slot {
    int asks = 0; // not yet taken
    SampleBlock* copies = nullptr;
    std::uint64_t written = 0;  // blocks given since open
    std::uint64_t reported = 0; // blocks said to be finished
};

struct System {
    bool frozenOpens = false, frozenEnds = false;
    std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t written = 0;
    std::vector<SampleBlock> contents;
    int asks = 0;
    Slot slots[kDeviceSlots];
};

std::mutex gLock;
std::condition_variable gChanged; // an ask, a thaw, a new limit, a block given
System gSystem;

std::uint64_t finished(const Slot& s)
{
    return std::min(s.written, gSystem.limit);
}

// A call into the sound system: waits while that kind of call is frozen.
void systemCall(const bool& frozen)
{
    std::unique_lock<std::mutex> g(gLock);
    gChanged.wait(g, [&frozen] { return !frozen; });
}

} // namespace

void resetWaveDevice()
{
    std::lock_guard<std::mutex> g(gLock);
    deviceOpens = true;
    deviceFailsAfter = 0;
    onOpen = nullptr;
    onAsk = nullptr;
    devicesOpenNow = 0;
    mostDevicesOpen = 0;
    gSystem = System{};
    gChanged.notify_all();
}

void setFrozen(bool opens, bool ends)
{
    std::lock_guard<std::mutex> g(gLock);
    gSystem.frozenOpens = opens;
    gSystem.frozenEnds = ends;
    gChanged.notify_all();
}

void limitPlayed(std::uint64_t blocks)
{
    std::lock_guard<std::mutex> g(gLock);
    gSystem.limit = blocks;
    gChanged.notify_all();
}

std::uint64_t writtenBlocks()
{
    std::lock_guard<std::mutex> g(gLock);
    return gSystem.written;
}

std::vector<SampleBlock> writtenContents()
{
    std::lock_guard<std::mutex> g(gLock);
    return gSystem.contents;
}

} // namespace fake

using fake::gChanged;
using fake::gLock;
using fake::gSystem;

bool waveDevicePrepare(int)
{
    return true;
}

void waveDeviceForget(int slot)
{
    std::lock_guard<std::mutex> g(gLock);
    gSystem.slots[slot].asks = 0;
}

void waveDeviceAsk(int slot)
{
    std::function<void(int)> asked;
    int ask;
    {
        std::lock_guard<std::mutex> g(gLock);
        ++gSystem.slots[slot].asks;
        ask = ++gSystem.asks;
        asked = fake::onAsk;
        gChanged.notify_all();
    }
    if (asked)
        asked(ask);
}

void waveDeviceAwaitAsk(int slot)
{
    std::unique_lock<std::mutex> g(gLock);
    gChanged.wait(g, [slot] { return gSystem.slots[slot].asks > 0; });
    gSystem.slots[slot].asks = 0;
}

bool waveDeviceOpen(int slot, SampleBlock* copies)
{
    fake::record("open");
    fake::systemCall(gSystem.frozenOpens);
    if (!fake::deviceOpens)
        return false;
    std::function<void()> opened;
    {
        std::lock_guard<std::mutex> g(gLock);
        gSystem.slots[slot] = {0, copies, 0, 0};
        if (++fake::devicesOpenNow > fake::mostDevicesOpen)
            fake::mostDevicesOpen = fake::devicesOpenNow.load();
        opened = fake::onOpen;
    }
    if (opened)
        opened();
    return true;
}

BlockWrite waveDeviceWrite(int slot, int copy)
{
    fake::record("write" + std::to_string(copy));
    std::lock_guard<std::mutex> g(gLock);
    fake::Slot& s = gSystem.slots[slot];
    ++s.written;
    if (++gSystem.written <= fake::kContentsKept)
        gSystem.contents.push_back(s.copies[copy]);
    gChanged.notify_all();
    return BlockWrite::Taken;
}

bool waveDevicePlayed(int slot, std::uint64_t* played)
{
    std::lock_guard<std::mutex> g(gLock);
    fake::Slot& s = gSystem.slots[slot];
    const int failsAfter = fake::deviceFailsAfter;
    if (failsAfter > 0 && s.written >= static_cast<std::uint64_t>(failsAfter))
        return false;
    *played = s.reported = fake::finished(s);
    return true;
}

// Wakes when the worker asks or the device has finished another block.
bool waveDeviceWait(int slot, bool)
{
    std::unique_lock<std::mutex> g(gLock);
    fake::Slot& s = gSystem.slots[slot];
    gChanged.wait(g, [&s] { return s.asks > 0 || fake::finished(s) > s.reported; });
    s.asks = 0;
    return true;
}

void waveDeviceReset(int)
{
    fake::record("reset");
    fake::systemCall(gSystem.frozenEnds);
}

void waveDeviceClose(int)
{
    fake::record("close");
    fake::systemCall(gSystem.frozenEnds);
    --fake::devicesOpenNow;
}
