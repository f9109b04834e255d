// The wave device verbs over ALSA's "default" PCM (the device thread's loop that calls
// them is sound/device_thread.cpp, which runs every device call on a thread of its own).
//
// One period is one block and the ring is asked for two (PulseAudio grants three), so the
// device plays one block while the worker computes the other. A block counts as played
// once the device's delay says its last frame has been heard. Playback starts only once
// the worker has handed over both blocks, so the first block never runs dry; an underrun
// (a refill that came too late) only leaves a gap, and the stream plays on.
//
// The stream is started by the write that fills it to its start threshold, never by an
// explicit snd_pcm_start: PipeWire, through its own ALSA plugin and through its PulseAudio
// layer, dropped the first quantum (256 frames at 44.1 kHz) of a stream started
// explicitly once its blocks were in, while a stream started by its write, as aplay
// starts one, keeps every frame.
#include "sound/wave_device.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "sound/block_synth.h"

namespace {

// How soon a block the ring had no room for is offered again.
constexpr int kRetryWriteMs = 5;

// Per slot, an eventfd: the worker asks for something. Kept for reuse.
int gWakeFd[kDeviceSlots] = {-1, -1};

bool configure(snd_pcm_t* pcm, snd_pcm_uframes_t& bufferFrames)
{
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, 2) < 0 ||
        snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, kSampleRate, 0) < 0)
        return false;
    snd_pcm_uframes_t period = kBlockFrames;
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
    snd_pcm_uframes_t buffer = 2 * kBlockFrames;
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if (snd_pcm_hw_params(pcm, hw) < 0)
        return false;
    // Devices grant other sizes (PulseAudio gives three periods): what counts below is
    // the ring the device really has.
    if (snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames) < 0 || bufferFrames == 0)
        return false;

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_uframes_t boundary = 0;
    if (snd_pcm_sw_params_current(pcm, sw) < 0 ||
        snd_pcm_sw_params_get_boundary(sw, &boundary) < 0)
        return false;
    // The write that completes the second block starts the stream, or the one that fills
    // a ring too small for two.
    const snd_pcm_uframes_t both = 2 * kBlockFrames;
    snd_pcm_sw_params_set_start_threshold(pcm, sw, both < bufferFrames ? both : bufferFrames);
    return snd_pcm_sw_params(pcm, sw) >= 0;
}

// Once the stream has played, the write after an underrun starts it again at once: the
// frames it brings are due already.
bool startOnAnyWrite(snd_pcm_t* pcm)
{
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    return snd_pcm_sw_params_current(pcm, sw) >= 0 &&
           snd_pcm_sw_params_set_start_threshold(pcm, sw, 1) >= 0 &&
           snd_pcm_sw_params(pcm, sw) >= 0;
}

// One open stream, as the device thread sees it.
struct Stream {
    snd_pcm_t* pcm = nullptr;
    const SampleBlock* copies = nullptr;
    std::uint64_t written = 0; // frames written to the ring since open
    std::uint64_t heard = 0;   // frames of those the device has played
    bool started = false;      // the stream has played
};

// Per slot: the stream of its device.
Stream gStreams[kDeviceSlots];

// An underrun or a suspend: what was in the ring has played or is lost, and the stream
// waits prepared for new data. A late refill thus only leaves a gap.
bool recover(Stream& st, int err)
{
    if (snd_pcm_recover(st.pcm, err, 1) < 0)
        return false;
    st.heard = st.written;
    return true;
}

// Brings the count of frames the device has played up to date: everything written but
// the delay, which is what the device still has to play before a frame written now.
// The ring's free room would be no measure: PulseAudio frees it in lumps, as the server
// asks for more.
bool measure(Stream& st)
{
    switch (snd_pcm_state(st.pcm)) {
    case SND_PCM_STATE_PREPARED:
        // Not playing yet, or not again since an underrun: nothing more has been heard,
        // and PulseAudio has no delay to tell before the stream runs.
        return true;
    case SND_PCM_STATE_XRUN:
        return recover(st, -EPIPE);
    case SND_PCM_STATE_SUSPENDED:
        return recover(st, -ESTRPIPE);
    default:
        break;
    }
    snd_pcm_sframes_t delay = 0;
    const int err = snd_pcm_delay(st.pcm, &delay);
    if (err == -EPIPE || err == -ESTRPIPE)
        return recover(st, err);
    if (err < 0)
        // For a moment after a stream starts, PulseAudio may have no timing to tell yet
        // (EIO): look again shortly. A device that is really gone shows as disconnected,
        // and one that stays silent is given up by the worker's bounded wait.
        return snd_pcm_state(st.pcm) != SND_PCM_STATE_DISCONNECTED;
    const std::uint64_t pending = delay > 0 ? static_cast<std::uint64_t>(delay) : 0;
    const std::uint64_t played = st.written > pending ? st.written - pending : 0;
    if (played > st.heard)
        st.heard = played;
    return true;
}

