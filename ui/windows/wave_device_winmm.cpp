// The wave device verbs over winmm's wave mapper (the device thread's loop that calls
// them is sound/device_thread.cpp, which runs every device call on a thread of its own:
// under Wine a frozen sound server holds waveOutOpen, waveOutReset and waveOutClose).
//
// The device signals an auto-reset event (CALLBACK_EVENT) once when it has opened and
// once per played block; the thread waits on it and on a second one that the worker sets
// when it hands a block over or asks to stop. A block counts as played once its header
// says done, so two blocks finished before one wait both count.
#include "sound/wave_device.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "sound/block_synth.h"

namespace {

constexpr UINT kHeaderSize = sizeof(WAVEHDR);

// Per slot, kept for reuse: the device's event, the worker's event, and the headers over
// the slot's copies of the blocks, which the device reads while it plays.
HANDLE gBlockDone[kDeviceSlots] = {};
HANDLE gAsked[kDeviceSlots] = {};
WAVEHDR gHeaders[kDeviceSlots][kMaxQueuedBlocks] = {};

// One open device, as the device thread sees it.
struct Stream {
    HWAVEOUT out = nullptr;
    std::uint64_t written = 0;          // blocks written to the device
    std::uint64_t done = 0;             // of those, finished
    int order[kMaxQueuedBlocks] {};     // the header of each of the last blocks written
};

Stream gStreams[kDeviceSlots];

// Whether the device has finished the header: the flag is set by the sound system's
// thread before it signals the event this thread waits on.
bool headerDone(const WAVEHDR& h)
{
    return (static_cast<const volatile DWORD&>(h.dwFlags) & WHDR_DONE) != 0;
}

} // namespace

bool waveDevicePrepare(int slot)
{
    // Auto-reset, unnamed, not signalled.
    if (gBlockDone[slot] == nullptr)
        gBlockDone[slot] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (gAsked[slot] == nullptr)
        gAsked[slot] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return gBlockDone[slot] != nullptr && gAsked[slot] != nullptr;
}

void waveDeviceForget(int slot)
{
    ResetEvent(gBlockDone[slot]);
    ResetEvent(gAsked[slot]);
}

void waveDeviceAsk(int slot)
{
    SetEvent(gAsked[slot]);
}

void waveDeviceAwaitAsk(int slot)
{
    WaitForSingleObject(gAsked[slot], INFINITE);
}

bool waveDeviceOpen(int slot, SampleBlock* copies)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = kSampleRate;
    format.nAvgBytesPerSec = kSampleRate * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    Stream& st = gStreams[slot];
    st = Stream{};
    if (waveOutOpen(&st.out, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(gBlockDone[slot]),
                    0, CALLBACK_EVENT) != MMSYSERR_NOERROR)
        return false;
    for (int k = 0; k < kMaxQueuedBlocks; ++k) {
        WAVEHDR& h = gHeaders[slot][k];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(copies[k].samples);
        h.dwBufferLength = kBlockBytes;
        h.dwLoops = 1;
        waveOutPrepareHeader(st.out, &h, kHeaderSize);
    }
    return true;
}

// The device queues every block it is given.
BlockWrite waveDeviceWrite(int slot, int copy)
{
    Stream& st = gStreams[slot];
    if (waveOutWrite(st.out, &gHeaders[slot][copy], kHeaderSize) != MMSYSERR_NOERROR)
        return BlockWrite::Failed;
    st.order[st.written % kMaxQueuedBlocks] = copy;
    ++st.written;
    return BlockWrite::Taken;
}

bool waveDevicePlayed(int slot, std::uint64_t* played)
{
    Stream& st = gStreams[slot];
    // Blocks finish in the order they were written.
    while (st.done < st.written &&
           headerDone(gHeaders[slot][st.order[st.done % kMaxQueuedBlocks]]))
        ++st.done;
    *played = st.done;
    return true;
}

// The device's event comes with every played block; nothing is ever left unwritten.
bool waveDeviceWait(int slot, bool)
{
    const HANDLE events[2] = {gBlockDone[slot], gAsked[slot]};
    return WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_FAILED;
}

void waveDeviceReset(int slot)
{
    waveOutReset(gStreams[slot].out);
}

void waveDeviceClose(int slot)
{
    const HWAVEOUT out = gStreams[slot].out;
    for (int k = 0; k < kMaxQueuedBlocks; ++k)
        waveOutUnprepareHeader(out, &gHeaders[slot][k], kHeaderSize);
    waveOutClose(out);
    gStreams[slot].out = nullptr;
}
