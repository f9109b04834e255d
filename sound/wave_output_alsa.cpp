// The wave output seam over ALSA's "default" PCM.
//
// The PCM is opened non-blocking so that no call into it can stall the audio worker:
// every wait is a poll bounded by the caller's timeout. One period is one block and the
// ring holds two, so the device plays one block while the worker computes the other.
// A block counts as played once the device's read position has passed its last frame.
#include "sound/wave_output.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdint>

#include "sound/block_synth.h"

namespace {

constexpr int kMaxQueued = 2;

snd_pcm_t* gPcm = nullptr;
SampleBlock* gBlocks = nullptr;
snd_pcm_uframes_t gBufferFrames = 0;

// Blocks handed to queue() and not yet reported as played, oldest first. Each is
// written to the ring as room appears; `written` counts its frames already there.
struct QueuedBlock {
    int index;
    std::uint32_t written;
};
QueuedBlock gQueue[kMaxQueued];
int gQueued = 0;

// Frames written to the ring since open, and frames of those the device has consumed.
std::uint64_t gFramesWritten = 0;
std::uint64_t gFramesPlayed = 0;
// Frames of gQueue[0..] that precede the oldest queued block in gFramesWritten terms:
// the frame count at which the oldest queued block ends.
std::uint64_t gOldestEnd = 0;

// Notifications owed to the worker that it has not yet collected.
bool gOpenNotified = false;
bool gFailed = false;

bool recoverFrom(int err)
{
    // An underrun or a suspend: everything written has been played or is lost, the ring
    // is empty again and the stream restarts once there is data to play.
    if (snd_pcm_recover(gPcm, err, 1) < 0) {
        gFailed = true;
        return false;
    }
    return true;
}

// Brings the count of consumed frames up to date from the ring's free space.
bool updatePlayed()
{
    snd_pcm_sframes_t avail = snd_pcm_avail(gPcm);
    if (avail < 0) {
        if (!recoverFrom(static_cast<int>(avail)))
            return false;
        avail = snd_pcm_avail(gPcm);
        if (avail < 0) {
            gFailed = true;
            return false;
        }
    }
    const auto room = static_cast<std::uint64_t>(avail);
    const std::uint64_t inRing = room >= gBufferFrames ? 0 : gBufferFrames - room;
    const std::uint64_t played = gFramesWritten > inRing ? gFramesWritten - inRing : 0;
    if (played > gFramesPlayed)
        gFramesPlayed = played;
    return true;
}

// Writes as much of the queued blocks as the ring takes now, without waiting.
bool writePending()
{
    for (int q = 0; q < gQueued; ++q) {
        QueuedBlock& b = gQueue[q];
        while (b.written < kBlockFrames) {
            const std::int16_t* from = gBlocks[b.index].samples + 2 * b.written;
            const snd_pcm_sframes_t n = snd_pcm_writei(gPcm, from, kBlockFrames - b.written);
            if (n == -EAGAIN || n == 0)
                return true; // the ring is full
            if (n < 0) {
                if (!recoverFrom(static_cast<int>(n)))
                    return false;
                continue;
            }
            b.written += static_cast<std::uint32_t>(n);
            gFramesWritten += static_cast<std::uint64_t>(n);
        }
    }
    return true;
}

// After an underrun the stream waits in the prepared state: start it once it has data.
bool startIfIdle()
{
    if (snd_pcm_state(gPcm) != SND_PCM_STATE_PREPARED || gFramesWritten == gFramesPlayed)
        return true;
    const int err = snd_pcm_start(gPcm);
    if (err < 0 && !recoverFrom(err))
        return false;
    return true;
}

bool setUp(snd_pcm_t* pcm)
{
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    if (snd_pcm_hw_params_any(pcm, hw) < 0)
        return false;
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, 2) < 0)
        return false;
    // Resampling in ALSA would change the samples; the rate must be exactly ours.
    if (snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, kSampleRate, 0) < 0)
        return false;
    snd_pcm_uframes_t period = kBlockFrames;
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
    snd_pcm_uframes_t buffer = 2 * kBlockFrames;
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if (snd_pcm_hw_params(pcm, hw) < 0)
        return false;
    // The device may grant other sizes; what matters below is the ring it really has.
    if (snd_pcm_hw_params_get_buffer_size(hw, &buffer) < 0 || buffer == 0)
        return false;
    gBufferFrames = buffer;

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_sw_params_current(pcm, sw) < 0)
        return false;
    // Playback starts when wait() finds data in the ring, so both blocks are in before
    // the first frame sounds and the start is clean.
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw, &boundary);
    snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary);
    snd_pcm_sw_params_set_avail_min(pcm, sw, period);
    return snd_pcm_sw_params(pcm, sw) >= 0;
}

} // namespace

bool waveOutputOpen(SampleBlock* blocks)
{
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    if (!setUp(pcm) || snd_pcm_prepare(pcm) < 0) {
        snd_pcm_close(pcm);
        return false;
    }
    gPcm = pcm;
    gBlocks = blocks;
    gQueued = 0;
    gFramesWritten = 0;
    gFramesPlayed = 0;
    gOldestEnd = 0;
    gOpenNotified = false;
    gFailed = false;
    return true;
}

void waveOutputQueue(int index)
{
    if (gQueued == kMaxQueued)
        return; // the worker never queues a third block; refuse rather than overwrite
    gQueue[gQueued++] = QueuedBlock{index, 0};
    if (gQueued == 1)
        gOldestEnd = gFramesWritten + kBlockFrames;
    if (!gFailed)
        writePending();
}

bool waveOutputWait(std::uint32_t timeoutMs)
{
    if (!gOpenNotified) {
        gOpenNotified = true;
        return true;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!gFailed) {
        if (!writePending() || !startIfIdle() || !updatePlayed())
            return false;
        if (gQueued > 0 && gQueue[0].written == kBlockFrames && gFramesPlayed >= gOldestEnd) {
            for (int q = 1; q < gQueued; ++q)
                gQueue[q - 1] = gQueue[q];
            --gQueued;
            gOldestEnd += kBlockFrames;
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        const int err = snd_pcm_wait(gPcm, static_cast<int>(left));
        if (err < 0 && !recoverFrom(err))
            return false;
    }
    return false;
}

void waveOutputReset()
{
    if (gPcm == nullptr)
        return;
    snd_pcm_drop(gPcm);
    gQueued = 0;
}

void waveOutputClose()
{
    if (gPcm == nullptr)
        return;
    snd_pcm_close(gPcm);
    gPcm = nullptr;
    gBlocks = nullptr;
}
