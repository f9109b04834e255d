// The device thread of the wave output over winmm's wave mapper (the worker's side is
// sound/device_thread_output.cpp, which says why every device call runs on a thread of
// its own: under Wine a frozen sound server holds waveOutOpen, waveOutReset and
// waveOutClose).
//
// The device signals an auto-reset event (CALLBACK_EVENT) once when it has opened and
// once per played block; the thread waits on it and on a second one that the worker sets
// when it hands a block over or asks to stop. A block counts as played once its header
// says done, so two blocks finished before one wait both count.
#include "sound/device_thread_output.h"

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

bool openDevice(int slot, HWAVEOUT* out)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = kSampleRate;
    format.nAvgBytesPerSec = kSampleRate * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    if (waveOutOpen(out, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(gBlockDone[slot]), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR)
        return false;
    for (int k = 0; k < kMaxQueuedBlocks; ++k) {
        WAVEHDR& h = gHeaders[slot][k];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(deviceSlot(slot).copies[k].samples);
        h.dwBufferLength = kBlockBytes;
        h.dwLoops = 1;
        waveOutPrepareHeader(*out, &h, kHeaderSize);
    }
    return true;
}

// Whether the device has finished the header: the flag is set by the sound system's
// thread before it signals the event this thread waits on.
bool headerDone(const WAVEHDR& h)
{
    return (static_cast<const volatile DWORD&>(h.dwFlags) & WHDR_DONE) != 0;
}

// Writes the blocks handed over and reports those played, until the worker asks to stop
// or the device fails.
void stream(int slot, HWAVEOUT out)
{
    std::uint64_t written = 0; // blocks written to the device
    std::uint64_t done = 0;    // of those, finished
    for (;;) {
        std::uint64_t handed;
        int handedIndex[kMaxQueuedBlocks];
        if (!takeHanded(slot, &handed, handedIndex))
            return;
        while (written < handed) {
            WAVEHDR& h = gHeaders[slot][handedIndex[written % kMaxQueuedBlocks]];
            if (waveOutWrite(out, &h, kHeaderSize) != MMSYSERR_NOERROR)
                return;
            ++written;
        }
        // Blocks finish in the order they were written.
        while (done < written &&
               headerDone(gHeaders[slot][handedIndex[done % kMaxQueuedBlocks]]))
            ++done;
        reportPlayed(slot, done);
        const HANDLE events[2] = {gBlockDone[slot], gAsked[slot]};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_FAILED)
            return;
    }
}

} // namespace

void deviceThread(int slot)
{
    HWAVEOUT out = nullptr;
    const bool ok = awaitDeviceRelease(slot) && openDevice(slot, &out);
    reportDeviceOpened(slot, ok);
    if (!ok)
        return;

    stream(slot, out);
    // Either the worker asked to stop, or the device failed: tell the worker (its waits
    // end at once) and cut the output.
    reportStreamEnded(slot);
    waveOutReset(out);
    reportStopped(slot);
    // Wait for close without a bound: the worker always asks for it, and an abandoned
    // slot is already marked closing.
    while (!closeWanted(slot))
        WaitForSingleObject(gAsked[slot], INFINITE);
    for (int k = 0; k < kMaxQueuedBlocks; ++k)
        waveOutUnprepareHeader(out, &gHeaders[slot][k], kHeaderSize);
    waveOutClose(out);
    reportClosed(slot);
}

bool deviceSlotPrepare(int slot)
{
    // Auto-reset, unnamed, not signalled.
    if (gBlockDone[slot] == nullptr)
        gBlockDone[slot] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (gAsked[slot] == nullptr)
        gAsked[slot] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return gBlockDone[slot] != nullptr && gAsked[slot] != nullptr;
}

void deviceSlotForget(int slot)
{
    ResetEvent(gBlockDone[slot]);
    ResetEvent(gAsked[slot]);
}

void deviceSlotAsk(int slot)
{
    SetEvent(gAsked[slot]);
}