// Sleeps until the worker asks for something or, when `timeoutMs` is not negative,
// until that time has passed.
void sleepUntilAsked(int slot, int timeoutMs)
{
    pollfd fd{gWakeFd[slot], POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) > 0) {
        std::uint64_t asked;
        [[maybe_unused]] const ssize_t n = read(gWakeFd[slot], &asked, sizeof asked);
    }
}

// Milliseconds until the block the device is playing should be taken, rounded up and a
// little over, so the next look finds it done; -1 when nothing is playing.
int msUntilBlockEnd(const Stream& st)
{
    std::uint64_t end = (st.heard / kBlockFrames + 1) * kBlockFrames;
    if (end > st.written)
        end = st.written;
    if (end <= st.heard)
        return -1;
    return static_cast<int>((end - st.heard) * 1000 / kSampleRate) + 2;
}

} // namespace

bool waveDevicePrepare(int slot)
{
    if (gWakeFd[slot] < 0)
        gWakeFd[slot] = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return gWakeFd[slot] >= 0;
}

void waveDeviceForget(int slot)
{
    std::uint64_t stale;
    [[maybe_unused]] const ssize_t n = read(gWakeFd[slot], &stale, sizeof stale);
}

void waveDeviceAsk(int slot)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(gWakeFd[slot], &one, sizeof one);
}

void waveDeviceAwaitAsk(int slot)
{
    sleepUntilAsked(slot, -1);
}

bool waveDeviceOpen(int slot, SampleBlock* copies)
{
    snd_pcm_t* pcm = nullptr;
    snd_pcm_uframes_t bufferFrames = 0;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    if (!configure(pcm, bufferFrames) || snd_pcm_prepare(pcm) < 0) {
        snd_pcm_close(pcm);
        return false;
    }
    Stream& st = gStreams[slot];
    st = Stream{};
    st.pcm = pcm;
    st.copies = copies;
    return true;
}

// Writes what the ring takes now of the block, from where the last write left it,
// without waiting.
BlockWrite waveDeviceWrite(int slot, int copy)
{
    Stream& st = gStreams[slot];
    for (;;) {
        const auto offset = static_cast<std::uint32_t>(st.written % kBlockFrames);
        const std::int16_t* from = st.copies[copy].samples + 2 * offset;
        const snd_pcm_sframes_t n = snd_pcm_writei(st.pcm, from, kBlockFrames - offset);
        if (n == -EAGAIN || n == 0)
            return BlockWrite::Full;
        if (n < 0) {
            if (!recover(st, static_cast<int>(n)))
                return BlockWrite::Failed;
            continue;
        }
        st.written += static_cast<std::uint64_t>(n);
        if (st.written % kBlockFrames == 0)
            return BlockWrite::Taken;
    }
}

// A block is played once the device has taken its last frame.
bool waveDevicePlayed(int slot, std::uint64_t* played)
{
    Stream& st = gStreams[slot];
    if (!st.started && snd_pcm_state(st.pcm) != SND_PCM_STATE_PREPARED) {
        st.started = true;
        if (!startOnAnyWrite(st.pcm))
            return false;
    }
    if (!measure(st))
        return false;
    *played = st.heard / kBlockFrames;
    return true;
}

// The PCM's own descriptors are no help here: with PulseAudio the ring holds three
// blocks, so it always has a block's room while two are queued. The thread sleeps until
// the block playing should be done instead. PulseAudio makes room in the ring only when
// its server asks for more, which can come after the ring has run empty; a block the
// ring did not take yet is offered again shortly rather than left waiting for news that
// never comes.
bool waveDeviceWait(int slot, bool blockWaiting)
{
    const Stream& st = gStreams[slot];
    int sleepMs = st.started ? msUntilBlockEnd(st) : -1;
    if (blockWaiting && (sleepMs < 0 || sleepMs > kRetryWriteMs))
        sleepMs = kRetryWriteMs;
    sleepUntilAsked(slot, sleepMs);
    return true;
}

void waveDeviceReset(int slot)
{
    snd_pcm_drop(gStreams[slot].pcm);
}

void waveDeviceClose(int slot)
{
    snd_pcm_close(gStreams[slot].pcm);
    gStreams[slot].pcm = nullptr;
}
