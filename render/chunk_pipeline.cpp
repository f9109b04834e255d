#include "render/chunk_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr std::uint64_t kEmpty = std::numeric_limits<std::uint64_t>::max();

class Ring {
public:
    Ring(const ChunkPipelineShape& shape, const ChunkCompute& compute)
        : shape_(shape), compute_(compute), buffers_(shape.slots), holds_(shape.slots, kEmpty)
    {
        for (auto& b : buffers_)
            b = std::make_unique<std::int16_t[]>(shape.chunkSamples);
    }

    std::int16_t* buffer(std::uint64_t chunk) { return buffers_[slotOf(chunk)].get(); }

    // A computing thread: takes the next chunk whose slot is free, until none is left.
    void computeLoop()
    {
        for (;;) {
            std::uint64_t chunk = 0;
            {
                std::unique_lock lock(mutex_);
                freed_.wait(lock, [&] { return ended_ || next_ >= shape_.chunks || next_ < handedOver_ + shape_.slots; });
                if (ended_ || next_ >= shape_.chunks)
                    return;
                chunk = next_++;
            }
            compute_(chunk, buffer(chunk));
            {
                std::lock_guard lock(mutex_);
                holds_[slotOf(chunk)] = chunk;
            }
            computed_.notify_one();
        }
    }

    void waitComputed(std::uint64_t chunk)
    {
        std::unique_lock lock(mutex_);
        computed_.wait(lock, [&] { return holds_[slotOf(chunk)] == chunk; });
    }

    void handedOver(std::uint64_t chunk)
    {
        {
            std::lock_guard lock(mutex_);
            holds_[slotOf(chunk)] = kEmpty;
            handedOver_ = chunk + 1;
        }
        freed_.notify_all();
    }

    // No more chunks are taken; those being computed are finished.
    void end()
    {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        freed_.notify_all();
    }

private:
    std::size_t slotOf(std::uint64_t chunk) const { return static_cast<std::size_t>(chunk % shape_.slots); }

    const ChunkPipelineShape& shape_;
    const ChunkCompute& compute_;
    std::vector<std::unique_ptr<std::int16_t[]>> buffers_;
    std::mutex mutex_;
    std::condition_variable freed_, computed_;
    std::vector<std::uint64_t> holds_; // the chunk each slot holds computed, or kEmpty
    std::uint64_t next_ = 0;           // the next chunk to take
    std::uint64_t handedOver_ = 0;     // chunks handed over so far
    bool ended_ = false;
};

} // namespace

bool runChunkPipeline(const ChunkPipelineShape& requested, const ChunkCompute& compute, const ChunkConsume& consume,
                      const std::atomic<bool>& stop)
{
    ChunkPipelineShape shape = requested;
    shape.slots = std::max(shape.slots, 2u);
    shape.threads = std::max(shape.threads, 1u);
    Ring ring(shape, compute);

    std::vector<std::thread> threads;
    // Whichever way this function is left, the computing threads are stopped and waited for.
    struct Joiner {
        Ring& ring;
        std::vector<std::thread>& threads;
        ~Joiner()
        {
            ring.end();
            for (std::thread& t : threads)
                t.join();
        }
    } joiner{ring, threads};
    threads.reserve(shape.threads);
    for (unsigned i = 0; i < shape.threads && i < shape.chunks; ++i) {
        try {
            threads.emplace_back(&Ring::computeLoop, &ring);
        } catch (const std::system_error&) {
            break; // fewer threads, the same chunks
        }
    }

    for (std::uint64_t chunk = 0; chunk < shape.chunks; ++chunk) {
        if (threads.empty())
            compute(chunk, ring.buffer(chunk));
        else
            ring.waitComputed(chunk);
        if (stop.load() || !consume(chunk, ring.buffer(chunk)))
            return false;
        ring.handedOver(chunk);
    }
    return true;
}
