// The worker's side of a device run on its own thread, over a fake device thread whose
// sound system can be frozen: every call it makes (open, stop, close) then waits for the
// thaw, as PulseAudio's plugin and Wine's winmm do with a frozen server. The bounds are
// seconds; the checks allow a second where the worker must not wait for the system.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "sound/device_thread_output.h"
#include "sound/wave_output.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Well under the worker's bounds on opening (seconds) and well over its 100 ms wait for
// the end of a device: what "at once" means here.
constexpr milliseconds kAtOnce{1000};

struct FakeSystem {
    std::mutex lock;
    std::condition_variable changed;
    bool frozenOpens = false;    // opening waits for the thaw
    bool frozenEnds = false;     // stopping and closing wait for the thaw
    bool failMidStream = false;  // the device fails once it has played a block
    int asks[kDeviceSlots] {};
    int threads = 0;             // fake device threads alive
    int opened = 0;              // devices opened
    bool otherBusyAtOpen = false;
};

FakeSystem gSystem;
SampleBlock gBlocks[2];

// A call into the sound system: waits while that kind of call is frozen.
void systemCall(const bool& frozen)
{
    std::unique_lock<std::mutex> g(gSystem.lock);
    gSystem.changed.wait(g, [&frozen] { return !frozen; });
}

void setFrozen(bool opens, bool ends)
{
    std::lock_guard<std::mutex> g(gSystem.lock);
    gSystem.frozenOpens = opens;
    gSystem.frozenEnds = ends;
    gSystem.changed.notify_all();
}

void setFrozen(bool frozen)
{
    setFrozen(frozen, frozen);
}

bool waitFor(bool (*done)(), milliseconds bound = milliseconds(5000))
{
    const auto deadline = Clock::now() + bound;
    std::unique_lock<std::mutex> g(gSystem.lock);
    return gSystem.changed.wait_until(g, deadline, done);
}

bool noDeviceThreads()
{
    return gSystem.threads == 0;
}

milliseconds since(Clock::time_point t)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - t);
}

class DeviceThreadOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard<std::mutex> g(gSystem.lock);
        gSystem.frozenOpens = false;
        gSystem.frozenEnds = false;
        gSystem.failMidStream = false;
        gSystem.opened = 0;
        gSystem.otherBusyAtOpen = false;
    }
    void TearDown() override
    {
        // Every device thread of the test ends once the system answers again.
        setFrozen(false);
        EXPECT_TRUE(waitFor(noDeviceThreads)) << "a device thread never ended";
    }
};

// The healthy order: open, the open notice, two blocks queued, played notices, reset and
// close; the device thread ends with the close.
TEST_F(DeviceThreadOutput, PlaysHandedBlocksAndEndsWithTheClose)
{
    ASSERT_TRUE(waveOutputOpen(gBlocks));
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified); // open
    waveOutputQueue(0);
    waveOutputQueue(1);
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified);
    waveOutputQueue(0);
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified);
    waveOutputReset();
    waveOutputClose();
    EXPECT_TRUE(waitFor(noDeviceThreads));
}

// A Stop while the frozen system still opens the device ends the open at once; the
// device is left to its thread, which lets it go after the thaw.
TEST_F(DeviceThreadOutput, StopEndsAnOpenTheFrozenSystemHolds)
{
    setFrozen(true);
    const auto begun = Clock::now();
    auto open = std::async(std::launch::async, [] { return waveOutputOpen(gBlocks); });
    std::this_thread::sleep_for(milliseconds(50));
    waveOutputWake();
    ASSERT_EQ(open.wait_for(kAtOnce), std::future_status::ready) << "the open waited for the system";
    EXPECT_FALSE(open.get());
    EXPECT_LT(since(begun), kAtOnce + milliseconds(50));
}

// The end of a session waits only briefly for a frozen system; the next session's device
// opens in the other slot only after the first has been let go.
TEST_F(DeviceThreadOutput, TheNextDeviceWaitsForTheLastOneToBeLetGo)
{
    ASSERT_TRUE(waveOutputOpen(gBlocks));
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified);
    // The system holds the device's stop and close, but would open another at once.
    setFrozen(false, true);
    const auto ending = Clock::now();
    waveOutputReset();
    waveOutputClose();
    EXPECT_LT(since(ending), kAtOnce) << "the session's end waited for the frozen system";

    auto next = std::async(std::launch::async, [] { return waveOutputOpen(gBlocks); });
    std::this_thread::sleep_for(milliseconds(200));
    {
        std::lock_guard<std::mutex> g(gSystem.lock);
        EXPECT_EQ(gSystem.opened, 1) << "the next device opened while the last one was held";
    }
    setFrozen(false);
    ASSERT_EQ(next.wait_for(milliseconds(5000)), std::future_status::ready);
    EXPECT_TRUE(next.get());
    {
        std::lock_guard<std::mutex> g(gSystem.lock);
        EXPECT_EQ(gSystem.opened, 2);
        EXPECT_FALSE(gSystem.otherBusyAtOpen) << "two devices were open at once";
    }
    waveOutputReset();
    waveOutputClose();
}

