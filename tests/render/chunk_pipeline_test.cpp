#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "render/chunk_pipeline.h"

namespace {

// What chunk `chunk` holds at `i`: tells every chunk and every place apart.
std::int16_t pattern(std::uint64_t chunk, std::size_t i) { return static_cast<std::int16_t>(chunk * 131 + i * 7); }

struct Record {
    std::mutex mutex;
    std::vector<std::uint64_t> consumed;
    std::set<const std::int16_t*> buffers;
    std::set<std::thread::id> computers;
    std::condition_variable newComputer;
    bool waitedForSecond = false;
    std::atomic<int> computedAhead{0}; // computed and not yet consumed
    int mostAhead = 0;
    bool contentsRight = true;
};

TEST(ChunkPipeline, EveryChunkInOrderWithinTheRing)
{
    const struct {
        std::uint64_t chunks;
        unsigned threads, slots;
    } shapes[] = {{0, 2, 4}, {1, 2, 4}, {5, 1, 2}, {7, 3, 3}, {40, 2, 8}, {40, 8, 2}, {100, 4, 16}};
    for (const auto& shape : shapes) {
        ChunkPipelineShape s;
        s.chunks = shape.chunks;
        s.chunkSamples = 64;
        s.threads = shape.threads;
        s.slots = shape.slots;
        Record r;
        const bool spread = shape.chunks >= 40 && shape.threads > 1;
        const ChunkCompute compute = [&](std::uint64_t chunk, std::int16_t* out) {
            {
                // Where the work must be spread, the first thread to compute waits for a
                // second: where threads start slowly (under Wine) one could otherwise
                // take every chunk before another began. A pipeline that computes on
                // one thread at a time never brings a second, and the bound runs out.
                std::unique_lock lock(r.mutex);
                r.computers.insert(std::this_thread::get_id());
                r.newComputer.notify_all();
                if (spread && !r.waitedForSecond) {
                    r.waitedForSecond = true;
                    r.newComputer.wait_for(lock, std::chrono::seconds(5),
                                           [&] { return r.computers.size() >= 2; });
                }
            }
            for (std::size_t i = 0; i < s.chunkSamples; ++i)
                out[i] = pattern(chunk, i);
            // Chunks take varying times, so later ones often finish first.
            std::this_thread::sleep_for(std::chrono::microseconds((chunk * 37) % 5 * 100));
            std::lock_guard lock(r.mutex);
            r.mostAhead = std::max(r.mostAhead, ++r.computedAhead);
        };
        const ChunkConsume consume = [&](std::uint64_t chunk, const std::int16_t* samples) {
            std::lock_guard lock(r.mutex);
            --r.computedAhead;
            r.consumed.push_back(chunk);
            r.buffers.insert(samples);
            for (std::size_t i = 0; i < s.chunkSamples; ++i)
                r.contentsRight = r.contentsRight && samples[i] == pattern(chunk, i);
            return true;
        };
        const std::atomic<bool> stop{false};
        EXPECT_TRUE(runChunkPipeline(s, compute, consume, stop));
        std::vector<std::uint64_t> inOrder;
        for (std::uint64_t i = 0; i < shape.chunks; ++i)
            inOrder.push_back(i);
        EXPECT_EQ(r.consumed, inOrder) << shape.chunks << " chunks, " << shape.threads << " threads";
        EXPECT_TRUE(r.contentsRight);
        EXPECT_LE(r.buffers.size(), shape.slots) << "memory bounded by the ring";
        EXPECT_LE(r.mostAhead, static_cast<int>(shape.slots)) << "never more computed than the ring holds";
        EXPECT_LE(r.computers.size(), shape.threads);
        if (spread) {
            EXPECT_GE(r.computers.size(), 2u) << "the work is spread over threads";
        }
        EXPECT_EQ(r.computers.count(std::this_thread::get_id()), 0u) << "the calling thread only consumes";
    }
}

TEST(ChunkPipeline, EndsEarlyWhenConsumeRefusesOrStopIsRaised)
{
    for (bool byStop : {false, true}) {
        for (std::uint64_t last : {0u, 3u, 20u}) {
            ChunkPipelineShape s;
            s.chunks = 1000;
            s.chunkSamples = 16;
            s.threads = 2;
            s.slots = 4;
            std::atomic<std::uint64_t> computed{0};
            std::atomic<bool> stop{false};
            std::vector<std::uint64_t> consumed;
            const ChunkCompute compute = [&](std::uint64_t, std::int16_t* out) {
                out[0] = 1;
                ++computed;
            };
            const ChunkConsume consume = [&](std::uint64_t chunk, const std::int16_t*) {
                consumed.push_back(chunk);
                if (chunk == last && byStop)
                    stop.store(true);
                return byStop || chunk != last;
            };
            EXPECT_FALSE(runChunkPipeline(s, compute, consume, stop));
            // Nothing after the last chunk is handed over, and the threads stop soon:
            // at most a ring's worth computed beyond it.
            EXPECT_EQ(consumed.back(), last);
            EXPECT_EQ(consumed.size(), last + 1);
            EXPECT_LE(computed.load(), last + 1 + s.slots);
        }
    }
}

TEST(ChunkPipeline, StopRaisedBeforeTheStartHandsNothingOver)
{
    ChunkPipelineShape s;
    s.chunks = 10;
    s.chunkSamples = 8;
    const std::atomic<bool> stop{true};
    int consumed = 0;
    EXPECT_FALSE(runChunkPipeline(
        s, [](std::uint64_t, std::int16_t*) {}, [&](std::uint64_t, const std::int16_t*) { return ++consumed > 0; },
        stop));
    EXPECT_EQ(consumed, 0);
}

} // namespace
