#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings.h"
#include "tests/fakes/fake_seams.h"
#include "visual/strobe_worker.h"

namespace {

using Log = std::vector<std::string>;

bool waitForLogEntry(const std::string& entry)
{
    for (int i = 0; i < 2000; ++i) {
        for (const std::string& e : fake::log())
            if (e == entry)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class Strobe : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        gStimulationSettings = StimulationSettings{};
    }
    SessionFlagType flag{1};
};

// The timer is ticked by hand while the worker polls the flag on its own thread.
TEST_F(Strobe, TicksPaintTheCurveAndTheWorkerTearsDownInOrder)
{
    std::thread worker(StrobeWorker, &flag);
    ASSERT_TRUE(waitForLogEntry("timerStart"));
    for (int i = 0; i < 8; ++i)
        strobeTick();
    strobeTickAt(32); // a platform that counts ticks by the clock jumps ahead
    strobeTick();
    flag.store(0);
    worker.join();
    EXPECT_EQ(fake::filledLevels(), (std::vector<int>{0, 0, 2, 5, 9, 14, 21, 28, 254, 253}));
    EXPECT_EQ(fake::log(), (Log{"timerStart", "timerStop"}));
    EXPECT_EQ(tickCounter, 34u);
}

TEST_F(Strobe, EachSessionStartsAtTickZeroWithItsOwnFrequency)
{
    gStimulationSettings.frequency = 5000;
    std::thread worker(StrobeWorker, &flag);
    ASSERT_TRUE(waitForLogEntry("timerStart"));
    for (int i = 0; i < 6; ++i)
        strobeTick();
    flag.store(0);
    worker.join();
    EXPECT_EQ(fake::filledLevels(), (std::vector<int>{0, 24, 87, 166, 229, 254}));
}

TEST_F(Strobe, VisualNoneStartsNoTimer)
{
    gStimulationSettings.visualMode = VisualNone;
    std::thread worker(StrobeWorker, &flag);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    flag.store(0);
    wakeStrobeWorker();
    worker.join();
    EXPECT_TRUE(fake::log().empty());
    EXPECT_TRUE(fake::filledLevels().empty());
}

} // namespace
