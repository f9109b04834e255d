#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "session/settings.h"
#include "sound/audio_stream.h"
#include "sound/wave_output.h"
#include "tests/fakes/fake_seams.h"

namespace {

using Log = std::vector<std::string>;

class AudioStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        gStimulationSettings = StimulationSettings{};
        gNoiseGenerator = NoiseGenerator{};
    }

    // Runs one session on this thread; the flag drops once `waits` device waits have
    // been answered.
    void runSession(int waits)
    {
        flag.store(1);
        fake::onWait = [this, waits](int wait) {
            if (wait >= waits)
                flag.store(0);
            return true;
        };
        AudioStreamWorker(&flag);
    }

    SessionFlagType flag{0};
};

TEST_F(AudioStream, OrderOfDeviceCalls)
{
    struct Case {
        const char* name;
        int waitsBeforeStop;
        Log expected;
    };
    const Case cases[] = {
        // The flag is already down when the open notification arrives: block 0 only.
        {"stopped before the loop", 1, {"open", "wait", "queue0", "reset", "close"}},
        {"one refill", 2, {"open", "wait", "queue0", "queue1", "wait", "reset", "close"}},
        {"blocks alternate", 4,
         {"open", "wait", "queue0", "queue1", "wait", "queue0", "wait", "queue1", "wait", "reset", "close"}},
    };
    for (const Case& c : cases) {
        fake::reset();
        runSession(c.waitsBeforeStop);
        EXPECT_EQ(fake::log(), c.expected) << c.name;
    }
}

TEST_F(AudioStream, DeviceFailuresEndTheWorker)
{
    struct Case {
        const char* name;
        bool opens;
        int failingWait; // 0: none fails
        Log expected;
    };
    const Case cases[] = {
        {"no device", false, 0, {"open"}},
        {"never signals open", true, 1, {"open", "wait", "reset", "close"}},
        {"stops taking data", true, 2, {"open", "wait", "queue0", "queue1", "wait", "reset", "close"}},
    };
    for (const Case& c : cases) {
        fake::reset();
        fake::deviceOpens = c.opens;
        flag.store(1);
        const int failing = c.failingWait;
        fake::onWait = [failing](int wait) { return wait != failing; };
        AudioStreamWorker(&flag); // returns: a dead device never hangs the worker
        EXPECT_EQ(fake::log(), c.expected) << c.name;
    }
}

// Stop wakes the worker: a device that never reports a block played still lets the
// worker reset and close at once, not after its bound (kDeviceWaitMs, seconds).
TEST_F(AudioStream, WakeEndsTheWaitForAPlayedBlock)
{
    fake::deviceSilent = true;
    flag.store(1);
    std::thread worker(AudioStreamWorker, &flag);
    for (int i = 0; i < 2000 && fake::log().size() < 5; ++i) // open, wait, queue0, queue1, wait
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto dropped = std::chrono::steady_clock::now();
    flag.store(0);
    wakeAudioStreamWorker();
    worker.join();
    const auto took = std::chrono::steady_clock::now() - dropped;
    EXPECT_EQ(fake::log(), (Log{"open", "wait", "queue0", "queue1", "wait", "reset", "close"}));
    EXPECT_LT(took, std::chrono::milliseconds(kDeviceWaitMs / 2));
}

// A wake that comes while the session still runs (left over from an earlier Stop) is no
// played block: the worker waits again and refills nothing early.
TEST_F(AudioStream, WakeWhileRunningRefillsNothing)
{
    flag.store(1);
    fake::onWait = [this](int wait) {
        if (wait == 2)
            waveOutputWake(); // answered at the next wait
        if (wait >= 4)
            flag.store(0);
        return true;
    };
    AudioStreamWorker(&flag);
    // The third wait is the wake: the worker waits again before it refills anything.
    EXPECT_EQ(fake::log(), (Log{"open", "wait", "queue0", "queue1", "wait", "queue0", "wait",
                                "wait", "reset", "close"}));
}

TEST_F(AudioStream, EverySessionStartsAtFrameZero)
{
    gStimulationSettings.soundMode = SoundBinaural;
    runSession(3);
    runSession(1);
    const auto blocks = fake::queuedBlocks();
    ASSERT_EQ(blocks.size(), 4u); // three in the first session, one in the second
    SampleBlock expected;
    NoiseGenerator unused;
    synthesizeBlock(expected, 780, SoundBinaural, 0, unused);
    EXPECT_EQ(0, memcmp(&blocks[3], &expected, sizeof expected));
    synthesizeBlock(expected, 780, SoundBinaural, 2 * kBlockFrames, unused);
    EXPECT_EQ(0, memcmp(&blocks[2], &expected, sizeof expected));
}

TEST_F(AudioStream, NoiseContinuesAcrossSessions)
{
    gStimulationSettings.soundMode = SoundNoise;
    runSession(2); // blocks 0 and 1
    runSession(1); // block 0 of the second session
    const auto blocks = fake::queuedBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    NoiseGenerator g;
    g.skip(2 * kBlockFrames);
    SampleBlock expected;
    synthesizeBlock(expected, 780, SoundNoise, 0, g);
    EXPECT_EQ(0, memcmp(&blocks[2], &expected, sizeof expected));
    EXPECT_EQ(gNoiseGenerator.state, g.state);
}

TEST_F(AudioStream, SilenceStillStreams)
{
    gStimulationSettings.soundMode = SoundNone;
    runSession(3);
    const auto blocks = fake::queuedBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    for (const SampleBlock& b : blocks)
        for (std::int16_t s : b.samples)
            ASSERT_EQ(s, 0);
}

} // namespace
