#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>

#include "session/session_controller.h"
#include "sound/audio_stream.h"
#include "sound/device_thread_output.h"
#include "tests/fakes/fake_seams.h"

namespace {

using Log = std::vector<std::string>;
using namespace std::chrono_literals;

const StimulationSettings kDefaults{};

// The settings the workers read and the session flag; by default as they are now.
std::tuple<std::uint32_t, SoundMode, VisualMode, int> state(const StimulationSettings& s = gStimulationSettings,
                                                            int flag = SessionFlag.load())
{
    return {s.frequency, s.soundMode, s.visualMode, flag};
}

// What the face's timer does while a Start waits.
StartResult startAndFollow(const StimulationSettings& wanted)
{
    StartResult result = startSession(wanted);
    while (result == StartResult::Waiting) {
        std::this_thread::sleep_for(1ms);
        result = continueStart();
    }
    return result;
}

class Session : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override
    {
        stopSession();
        fake::releaseThreads();
        EXPECT_TRUE(finishWorkers(5000));
    }
    void fresh()
    {
        ASSERT_TRUE(finishWorkers(5000));
        ASSERT_TRUE(waitForDeviceThreads(5000));
        fake::reset();
        gStimulationSettings = StimulationSettings{};
    }
};

// The desktop's calls in their orders; a Start while a session runs and a Stop while none
// runs change nothing.
TEST_F(Session, StartAndStopInTheirOrdersOnceEach)
{
    fake::holdNewThreads();
    stopSession();
    EXPECT_TRUE(fake::log().empty());
    ASSERT_EQ(startSession({1234, SoundNoise, VisualNone}), StartResult::Started);
    EXPECT_EQ(startSession(kDefaults), StartResult::Refused);
    EXPECT_EQ(state(), state({1234, SoundNoise, VisualNone}, 1));
    EXPECT_EQ(fake::log(), (Log{"hideCursor", "showStimulationWindow", "disableControl"}));
    ASSERT_TRUE(fake::eventually([] { return fake::heldThreads() == 2; }));
    EXPECT_EQ(workersRunning(), 2);

    fake::deviceOpens = false;
    stopSession();
    stopSession(); // the key repeats after the window is gone
    EXPECT_EQ(SessionFlag.load(), 0);
    fake::releaseThreads();
    ASSERT_TRUE(waitForWorkers(5000));
    // The audio worker found no device; the strobe worker had no tick to start.
    EXPECT_EQ(fake::log(), (Log{"hideCursor", "showStimulationWindow", "disableControl",
                                "hideStimulationWindow", "enableControl", "showCursor",
                                "focusControl", "open"}));
}

// A value out of its range never reaches the settings, which keep their last value (the
// defaults here). A stroboscope the screen cannot show runs black with the sound as
// chosen, and the user is told before the stimulation window covers the screen.
TEST_F(Session, StartRunsTheValidSettingsTheScreenCanShow)
{
    const struct {
        double refresh;
        StimulationSettings wanted, runs;
        const char* told; // a part of the message, or nullptr for none
    } cases[] = {
        {240.0, {0, SoundMode(-1), VisualMode(-1)}, {780, SoundBinaural, VisualStrobe}, nullptr},
        {240.0, {5001, SoundMode(4), VisualMode(2)}, {780, SoundBinaural, VisualStrobe}, nullptr},
        {240.0, {9, SoundBeeps, VisualMode(2)}, {780, SoundBeeps, VisualStrobe}, nullptr},
        {240.0, {10, SoundNone, VisualNone}, {10, SoundNone, VisualNone}, nullptr},
        {144.0, {5000, SoundNoise, VisualStrobe}, {5000, SoundNoise, VisualStrobe}, nullptr},
        {60.0, {2941, SoundBinaural, VisualStrobe}, {2941, SoundBinaural, VisualStrobe}, nullptr},
        {60.0, {5000, SoundNoise, VisualNone}, {5000, SoundNoise, VisualNone}, nullptr},
        {60.0, {5000, SoundBeeps, VisualStrobe}, {5000, SoundBeeps, VisualNone}, "экрана — 60 Гц. Мерцание 50,00 Гц"},
        {0.0, {2942, SoundNoise, VisualStrobe}, {2942, SoundNoise, VisualNone}, "на этом экране — 29,41 Гц."},
        {59.94, {3000, SoundBinaural, VisualStrobe}, {3000, SoundBinaural, VisualNone}, "экрана — 59,94 Гц"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted.frequency);
        fresh();
        fake::refreshRate = c.refresh;
        ASSERT_EQ(startAndFollow(c.wanted), StartResult::Started);
        EXPECT_EQ(state(), state(c.runs, 1));
        stopSession();
        ASSERT_TRUE(waitForWorkers(5000));
        // Told first, before the stimulation window covers the screen, or never; and no
        // tick started for a session that runs black.
        const Log log = fake::log();
        const auto tells = std::count_if(log.begin(), log.end(), [](const auto& e) { return e.starts_with("tell: "); });
        EXPECT_EQ(tells, c.told ? 1 : 0);
        if (c.told) {
            EXPECT_TRUE(log[0].starts_with("tell: ") && log[0].find(c.told) != std::string::npos) << log[0];
        }
        EXPECT_EQ(std::count(log.begin(), log.end(), "timerStart"), c.runs.visualMode == VisualStrobe ? 1 : 0);
    }
}