// With every slot's device stuck in the frozen system, a session goes silent at once.
TEST_F(DeviceThreadOutput, EverySlotStuckMeansNoDeviceAtOnce)
{
    // The first device is held in its stop, the second (once its wait for the first
    // has run out) in its open.
    ASSERT_TRUE(waveOutputOpen(gBlocks));
    setFrozen(true);
    waveOutputReset();
    waveOutputClose();
    auto open = std::async(std::launch::async, [] { return waveOutputOpen(gBlocks); });
    std::this_thread::sleep_for(milliseconds(2500));
    waveOutputWake();
    ASSERT_EQ(open.wait_for(kAtOnce), std::future_status::ready);
    EXPECT_FALSE(open.get());

    const auto begun = Clock::now();
    EXPECT_FALSE(waveOutputOpen(gBlocks));
    EXPECT_LT(since(begun), milliseconds(100));
}

// Answers that end the worker's wait, table-driven: a wake left from before the open is
// forgotten; one after it ends the wait; a device that fails ends it too.
struct WaitCase {
    const char* name;
    const char* what;
    bool wakeBeforeOpen;
    bool wakeAfterOpen;
    bool failMidStream;
    WaveWait second; // the wait after the open notice, with two blocks queued
};

class DeviceThreadOutputWait : public DeviceThreadOutput,
                               public ::testing::WithParamInterface<WaitCase> {};

TEST_P(DeviceThreadOutputWait, AnswersTheWorkersWait)
{
    const WaitCase& c = GetParam();
    {
        std::lock_guard<std::mutex> g(gSystem.lock);
        gSystem.failMidStream = c.failMidStream;
    }
    if (c.wakeBeforeOpen)
        waveOutputWake();
    ASSERT_TRUE(waveOutputOpen(gBlocks));
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified) << c.what;
    if (c.wakeAfterOpen)
        waveOutputWake();
    waveOutputQueue(0);
    waveOutputQueue(1);
    const auto begun = Clock::now();
    if (c.second == WaveWait::Notified) {
        EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified) << c.what;
    } else {
        // Past the played blocks, the next wait gets the answer.
        WaveWait got = waveOutputWait(5000);
        while (got == WaveWait::Notified && since(begun) < kAtOnce)
            got = waveOutputWait(5000);
        EXPECT_EQ(got, c.second) << c.what;
        EXPECT_LT(since(begun), kAtOnce) << c.what;
    }
    waveOutputReset();
    waveOutputClose();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DeviceThreadOutputWait,
    ::testing::Values(
        WaitCase{"StaleWake", "a wake from before the open", true, false, false, WaveWait::Notified},
        WaitCase{"Wake", "a wake after the open", false, true, false, WaveWait::Woken},
        WaitCase{"DeviceFails", "the device failing", false, false, true, WaveWait::Failed}),
    [](const ::testing::TestParamInfo<WaitCase>& param) { return std::string(param.param.name); });

} // namespace

// ---- the fake face: its device thread over the fake system ---------------------------

bool deviceSlotPrepare(int)
{
    return true;
}

void deviceSlotForget(int slot)
{
    std::lock_guard<std::mutex> g(gSystem.lock);
    gSystem.asks[slot] = 0;
}

void deviceSlotAsk(int slot)
{
    std::lock_guard<std::mutex> g(gSystem.lock);
    ++gSystem.asks[slot];
    gSystem.changed.notify_all();
}

namespace {

// Sleeps until the worker asks for something.
void awaitAsk(int slot)
{
    std::unique_lock<std::mutex> g(gSystem.lock);
    gSystem.changed.wait(g, [slot] { return gSystem.asks[slot] > 0; });
    gSystem.asks[slot] = 0;
}

bool otherSlotHeld(int slot)
{
    for (int i = 0; i < kDeviceSlots; ++i) {
        if (i == slot)
            continue;
        DeviceSlot& s = deviceSlot(i);
        std::lock_guard<std::mutex> g(s.lock);
        if (s.busy)
            return true;
    }
    return false;
}

} // namespace

void deviceThread(int slot)
{
    {
        std::lock_guard<std::mutex> g(gSystem.lock);
        ++gSystem.threads;
    }
    bool ok = awaitDeviceRelease(slot);
    if (ok) {
        systemCall(gSystem.frozenOpens);
        const bool held = otherSlotHeld(slot);
        std::lock_guard<std::mutex> g(gSystem.lock);
        ++gSystem.opened;
        gSystem.otherBusyAtOpen = gSystem.otherBusyAtOpen || held;
    }
    reportDeviceOpened(slot, ok);
    if (ok) {
        // Every block handed over plays at once.
        std::uint64_t handed = 0;
        int index[kMaxQueuedBlocks];
        while (takeHanded(slot, &handed, index)) {
            reportPlayed(slot, handed);
            bool fail;
            {
                std::lock_guard<std::mutex> g(gSystem.lock);
                fail = gSystem.failMidStream && handed > 0;
            }
            if (fail)
                break;
            awaitAsk(slot);
        }
        reportStreamEnded(slot);
        systemCall(gSystem.frozenEnds); // stop
        reportStopped(slot);
        while (!closeWanted(slot))
            awaitAsk(slot);
        systemCall(gSystem.frozenEnds); // close
        reportClosed(slot);
    }
    std::lock_guard<std::mutex> g(gSystem.lock);
    --gSystem.threads;
    gSystem.changed.notify_all();
}
