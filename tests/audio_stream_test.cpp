#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings.h"
#include "sound/audio_stream.h"
#include "sound/device_thread_output.h"
#include "tests/fakes/fake_seams.h"
#include "tests/fakes/fake_wave_device.h"

// The audio worker over the real device thread and the fake device verbs: what the
// device is given, in what order, and how the worker ends.
namespace {

using Log = std::vector<std::string>;

class AudioStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(waitForDeviceThreads(5000));
        fake::reset();
        gStimulationSettings = StimulationSettings{};
        gNoiseGenerator = NoiseGenerator{};
    }
    void TearDown() override { EXPECT_TRUE(waitForDeviceThreads(5000)); }

    // Runs one session on a worker thread, the device finishing one block at a time: the
    // flag drops, and Stop wakes the worker, once the device has been given `blocks`
    // blocks (two or more: the worker hands over the first two at once).
    void runSession(std::uint64_t blocks)
    {
        const std::uint64_t before = fake::writtenBlocks();
        fake::limitPlayed(0);
        flag.store(1);
        std::thread worker(AudioStreamWorker, &flag);
        for (std::uint64_t played = 0;; ++played) {
            // The worker keeps two blocks unplayed.
            const std::uint64_t given = std::min(played + 2, blocks);
            EXPECT_TRUE(fake::awaitWritten(before + given)) << "block " << given << " never came";
            if (given == blocks)
                break;
            fake::limitPlayed(played + 1);
        }
        stop(worker);
    }

    void stop(std::thread& worker)
    {
        flag.store(0);
        wakeAudioStreamWorker();
        worker.join();
    }

    SessionFlagType flag{0};
};

TEST_F(AudioStream, BlocksAlternateUntilTheFlagDrops)
{
    const struct {
        std::uint64_t blocks;
        Log expected;
    } cases[] = {
        {2, {"open", "write0", "write1", "reset", "close"}},
        {3, {"open", "write0", "write1", "write0", "reset", "close"}},
        {5, {"open", "write0", "write1", "write0", "write1", "write0", "reset", "close"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(waitForDeviceThreads(5000));
        fake::reset();
        runSession(c.blocks);
        EXPECT_EQ(fake::log(), c.expected) << c.blocks << " blocks";
        // Every block computed was handed over: none is lost, none computed twice.
        EXPECT_EQ(sampleCounter, c.blocks * kBlockFrames) << c.blocks << " blocks";
    }
}

// The flag already down when the device has opened: block 0 is computed and handed
// over, nothing more, and the device is reset and closed (it may have taken block 0
// before the stop reached it).
TEST_F(AudioStream, FlagDownAtTheOpenEndsAfterBlockZero)
{
    fake::onOpen = [this] { flag.store(0); };
    flag.store(1);
    AudioStreamWorker(&flag);
    EXPECT_EQ(sampleCounter, kBlockFrames);
    Log log = fake::log();
    log.erase(std::remove(log.begin(), log.end(), "write0"), log.end());
    EXPECT_EQ(log, (Log{"open", "reset", "close"}));
    EXPECT_LE(fake::writtenBlocks(), 1u);
}

TEST_F(AudioStream, DeviceFailuresEndTheWorker)
{
    const struct {
        const char* name;
        bool opens;
        int failsAfter;
        Log expected;
    } cases[] = {
        {"no device", false, 0, {"open"}},
        {"stops taking data", true, 2, {"open", "write0", "write1", "reset", "close"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(waitForDeviceThreads(5000));
        fake::reset();
        fake::deviceOpens = c.opens;
        fake::deviceFailsAfter = c.failsAfter;
        fake::limitPlayed(0); // the device fails before it has played a block
        flag.store(1);
        AudioStreamWorker(&flag); // returns: a dead device never hangs the worker
        EXPECT_TRUE(waitForDeviceThreads(5000)) << c.name;
        EXPECT_EQ(fake::log(), c.expected) << c.name;
        EXPECT_EQ(flag.load(), 1) << c.name << ": the worker ended by itself";
    }
}

// Stop wakes the worker: a device that never reports a block played still lets the
// worker reset and close at once, not after its bound (kDeviceWaitMs, seconds).
TEST_F(AudioStream, WakeEndsTheWaitForAPlayedBlock)
{
    fake::deviceSilent = true;
    flag.store(1);
    std::thread worker(AudioStreamWorker, &flag);
    ASSERT_TRUE(fake::awaitWritten(2));
    const auto dropped = std::chrono::steady_clock::now();
    stop(worker);
    const auto took = std::chrono::steady_clock::now() - dropped;
    EXPECT_EQ(fake::log(), (Log{"open", "write0", "write1", "reset", "close"}));
    EXPECT_LT(took, std::chrono::milliseconds(kDeviceWaitMs / 2));
}

// A wake that comes while the session still runs (left over from an earlier Stop) is no
// played block: the worker waits again and computes nothing early, so every block holds
// the frames that follow the last one.
TEST_F(AudioStream, WakeWhileRunningRefillsNothing)
{
    gStimulationSettings.soundMode = SoundBinaural;
    // Woken as it hands block 1 over, the worker meets the wake at its next wait, before
    // any block has been played.
    fake::onAsk = [](int ask) {
        if (ask == 2)
            wakeAudioStreamWorker();
    };
    runSession(4);
    EXPECT_EQ(fake::log(), (Log{"open", "write0", "write1", "write0", "write1", "reset", "close"}));
    EXPECT_EQ(sampleCounter, 4 * kBlockFrames);
    const auto blocks = fake::writtenContents();
    ASSERT_EQ(blocks.size(), 4u);
    NoiseGenerator unused;
    SampleBlock expected;
    for (std::uint32_t n = 0; n < 4; ++n) {
        synthesizeBlock(expected, 780, SoundBinaural, n * kBlockFrames, unused);
        EXPECT_EQ(0, memcmp(&blocks[n], &expected, sizeof expected)) << "block " << n;
    }
}

TEST_F(AudioStream, EverySessionStartsAtFrameZero)
{
    gStimulationSettings.soundMode = SoundBinaural;
    runSession(3);
    runSession(2);
    const auto blocks = fake::writtenContents();
    ASSERT_EQ(blocks.size(), 5u); // three in the first session, two in the second
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
    runSession(2); // blocks 0 and 1 of the second session
    const auto blocks = fake::writtenContents();
    ASSERT_EQ(blocks.size(), 4u);
    NoiseGenerator g;
    g.skip(2 * kBlockFrames);
    SampleBlock expected;
    synthesizeBlock(expected, 780, SoundNoise, 0, g);
    EXPECT_EQ(0, memcmp(&blocks[2], &expected, sizeof expected));
    synthesizeBlock(expected, 780, SoundNoise, kBlockFrames, g);
    EXPECT_EQ(0, memcmp(&blocks[3], &expected, sizeof expected));
    EXPECT_EQ(gNoiseGenerator.state, g.state);
}

TEST_F(AudioStream, SilenceStillStreams)
{
    gStimulationSettings.soundMode = SoundNone;
    runSession(3);
    const auto blocks = fake::writtenContents();
    ASSERT_EQ(blocks.size(), 3u);
    for (const SampleBlock& b : blocks)
        for (std::int16_t s : b.samples)
            ASSERT_EQ(s, 0);
}

} // namespace
