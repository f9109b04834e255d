// The wave output seam on Windows: winmm's wave mapper, told of every finished block
// through an auto-reset event (CALLBACK_EVENT). The device signals the event once when
// it has opened and once per played block; the worker waits on it, bounded, and on a
// second event that Stop signals, so the device is reset at once.
#include "sound/wave_output.h"

#include <windows.h>
#include <mmsystem.h>

#include "sound/block_synth.h"

namespace {

// Valid from a successful open until close; touched only by the audio worker's thread.
HWAVEOUT gWaveOut = nullptr;
HANDLE gBlockDone = nullptr;
// Auto-reset, made once for the process: Stop may signal it from the UI thread at any
// moment, so it must outlive every session.
HANDLE gWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
// The device reads a block through its header while it plays, so the headers live as
// long as the process, beside the blocks.
WAVEHDR gHeaders[2];

constexpr UINT kHeaderSize = sizeof(WAVEHDR);

} // namespace

bool waveOutputOpen(SampleBlock* blocks)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = kSampleRate;
    format.nAvgBytesPerSec = kSampleRate * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;

    for (int k = 0; k < 2; ++k) {
        gHeaders[k] = WAVEHDR{};
        gHeaders[k].lpData = reinterpret_cast<LPSTR>(blocks[k].samples);
        gHeaders[k].dwBufferLength = kBlockBytes;
        gHeaders[k].dwLoops = 1;
    }

    // Auto-reset, unnamed, not signalled: each wait consumes exactly one notification.
    gBlockDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (gBlockDone == nullptr)
        return false;

    HWAVEOUT handle = nullptr;
    MMRESULT opened = waveOutOpen(&handle, WAVE_MAPPER, &format,
                                  reinterpret_cast<DWORD_PTR>(gBlockDone), 0, CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
        CloseHandle(gBlockDone);
        gBlockDone = nullptr;
        return false;
    }
    gWaveOut = handle;
    if (gWake != nullptr)
        ResetEvent(gWake); // a Stop of an earlier session

    waveOutPrepareHeader(gWaveOut, &gHeaders[0], kHeaderSize);
    waveOutPrepareHeader(gWaveOut, &gHeaders[1], kHeaderSize);
    return true;
}

void waveOutputQueue(int index)
{
    waveOutWrite(gWaveOut, &gHeaders[index], kHeaderSize);
}

WaveWait waveOutputWait(std::uint32_t timeoutMs)
{
    // The device's event first: a played block and a wake together count as played.
    const HANDLE events[2] = {gBlockDone, gWake};
    const DWORD count = gWake != nullptr ? 2 : 1;
    switch (WaitForMultipleObjects(count, events, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0:
        return WaveWait::Notified;
    case WAIT_OBJECT_0 + 1:
        return WaveWait::Woken;
    default:
        return WaveWait::Failed;
    }
}

void waveOutputWake()
{
    if (gWake != nullptr)
        SetEvent(gWake);
}

void waveOutputReset()
{
    waveOutReset(gWaveOut);
}

void waveOutputClose()
{
    waveOutUnprepareHeader(gWaveOut, &gHeaders[0], kHeaderSize);
    waveOutUnprepareHeader(gWaveOut, &gHeaders[1], kHeaderSize);
    waveOutClose(gWaveOut);
    gWaveOut = nullptr;
    CloseHandle(gBlockDone);
    gBlockDone = nullptr;
}
