#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "settings/settings.h"
#include "sound/audio_stream.h"
#include "sound/device_thread_output.h"
#include "tests/fakes/fake_seams.h"

// The audio worker over the real device thread and the fake device verbs: what the
// device is given, in what order, and how the worker ends.
namespace {

using Log = std::vector<std::string>;

class AudioStream : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override { EXPECT_TRUE(waitForDeviceThreads(5000)); }
    void fresh()
    {
        ASSERT_TRUE(waitForDeviceThreads(5000));
        fake::reset();
        gStimulationSettings = StimulationSettings{};
    }

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
            const std::uint64_t given = std::min(played + 2, blocks); // two kept unplayed
            EXPECT_TRUE(fake::eventually([&] { return fake::writtenBlocks() >= before + given; }))
                << "block " << given << " never came";
            if (given == blocks)
                break;
            fake::limitPlayed(played + 1);
        }
        flag.store(0);
        wakeAudioStreamWorker();
        worker.join();
    }

    SessionFlagType flag{0};
};

// Sessions one after the other: the blocks alternate until the flag drops, each session
// starts at frame 0, every block holds the frames after the last one (none lost, none
// computed twice), silence still streams, and the noise goes on across sessions. A wake
// that comes while a session runs (here as block 1 is handed over, as one left over from
// an earlier Stop would) is no played block: the worker waits again, computing nothing early.
TEST_F(AudioStream, BlocksAlternateAndHoldTheNextFrames)
{
    const struct {
        SoundMode mode;
        std::vector<std::uint32_t> sessions; // blocks given in each
    } cases[] = {{SoundNone, {3}}, {SoundBinaural, {2, 5}}, {SoundNoise, {4, 2}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        fresh();
        gStimulationSettings.soundMode = c.mode;
        fake::onAsk = [](int ask) {
            if (ask == 2)
                wakeAudioStreamWorker();
        };
        NoiseGenerator noise = gNoiseGenerator;
        Log expectedLog;
        std::vector<SampleBlock> expected;
        for (std::uint32_t blocks : c.sessions) {
            runSession(blocks);
            EXPECT_EQ(sampleCounter, blocks * kBlockFrames);
            expectedLog.push_back("open");
            for (std::uint32_t n = 0; n < blocks; ++n) {
                expectedLog.push_back(n % 2 ? "write1" : "write0");
                synthesizeBlock(expected.emplace_back(), 780, c.mode, n * kBlockFrames, noise);
            }
            expectedLog.insert(expectedLog.end(), {"reset", "close"});
        }
        EXPECT_EQ(fake::log(), expectedLog);
        const auto given = fake::writtenContents();
        ASSERT_EQ(given.size(), expected.size());
        for (std::size_t i = 0; i < given.size(); ++i)
            EXPECT_EQ(0, memcmp(&given[i], &expected[i], sizeof(SampleBlock))) << "block " << i;
        EXPECT_EQ(gNoiseGenerator.state, noise.state);
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

// A device that stops taking data ends the worker by itself, the flag still up: a dead
// device never hangs it. (One that cannot be had is the session test's.)
TEST_F(AudioStream, ADeviceThatFailsEndsTheWorker)
{
    fake::deviceFailsAfter = 2;
    fake::limitPlayed(0); // it fails before it has played a block
    flag.store(1);
    AudioStreamWorker(&flag);
    EXPECT_TRUE(waitForDeviceThreads(5000));
    EXPECT_EQ(fake::log(), (Log{"open", "write0", "write1", "reset", "close"}));
}

} // namespace
