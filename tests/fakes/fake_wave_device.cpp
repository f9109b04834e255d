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
constexpr std::uint64_t kContentsKept = 64;

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

// Runs `f` under the lock and wakes whoever waits for a change.
template <typename F>
auto locked(F f)
{
    std::lock_guard<std::mutex> g(gLock);
    gChanged.notify_all();
    return f();
}

// Waits under the lock until `until` holds, then runs `then` there.
template <typename Until, typename Then>
void await(Until until, Then then)
{
    std::unique_lock<std::mutex> g(gLock);
    gChanged.wait(g, until);
    then();
}

std::uint64_t finished(const Slot& s)
{
    return std::min(s.written, gSystem.limit);
}

} // namespace

void resetWaveDevice()
{
    locked([] {
        deviceOpens = true;
        deviceFailsAfter = 0;
        onOpen = nullptr;
        onAsk = nullptr;
        devicesOpenNow = 0;
        mostDevicesOpen = 0;
        gSystem = System{};
    });
}

void setFrozen(bool opens, bool ends)
{
    locked([=] { gSystem.frozenOpens = opens, gSystem.frozenEnds = ends; });
}

void limitPlayed(std::uint64_t blocks) { locked([=] { gSystem.limit = blocks; }); }
std::uint64_t writtenBlocks() { return locked([] { return gSystem.written; }); }
std::vector<SampleBlock> writtenContents() { return locked([] { return gSystem.contents; }); }

} // namespace fake

using namespace fake;

bool waveDevicePrepare(int) { return true; }
void waveDeviceForget(int slot) { locked([=] { gSystem.slots[slot].asks = 0; }); }

void waveDeviceAsk(int slot)
{
    int ask = 0;
    locked([&] {
        ++gSystem.slots[slot].asks;
        ask = ++gSystem.asks;
    });
    if (onAsk) // set before the threads that call it start, as onOpen is
        onAsk(ask);
}

void waveDeviceAwaitAsk(int slot)
{
    await([=] { return gSystem.slots[slot].asks > 0; }, [=] { gSystem.slots[slot].asks = 0; });
}

bool waveDeviceOpen(int slot, SampleBlock* copies)
{
    record("open");
    await([] { return !gSystem.frozenOpens; }, [] {});
    if (!deviceOpens)
        return false;
    locked([=] {
        gSystem.slots[slot] = {0, copies, 0, 0};
        mostDevicesOpen = std::max(mostDevicesOpen.load(), ++devicesOpenNow);
    });
    if (onOpen)
        onOpen();
    return true;
}

BlockWrite waveDeviceWrite(int slot, int copy)
{
    record("write" + std::to_string(copy));
    locked([=] {
        Slot& s = gSystem.slots[slot];
        ++s.written;
        if (++gSystem.written <= kContentsKept)
            gSystem.contents.push_back(s.copies[copy]);
    });
    return BlockWrite::Taken;
}

bool waveDevicePlayed(int slot, std::uint64_t* played)
{
    return locked([=] {
        Slot& s = gSystem.slots[slot];
        const auto failsAfter = static_cast<std::uint64_t>(deviceFailsAfter.load());
        *played = s.reported = finished(s);
        return failsAfter == 0 || s.written < failsAfter;
    });
}

// Wakes when the worker asks or the device has finished another block.
bool waveDeviceWait(int slot, bool)
{
    Slot& s = gSystem.slots[slot];
    await([&s] { return s.asks > 0 || finished(s) > s.reported; }, [&s] { s.asks = 0; });
    return true;
}

void waveDeviceReset(int)
{
    record("reset");
    await([] { return !gSystem.frozenEnds; }, [] {});
}

void waveDeviceClose(int)
{
    record("close");
    await([] { return !gSystem.frozenEnds; }, [] {});
    --devicesOpenNow;
}
