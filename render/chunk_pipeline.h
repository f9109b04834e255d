#pragma once
// Chunks computed on several threads at once and handed, in order, to the calling
// thread, which writes them while the next are being computed. The chunks live in a
// fixed ring of buffers: a thread takes chunk i only once chunk i - slots has been
// handed over, so memory stays the same however many chunks there are.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

struct ChunkPipelineShape {
    std::uint64_t chunks = 0;      // numbered from 0
    std::size_t chunkSamples = 0;  // the size of each buffer
    unsigned threads = 1;          // computing threads (the calling thread only hands over)
    unsigned slots = 2;            // buffers in the ring, at least 2
};

// Fills a chunk's buffer.
using ChunkCompute = std::function<void(std::uint64_t chunk, std::int16_t* samples)>;
// Takes a computed chunk; false ends the pipeline early.
using ChunkConsume = std::function<bool(std::uint64_t chunk, const std::int16_t* samples)>;

// Runs every chunk through `compute` and then `consume`, the consumes in chunk order on
// the calling thread. Returns true when every chunk was consumed; false when `consume`
// refused one or `stop` was raised (checked before each). Every computing thread has
// ended when it returns. Throws std::bad_alloc when the buffers cannot be had; with no
// thread to be had, the calling thread computes the chunks itself.
bool runChunkPipeline(const ChunkPipelineShape& shape, const ChunkCompute& compute, const ChunkConsume& consume,
                      const std::atomic<bool>& stop);
