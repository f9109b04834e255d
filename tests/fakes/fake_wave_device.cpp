#include "tests/fakes/fake_wave_device.h"

#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>

#include "sound/wave_device.h"
#include "tests/fakes/fake_seams.h"

namespace fake {

std::atomic<bool> deviceOpens{true};
std::atomic<bool> deviceSilent{false};
std::atomic<int> deviceFailsAfter{0};
std::function<void()> onOpen;
std::function<void(int)> onAsk;
std::atomic<int> devicesOpenNow{0};
std::atomic<int> mostDevicesOpen{0};

namespace {

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();
// Enough for any test to look at; a session left streaming gives thousands.
constexpr std::size_t kContentsKept = 64;

std::mutex gLock;
std::condition_variable gChanged; // an ask, a thaw, a new limit, a block given
bool gFrozenOpens = false;
bool gFrozenEnds = false;
std::uint64_t gLimit = kNoLimit;
std::uint64_t gWrittenTotal = 0;
std::vector<SampleBlock> gContents;
int gOpened = 0;
int gAsks = 0;

// Per slot: asks not yet taken, and the stream of its device.
struct FakeSlot {
    int asks = 0;
    SampleBlock* copies = nullptr;
    std::uint64_t written = 0;  // blocks given since open
    std::uint64_t reported = 0; // blocks said to be finished
};
FakeSlot gSlot[kDeviceSlots];

// Blocks the device has finished by now.
std::uint64_t finished(const FakeSlot& s)
{
    if (deviceSilent)
        return 0;
    return s.written < gLimit ? s.written : gLimit;
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
    deviceSilent = false;
    deviceFailsAfter = 0;
    onOpen = nullptr;
    onAsk = nullptr;
    devicesOpenNow = 0;
    mostDevicesOpen = 0;
    gFrozenOpens = false;
    gFrozenEnds = false;
    gLimit = kNoLimit;
    gWrittenTotal = 0;
    gContents.clear();
    gOpened = 0;
    gAsks = 0;
    gChanged.notify_all();
}

void setFrozen(bool opens, bool ends)
{
    std::lock_guard<std::mutex> g(gLock);
    gFrozenOpens = opens;
    gFrozenEnds = ends;
    gChanged.notify_all();
}

void limitPlayed(std::uint64_t blocks)
{
    std::lock_guard<std::mutex> g(gLock);
    gLimit = blocks;
    gChanged.notify_all();
}

bool awaitWritten(std::uint64_t blocks)
{
    std::unique_lock<std::mutex> g(gLock);
    return gChanged.wait_for(g, std::chrono::seconds(5), [blocks] { return gWrittenTotal >= blocks; });
}

std::uint64_t writtenBlocks()
{
    std::lock_guard<std::mutex> g(gLock);
    return gWrittenTotal;
}

std::vector<SampleBlock> writtenContents()
{
    std::lock_guard<std::mutex> g(gLock);
    return gContents;
}

int devicesOpened()
{
    std::lock_guard<std::mutex> g(gLock);
    return gOpened;
}

} // namespace fake

using fake::gChanged;
using fake::gLock;
using fake::gSlot;

bool waveDevicePrepare(int)
{
    return true;
}

void waveDeviceForget(int slot)
{
    std::lock_guard<std::mutex> g(gLock);
    gSlot[slot].asks = 0;
}

void waveDeviceAsk(int slot)
{
    std::function<void(int)> asked;
    int ask;
    {
        std::lock_guard<std::mutex> g(gLock);
        ++gSlot[slot].asks;
        ask = ++fake::gAsks;
        asked = fake::onAsk;
        gChanged.notify_all();
    }
    if (asked)
        asked(ask);
}

void waveDeviceAwaitAsk(int slot)
{
    std::unique_lock<std::mutex> g(gLock);
    gChanged.wait(g, [slot] { return gSlot[slot].asks > 0; });
    gSlot[slot].asks = 0;
}

bool waveDeviceOpen(int slot, SampleBlock* copies)
{
    fake::record("open");
    fake::systemCall(fake::gFrozenOpens);
    if (!fake::deviceOpens)
        return false;
    std::function<void()> opened;
    {
        std::lock_guard<std::mutex> g(gLock);
        gSlot[slot].copies = copies;
        gSlot[slot].written = 0;
        gSlot[slot].reported = 0;
        ++fake::gOpened;
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
    fake::FakeSlot& s = gSlot[slot];
    ++s.written;
    ++fake::gWrittenTotal;
    if (fake::gContents.size() < fake::kContentsKept)
        fake::gContents.push_back(s.copies[copy]);
    gChanged.notify_all();
    return BlockWrite::Taken;
}

bool waveDevicePlayed(int slot, std::uint64_t* played)
{
    std::lock_guard<std::mutex> g(gLock);
    fake::FakeSlot& s = gSlot[slot];
    const int failsAfter = fake::deviceFailsAfter;
    if (failsAfter > 0 && s.written >= static_cast<std::uint64_t>(failsAfter))
        return false;
    s.reported = fake::finished(s);
    *played = s.reported;
    return true;
}

// Wakes when the worker asks or the device has finished another block.
bool waveDeviceWait(int slot, bool)
{
    std::unique_lock<std::mutex> g(gLock);
    fake::FakeSlot& s = gSlot[slot];
    gChanged.wait(g, [&s] { return s.asks > 0 || fake::finished(s) > s.reported; });
    s.asks = 0;
    return true;
}

void waveDeviceReset(int)
{
    fake::record("reset");
    fake::systemCall(fake::gFrozenEnds);
}

void waveDeviceClose(int)
{
    fake::record("close");
    fake::systemCall(fake::gFrozenEnds);
    --fake::devicesOpenNow;
}
