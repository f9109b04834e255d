#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "session/session_controller.h"
#include "settings/settings.h"
#include "sound/audio_stream.h"
#include "sound/device_thread_output.h"
#include "tests/fakes/fake_seams.h"
#include "tests/fakes/fake_wave_device.h"

namespace {

using Log = std::vector<std::string>;
using namespace std::chrono_literals;

const StimulationSettings kDefaults{};

bool eventually(bool (*done)())
{
    for (int i = 0; i < 5000; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
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
    void SetUp() override
    {
        ASSERT_TRUE(finishWorkers(5000));
        ASSERT_TRUE(waitForDeviceThreads(5000));
        fake::reset();
        gStimulationSettings = StimulationSettings{};
    }
    void TearDown() override
    {
        stopSession();
        fake::releaseThreads();
        EXPECT_TRUE(finishWorkers(5000));
    }
};

TEST_F(Session, StartAndStopInTheirOrders)
{
    fake::holdNewThreads();
    ASSERT_EQ(startSession({1234, SoundNoise, VisualNone}), StartResult::Started);
    EXPECT_EQ(SessionFlag.load(), 1);
    EXPECT_EQ(gStimulationSettings.frequency, 1234u);
    EXPECT_EQ(gStimulationSettings.soundMode, SoundNoise);
    EXPECT_EQ(gStimulationSettings.visualMode, VisualNone);
    EXPECT_EQ(fake::log(), (Log{"hideCursor", "showStimulationWindow", "disableControl"}));
    ASSERT_TRUE(eventually([] { return fake::heldThreads() == 2; }));
    EXPECT_EQ(workersRunning(), 2);

    fake::deviceOpens = false;
    stopSession();
    EXPECT_EQ(SessionFlag.load(), 0);
    fake::releaseThreads();
    ASSERT_TRUE(waitForWorkers(5000));
    // The audio worker found no device; the strobe worker, in the visual mode none, had
    // no tick to start.
    EXPECT_EQ(fake::log(), (Log{"hideCursor", "showStimulationWindow", "disableControl",
                                "hideStimulationWindow", "enableControl", "showCursor",
                                "focusControl", "open"}));
}

TEST_F(Session, RepeatedStopAndStartWhileRunningAreIgnored)
{
    fake::holdNewThreads();
    stopSession(); // nothing runs yet
    EXPECT_TRUE(fake::log().empty());
    ASSERT_EQ(startSession(kDefaults), StartResult::Started);
    // a second click cannot reach a disabled window, but if it did
    EXPECT_EQ(startSession(kDefaults), StartResult::Refused);
    stopSession();
    const std::size_t calls = fake::log().size();
    stopSession(); // the key repeats after the window is gone
    EXPECT_EQ(fake::log().size(), calls);
}

TEST_F(Session, ValuesOutsideTheRangesNeverReachTheSettings)
{
    struct Case {
        StimulationSettings wanted;
        StimulationSettings expected;
    };
    const Case cases[] = {
        {{0, static_cast<SoundMode>(-1), static_cast<VisualMode>(-1)}, {780, SoundBinaural, VisualStrobe}},
        {{5001, static_cast<SoundMode>(4), static_cast<VisualMode>(2)}, {780, SoundBinaural, VisualStrobe}},
        {{9, SoundBeeps, static_cast<VisualMode>(2)}, {780, SoundBeeps, VisualStrobe}},
        {{10, SoundNone, VisualNone}, {10, SoundNone, VisualNone}},
        {{5000, SoundNoise, VisualStrobe}, {5000, SoundNoise, VisualStrobe}},
    };
    fake::refreshRate = 240.0; // a screen that shows every flicker
    for (const Case& c : cases) {
        gStimulationSettings = StimulationSettings{};
        ASSERT_EQ(startAndFollow(c.wanted), StartResult::Started);
        EXPECT_EQ(gStimulationSettings.frequency, c.expected.frequency);
        EXPECT_EQ(gStimulationSettings.soundMode, c.expected.soundMode);
        EXPECT_EQ(gStimulationSettings.visualMode, c.expected.visualMode);
        stopSession();
        ASSERT_TRUE(waitForWorkers(5000)); // they read the settings the next case resets
    }
}

// A stroboscope the screen cannot show runs as visual none with the sound as chosen, and
// the user is told before the stimulation window covers the screen; one it can show
// starts with no message.
TEST_F(Session, AFlickerTheScreenCannotShowRunsBlack)
{
    const struct {
        double refresh;
        StimulationSettings wanted;
        VisualMode runs;
        const char* told; // a part of the message, or nullptr for none
    } cases[] = {
        {60.0, {5000, SoundBeeps, VisualStrobe}, VisualNone, "экрана — 60 Гц. Мерцание 50,00 Гц"},
        {0.0, {2942, SoundNoise, VisualStrobe}, VisualNone, "на этом экране — 29,41 Гц."},
        {59.94, {3000, SoundBinaural, VisualStrobe}, VisualNone, "экрана — 59,94 Гц"},
        {60.0, {2941, SoundBinaural, VisualStrobe}, VisualStrobe, nullptr},
        {144.0, {5000, SoundBinaural, VisualStrobe}, VisualStrobe, nullptr},
        {60.0, {5000, SoundNoise, VisualNone}, VisualNone, nullptr},
    };
    for (const auto& c : cases) {
        fake::reset();
        fake::refreshRate = c.refresh;
        ASSERT_EQ(startAndFollow(c.wanted), StartResult::Started);
        EXPECT_EQ(gStimulationSettings.frequency, c.wanted.frequency);
        EXPECT_EQ(gStimulationSettings.soundMode, c.wanted.soundMode);
        EXPECT_EQ(gStimulationSettings.visualMode, c.runs);
        // The workers log from their own threads; the desktop's calls keep their order.
        const Log log = fake::log();
        const auto told = std::find_if(log.begin(), log.end(),
                                       [](const std::string& e) { return e.rfind("tell: ", 0) == 0; });
        const auto covered = std::find(log.begin(), log.end(), std::string("hideCursor"));
        ASSERT_NE(covered, log.end());
        if (c.told != nullptr) {
            ASSERT_NE(told, log.end()) << c.wanted.frequency;
            EXPECT_LT(told - log.begin(), covered - log.begin()) << "told after the screen went black";
            EXPECT_NE(told->find(c.told), std::string::npos) << *told;
        } else {
            EXPECT_EQ(told, log.end()) << *told;
        }
        stopSession();
        ASSERT_TRUE(waitForWorkers(5000));
        // The strobe worker started no tick for a session that runs black.
        const Log after = fake::log();
        EXPECT_EQ(std::count(after.begin(), after.end(), "timerStart"), c.runs == VisualStrobe ? 1 : 0);
    }
}

// A Start while the last session's workers wind down never waits: it answers Waiting,
// and the session starts once they have ended, so the device is never open twice and
// the settings never change under an old worker.
TEST_F(Session, StartWaitsForTheOldWorkersWithoutBlocking)
{
    fake::holdNewThreads();
    ASSERT_EQ(startSession(kDefaults), StartResult::Started);
    stopSession();
    ASSERT_TRUE(eventually([] { return fake::heldThreads() == 2; }));

    const auto clicked = std::chrono::steady_clock::now();
    EXPECT_EQ(startSession({1234, SoundBeeps, VisualNone}), StartResult::Waiting);
    EXPECT_LT(std::chrono::steady_clock::now() - clicked, 100ms); // no wait in the handler
    EXPECT_TRUE(startWaiting());
    EXPECT_EQ(continueStart(), StartResult::Waiting);
    EXPECT_EQ(SessionFlag.load(), 0);
    EXPECT_EQ(gStimulationSettings.frequency, 780u); // the old workers may still read it

    fake::releaseThreads();
    ASSERT_TRUE(waitForWorkers(5000));
    EXPECT_EQ(continueStart(), StartResult::Started);
    EXPECT_FALSE(startWaiting());
    EXPECT_EQ(gStimulationSettings.frequency, 1234u);
    EXPECT_EQ(gStimulationSettings.soundMode, SoundBeeps);
    EXPECT_EQ(SessionFlag.load(), 1);
}

// A key while the Start waits drops it: nothing starts afterwards.
TEST_F(Session, KeyWhileStartWaitsDropsIt)
{
    fake::holdNewThreads();
    ASSERT_EQ(startSession(kDefaults), StartResult::Started);
    stopSession();
    ASSERT_EQ(startSession(kDefaults), StartResult::Waiting);
    stopSession();
    EXPECT_FALSE(startWaiting());
    fake::releaseThreads();
    ASSERT_TRUE(waitForWorkers(5000));
    EXPECT_EQ(continueStart(), StartResult::Refused);
    EXPECT_EQ(SessionFlag.load(), 0);
}

// Workers that never end block no new session from sharing their device or counters:
// the waiting Start is given up once the bound has passed.
TEST_F(Session, StartIsGivenUpWhenTheOldWorkersNeverEnd)
{
    fake::holdNewThreads();
    ASSERT_EQ(startSession(kDefaults), StartResult::Started);
    stopSession();
    ASSERT_EQ(startSession(kDefaults), StartResult::Waiting);
    std::this_thread::sleep_for(std::chrono::milliseconds(kWorkerWindDownMs) + 50ms);
    EXPECT_EQ(continueStart(), StartResult::Refused);
    EXPECT_FALSE(startWaiting());
    EXPECT_EQ(SessionFlag.load(), 0);
}

// Stop wakes both workers: with a device that never reports a block played, the workers
// end long before the device wait's bound.
TEST_F(Session, StopEndsTheWorkersAtOnce)
{
    fake::deviceSilent = true;
    ASSERT_EQ(startSession(kDefaults), StartResult::Started);
    // Both blocks given: the worker waits for one to be played.
    ASSERT_TRUE(fake::awaitWritten(2));
    stopSession();
    EXPECT_TRUE(waitForWorkers(kDeviceWaitMs / 2));
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
    const Log log = fake::log();
    // A device whose session ended before it opened may be let go unopened; every one
    // opened was closed.
    const auto opens = std::count(log.begin(), log.end(), "open");
    EXPECT_GT(opens, 0);
    EXPECT_LE(opens, 200);
    EXPECT_EQ(std::count(log.begin(), log.end(), "close"), fake::devicesOpened());
    EXPECT_EQ(std::count(log.begin(), log.end(), "timerStop"), 100);
}

TEST_F(Session, FinishWorkersStopsARunningSession)
{
    ASSERT_EQ(startSession(kDefaults), StartResult::Started);
    EXPECT_TRUE(finishWorkers(5000));
    EXPECT_EQ(workersRunning(), 0);
    EXPECT_EQ(SessionFlag.load(), 0);
}

} // namespace
