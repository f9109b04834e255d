#include <gtest/gtest.h>

#include <thread>

#include "settings/settings.h"
#include "tests/fakes/fake_seams.h"
#include "visual/strobe_worker.h"

namespace {

// Sessions one after the other, the timer ticked by hand while the worker polls the flag
// on its own thread: each session starts at tick 0 with its own frequency's curve; a
// platform that counts ticks by the clock jumps ahead and counts on from there; the timer
// stops once the flag drops; visual none starts no timer and shows nothing.
TEST(StrobeWorker, EachSessionTicksItsOwnCurve)
{
    const struct {
        std::uint32_t frequency;
        VisualMode visual;
        std::uint32_t ticksBeforeJump, jumpTo; // then one more tick
        std::vector<int> levels;
        std::uint32_t counted;
    } cases[] = {
        {780, VisualStrobe, 8, 32, {0, 0, 2, 5, 9, 14, 21, 28, 254, 253}, 34}, // 64 ticks a cycle
        {5000, VisualStrobe, 4, 20, {0, 24, 87, 166, 0, 24}, 22},              // 10 ticks a cycle
        {780, VisualNone, 0, 0, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frequency);
        fake::reset();
        gStimulationSettings = {c.frequency, SoundNone, c.visual};
        SessionFlagType flag{1};
        std::thread worker(StrobeWorker, &flag);
        if (c.visual == VisualStrobe) {
            EXPECT_TRUE(fake::eventually([] { return !fake::log().empty(); })); // the timer started
            for (std::uint32_t i = 0; i < c.ticksBeforeJump; ++i)
                strobeTick();
            strobeTickAt(c.jumpTo);
            strobeTick();
        }
        flag.store(0);
        wakeStrobeWorker();
        worker.join();
        EXPECT_EQ(fake::filledLevels(), c.levels);
        EXPECT_EQ(fake::log(), (c.visual == VisualStrobe ? std::vector<std::string>{"timerStart", "timerStop"}
                                                          : std::vector<std::string>{}));
        EXPECT_EQ(tickCounter, c.counted);
    }
}

} // namespace