// A Start while the last session's workers wind down never waits in the handler: it
// answers Waiting, and the session starts once they have ended, so the device is never
// open twice and the settings never change under an old worker. A key drops a waiting
// Start; workers that never end make it given up once the bound has passed.
TEST_F(Session, StartWaitsForTheOldWorkersWithoutBlocking)
{
    // The last session's workers are held before they run.
    fake::holdNewThreads();
    ASSERT_EQ(startSession(kDefaults), StartResult::Started);
    stopSession();
    ASSERT_TRUE(fake::eventually([] { return fake::heldThreads() == 2; }));
    const auto clicked = std::chrono::steady_clock::now();
    EXPECT_EQ(startSession({1234, SoundBeeps, VisualNone}), StartResult::Waiting);
    EXPECT_LT(std::chrono::steady_clock::now() - clicked, 100ms);
    EXPECT_TRUE(startWaiting());
    EXPECT_EQ(continueStart(), StartResult::Waiting);
    EXPECT_EQ(state(), state(kDefaults, 0));

    stopSession();
    EXPECT_FALSE(startWaiting());
    EXPECT_EQ(continueStart(), StartResult::Refused);

    ASSERT_EQ(startSession(kDefaults), StartResult::Waiting);
    std::this_thread::sleep_for(std::chrono::milliseconds(kWorkerWindDownMs) + 50ms);
    EXPECT_EQ(continueStart(), StartResult::Refused);
    EXPECT_FALSE(startWaiting());
    EXPECT_EQ(SessionFlag.load(), 0);

    ASSERT_EQ(startSession({1234, SoundBeeps, VisualNone}), StartResult::Waiting);
    fake::releaseThreads();
    ASSERT_TRUE(waitForWorkers(5000));
    EXPECT_EQ(continueStart(), StartResult::Started);
    EXPECT_FALSE(startWaiting());
    EXPECT_EQ(state(), state({1234, SoundBeeps, VisualNone}, 1));
}

// Stop, and the program's exit, wake both workers: with a device that never reports a
// block played, the workers end long before the device wait's bound.
TEST_F(Session, StopAndExitEndTheWorkersAtOnce)
{
    for (bool exiting : {false, true}) {
        SCOPED_TRACE(exiting ? "finishWorkers" : "stopSession");
        fresh();
        fake::limitPlayed(0);
        ASSERT_EQ(startSession(kDefaults), StartResult::Started);
        // Both blocks given: the worker waits for one to be played.
        ASSERT_TRUE(fake::eventually([] { return fake::writtenBlocks() == 2; }));
        if (!exiting)
            stopSession();
        EXPECT_TRUE(exiting ? finishWorkers(kDeviceWaitMs / 2) : waitForWorkers(kDeviceWaitMs / 2));
        EXPECT_EQ(SessionFlag.load(), 0);
    }
}

TEST_F(Session, RapidStartStopCyclesNeverOverlap)
{
    for (int i = 0; i < 200; ++i) {
        const StimulationSettings wanted{780, static_cast<SoundMode>(i % 4), static_cast<VisualMode>(i % 2)};
        ASSERT_EQ(startAndFollow(wanted), StartResult::Started) << i;
        stopSession();
    }
    ASSERT_TRUE(finishWorkers(5000));
    ASSERT_TRUE(waitForDeviceThreads(5000));
    EXPECT_EQ(fake::mostDevicesOpen, 1);
    EXPECT_EQ(fake::devicesOpenNow, 0);
    // A device whose session ended before it opened may be let go unopened.
    const Log log = fake::log();
    const auto opens = std::count(log.begin(), log.end(), "open");
    EXPECT_GT(opens, 0);
    EXPECT_LE(opens, 200);
    EXPECT_EQ(std::count(log.begin(), log.end(), "timerStop"), 100);
}

} // namespace
