// The worker's side of a device run on its own thread, and the device thread's loop, over
// the fake device verbs, whose sound system can be frozen: every call into it (open,
// reset, close) then waits for the thaw, as PulseAudio's plugin and Wine's winmm do with
// a frozen server. The bounds are seconds; the checks allow a second where the worker
// must not wait for the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "sound/device_thread_output.h"
#include "tests/fakes/fake_seams.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Well under the worker's bounds on opening (seconds) and well over its 100 ms wait for
// the end of a device: what "at once" means here.
constexpr milliseconds kAtOnce{1000};

SampleBlock gBlocks[2];

milliseconds since(Clock::time_point t)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - t);
}

std::future<bool> openElsewhere()
{
    return std::async(std::launch::async, [] { return waveOutputOpen(gBlocks); });
}

long triedOpens()
{
    const auto log = fake::log();
    return std::count(log.begin(), log.end(), "open");
}

class DeviceThreadOutput : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }
    void TearDown() override
    {
        // Every device thread of the test ends once the system answers again.
        fake::setFrozen(false, false);
        EXPECT_TRUE(waitForDeviceThreads(5000)) << "a device thread never ended";
        EXPECT_EQ(fake::devicesOpenNow, 0) << "a device was left open";
    }
};

// The healthy order: open, the open notice, two blocks queued, played notices, reset and
// close; the device is given each block as it was when handed over, in the order handed,
// and the device thread ends with the close.
TEST_F(DeviceThreadOutput, PlaysHandedBlocksAndEndsWithTheClose)
{
    fake::limitPlayed(0);
    ASSERT_TRUE(waveOutputOpen(gBlocks));
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified); // open
    gBlocks[0].samples[0] = 100;
    gBlocks[1].samples[0] = 101;
    waveOutputQueue(0);
    waveOutputQueue(1);
    // The worker's block may change once handed over: the device plays the copy.
    gBlocks[0].samples[0] = -1;
    fake::limitPlayed(1);
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified);
    gBlocks[0].samples[0] = 102;
    waveOutputQueue(0);
    ASSERT_TRUE(fake::eventually([] { return fake::writtenBlocks() == 3; }));
    fake::limitPlayed(2);
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified);
    waveOutputReset();
    waveOutputClose();
    EXPECT_TRUE(waitForDeviceThreads(5000));
    EXPECT_EQ(fake::log(), (std::vector<std::string>{"open", "write0", "write1", "write0", "reset", "close"}));
    const std::vector<SampleBlock> given = fake::writtenContents();
    ASSERT_EQ(given.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(given[i].samples[0], 100 + i);
}

// The end of a session waits only briefly for a frozen system; the next session's device
// opens in the other slot only after the first has been let go.
TEST_F(DeviceThreadOutput, TheNextDeviceWaitsForTheLastOneToBeLetGo)
{
    ASSERT_TRUE(waveOutputOpen(gBlocks));
    EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified);
    // The system holds the device's stop and close, but would open another at once.
    fake::setFrozen(false, true);
    const auto ending = Clock::now();
    waveOutputReset();
    waveOutputClose();
    EXPECT_LT(since(ending), kAtOnce) << "the session's end waited for the frozen system";

    auto next = openElsewhere();
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(triedOpens(), 1) << "the next device opened while the last one was held";
    fake::setFrozen(false, false);
    ASSERT_EQ(next.wait_for(milliseconds(5000)), std::future_status::ready);
    EXPECT_TRUE(next.get());
    EXPECT_EQ(triedOpens(), 2);
    EXPECT_EQ(fake::mostDevicesOpen, 1) << "two devices were open at once";
    waveOutputReset();
    waveOutputClose();
}

// A Stop while the frozen system still opens the device ends the open at once (the device
// is left to its thread, which lets it go after the thaw); with every slot's device stuck
// in the frozen system, a session goes silent at once.
TEST_F(DeviceThreadOutput, AFrozenSystemNeverHoldsTheWorker)
{
    // The first device is held in its stop, the second (once its wait for the first
    // has run out) in its open.
    ASSERT_TRUE(waveOutputOpen(gBlocks));
    fake::setFrozen(true, true);
    waveOutputReset();
    waveOutputClose();
    auto open = openElsewhere();
    ASSERT_TRUE(fake::eventually([] { return triedOpens() == 2; })) << "the second device was never tried";
    const auto stopped = Clock::now();
    waveOutputWake();
    ASSERT_EQ(open.wait_for(kAtOnce), std::future_status::ready) << "the open waited for the system";
    EXPECT_FALSE(open.get());
    EXPECT_LT(since(stopped), kAtOnce);

    const auto begun = Clock::now();
    EXPECT_FALSE(waveOutputOpen(gBlocks));
    EXPECT_LT(since(begun), milliseconds(100));
}

// The worker's wait after the open notice, with two blocks queued: a wake left from
// before the open is forgotten (the played block answers); one after it ends the wait at
// once, and so does a device that fails.
TEST_F(DeviceThreadOutput, AnswersTheWorkersWait)
{
    const struct {
        const char* what;
        bool wakeBeforeOpen, wakeAfterOpen;
        int failsAfter;
        WaveWait answer;
    } cases[] = {
        {"a wake from before the open", true, false, 0, WaveWait::Notified},
        {"a wake after the open", false, true, 0, WaveWait::Woken},
        {"the device failing", false, false, 2, WaveWait::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(waitForDeviceThreads(5000));
        fake::reset();
        fake::deviceFailsAfter = c.failsAfter;
        if (c.wakeBeforeOpen)
            waveOutputWake();
        ASSERT_TRUE(waveOutputOpen(gBlocks));
        EXPECT_EQ(waveOutputWait(2000), WaveWait::Notified); // the open
        if (c.wakeAfterOpen)
            waveOutputWake();
        waveOutputQueue(0);
        waveOutputQueue(1);
        const auto begun = Clock::now();
        WaveWait got = waveOutputWait(5000);
        // Past the played blocks, the next wait gets the answer.
        while (c.answer != WaveWait::Notified && got == WaveWait::Notified && since(begun) < kAtOnce)
            got = waveOutputWait(5000);
        EXPECT_EQ(got, c.answer);
        EXPECT_LT(since(begun), kAtOnce);
        waveOutputReset();
        waveOutputClose();
    }
}

} // namespace
