#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "render/chunk_pipeline.h"

namespace {

// What chunk `chunk` holds at `i`: tells every chunk and every place apart.
std::int16_t pattern(std::uint64_t chunk, std::size_t i) { return static_cast<std::int16_t>(chunk * 131 + i * 7); }

// Every chunk handed over once, in order, with its own contents, on the calling thread
// only; never more buffers or chunks computed ahead than the ring holds; the work spread
// over threads. Chunks take varying times, so later ones often finish first.
TEST(ChunkPipeline, EveryChunkInOrderWithinTheRing)
{
    const struct {
        std::uint64_t chunks;
        unsigned threads, slots;
    } shapes[] = {{0, 2, 4}, {1, 2, 4}, {5, 1, 2}, {7, 3, 3}, {40, 2, 8}, {40, 8, 2}, {100, 4, 16}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(testing::Message() << shape.chunks << " chunks, " << shape.threads << " threads");
        const ChunkPipelineShape s{shape.chunks, 64, shape.threads, shape.slots};
        const bool spread = shape.chunks >= 40 && shape.threads > 1;
        std::mutex mutex;
        std::condition_variable newComputer;
        std::set<std::thread::id> computers;
        std::set<const std::int16_t*> buffers;
        std::vector<std::uint64_t> consumed;
        bool waitedForSecond = false, contentsRight = true;
        int ahead = 0, mostAhead = 0; // computed and not yet consumed
        const ChunkCompute compute = [&](std::uint64_t chunk, std::int16_t* out) {
            {
                // Where the work must be spread, the first thread to compute waits for a
                // second: where threads start slowly (under Wine) one could otherwise
                // take every chunk before another began. A pipeline that computes on
                // one thread at a time never brings a second, and the bound runs out.
                std::unique_lock lock(mutex);
                computers.insert(std::this_thread::get_id());
                newComputer.notify_all();
                if (spread && !std::exchange(waitedForSecond, true))
                    newComputer.wait_for(lock, std::chrono::seconds(5), [&] { return computers.size() >= 2; });
            }
            for (std::size_t i = 0; i < s.chunkSamples; ++i)
                out[i] = pattern(chunk, i);
            std::this_thread::sleep_for(std::chrono::microseconds((chunk * 37) % 5 * 100));
            std::lock_guard lock(mutex);
            mostAhead = std::max(mostAhead, ++ahead);
        };
        const ChunkConsume consume = [&](std::uint64_t chunk, const std::int16_t* samples) {
            std::lock_guard lock(mutex);
            --ahead;
            consumed.push_back(chunk);
            buffers.insert(samples);
            for (std::size_t i = 0; i < s.chunkSamples; ++i)
                contentsRight = contentsRight && samples[i] == pattern(chunk, i);
            return true;
        };
        const std::atomic<bool> stop{false};
        EXPECT_TRUE(runChunkPipeline(s, compute, consume, stop));
        std::vector<std::uint64_t> inOrder;
        for (std::uint64_t i = 0; i < shape.chunks; ++i)
            inOrder.push_back(i);
        EXPECT_EQ(consumed, inOrder);
        EXPECT_TRUE(contentsRight);
        EXPECT_LE(buffers.size(), shape.slots);
        EXPECT_LE(mostAhead, static_cast<int>(shape.slots));
        EXPECT_LE(computers.size(), shape.threads);
        EXPECT_TRUE(!spread || computers.size() >= 2) << "the work is not spread over threads";
        EXPECT_EQ(computers.count(std::this_thread::get_id()), 0u) << "the calling thread computed";
    }
}

// A consumer that refuses a chunk, or a stop raised while it takes one (or before the
// first, last -1), ends the run: nothing handed over after it, and the computing threads
// stop within a ring's worth.
TEST(ChunkPipeline, EndsEarlyWhenConsumeRefusesOrStopIsRaised)
{
    const struct {
        bool byStop;
        int last;
    } cases[] = {{false, 0}, {false, 3}, {false, 20}, {true, -1}, {true, 0}, {true, 3}, {true, 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "by stop " << c.byStop << ", last " << c.last);
        const ChunkPipelineShape s{1000, 16, 2, 4};
        std::atomic<std::uint64_t> computed{0};
        std::atomic<bool> stop{c.last < 0};
        std::vector<std::uint64_t> consumed;
        const ChunkCompute compute = [&](std::uint64_t, std::int16_t* out) {
            out[0] = 1;
            ++computed;
        };
        const ChunkConsume consume = [&](std::uint64_t chunk, const std::int16_t*) {
            consumed.push_back(chunk);
            const bool last = static_cast<int>(chunk) == c.last;
            if (last && c.byStop)
                stop.store(true);
            return c.byStop || !last;
        };
        EXPECT_FALSE(runChunkPipeline(s, compute, consume, stop));
        EXPECT_EQ(consumed.size(), static_cast<std::size_t>(c.last + 1));
        EXPECT_TRUE(consumed.empty() || static_cast<int>(consumed.back()) == c.last);
        EXPECT_LE(computed.load(), static_cast<std::uint64_t>(c.last + 1) + s.slots);
    }
}

} // namespace
