#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "session/session_controller.h"
#include "session/settings.h"
#include "tests/fakes/fake_seams.h"

namespace {

using Log = std::vector<std::string>;

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(finishWorkers(5000));
        fake::reset();
        gStimulationSettings = StimulationSettings{};
    }
    void TearDown() override
    {
        stopSession();
        for (const fake::HeldThread& t : fake::takeHeldThreads())
            std::thread(t.entry, t.flag).detach();
        EXPECT_TRUE(finishWorkers(5000));
    }
};

TEST_F(Session, StartAndStopInTheirOrders)
{
    fake::holdThreads = true;
    fake::controls = {1234, 3, 0};
    ASSERT_TRUE(startSession());
    EXPECT_EQ(SessionFlag.load(), 1);
    EXPECT_EQ(gStimulationSettings.frequency, 1234u);
    EXPECT_EQ(gStimulationSettings.soundMode, SoundNoise);
    EXPECT_EQ(gStimulationSettings.visualMode, VisualNone);
    EXPECT_EQ(fake::log(), (Log{"startThread", "startThread", "hideCursor", "showStimulationWindow",
                                "disableControl"}));

    // The first thread started is the audio worker, the second the strobe worker.
    auto held = fake::takeHeldThreads();
    ASSERT_EQ(held.size(), 2u);
    fake::reset();
    stopSession();
    EXPECT_EQ(SessionFlag.load(), 0);
    EXPECT_EQ(fake::log(), (Log{"hideStimulationWindow", "enableControl", "showCursor", "focusControl"}));
    fake::reset();
    fake::deviceOpens = false;
    held[0].entry(held[0].flag);
    held[1].entry(held[1].flag);
    EXPECT_EQ(fake::log(), (Log{"open", "acquireSurface", "releaseSurface"}));
    EXPECT_EQ(workersRunning(), 0);
}

TEST_F(Session, RepeatedStopAndStartWhileRunningAreIgnored)
{
    fake::holdThreads = true;
    stopSession(); // nothing runs yet
    EXPECT_TRUE(fake::log().empty());
    ASSERT_TRUE(startSession());
    EXPECT_FALSE(startSession()); // a second click cannot reach a disabled window, but if it did
    stopSession();
    const std::size_t calls = fake::log().size();
    stopSession(); // the key repeats after the window is gone
    EXPECT_EQ(fake::log().size(), calls);
}

TEST_F(Session, ValuesOutsideTheRangesNeverReachTheSettings)
{
    fake::holdThreads = true;
    struct Case {
        fake::Controls controls;
        StimulationSettings expected;
    };
    const Case cases[] = {
        {{0, -1, -1}, {780, SoundBinaural, VisualStrobe}},
        {{5001, 4, 2}, {780, SoundBinaural, VisualStrobe}},
        {{10, 0, 0}, {10, SoundNone, VisualNone}},
        {{5000, 3, 1}, {5000, SoundNoise, VisualStrobe}},
    };
    for (const Case& c : cases) {
        gStimulationSettings = StimulationSettings{};
        fake::controls = c.controls;
        ASSERT_TRUE(startSession());
        EXPECT_EQ(gStimulationSettings.frequency, c.expected.frequency);
        EXPECT_EQ(gStimulationSettings.soundMode, c.expected.soundMode);
        EXPECT_EQ(gStimulationSettings.visualMode, c.expected.visualMode);
        stopSession();
        for (const fake::HeldThread& t : fake::takeHeldThreads())
            t.entry(t.flag);
    }
}

// A new Start waits until the last session's workers have ended: the device is never
// open twice and the second session's threads start only after both old ones are done.
TEST_F(Session, NewStartWaitsForTheOldWorkers)
{
    fake::onWait = [](int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a block playing
        return true;
    };
    ASSERT_TRUE(startSession());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    stopSession();
    ASSERT_TRUE(startSession());
    stopSession();
    ASSERT_TRUE(waitForWorkers(5000));

    const Log log = fake::log();
    const auto secondStart = std::find(std::find(log.begin(), log.end(), "disableControl"), log.end(), "startThread");
    ASSERT_NE(secondStart, log.end());
    EXPECT_EQ(std::count(log.begin(), secondStart, "close"), 1);
    EXPECT_EQ(std::count(log.begin(), secondStart, "releaseSurface"), 1);
    EXPECT_EQ(fake::mostDevicesOpen, 1);
}

TEST_F(Session, RapidStartStopCyclesNeverOverlap)
{
    fake::onWait = [](int) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return true;
    };
    for (int i = 0; i < 200; ++i) {
        fake::controls.sound = i % 4;
        fake::controls.visual = i % 2;
        ASSERT_TRUE(startSession()) << i;
        stopSession();
    }
    ASSERT_TRUE(finishWorkers(5000));
    EXPECT_EQ(fake::mostDevicesOpen, 1);
    EXPECT_EQ(fake::devicesOpenNow, 0);
    const Log log = fake::log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "open"), 200);
    EXPECT_EQ(std::count(log.begin(), log.end(), "releaseSurface"), 200);
}

TEST_F(Session, FinishWorkersStopsARunningSession)
{
    ASSERT_TRUE(startSession());
    EXPECT_TRUE(finishWorkers(5000));
    EXPECT_EQ(workersRunning(), 0);
    EXPECT_EQ(SessionFlag.load(), 0);
}

} // namespace
