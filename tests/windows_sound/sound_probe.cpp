// zarvelin-sound-probe MODE FREQUENCY MILLISECONDS [SESSIONS]
// Plays sessions through the real audio worker and the system's wave output, as the
// program does: settings set, flag raised, worker on its own thread, flag lowered after
// the given time, worker awaited. Prints the number of wave output devices the system
// offers, then, per session, how many blocks the worker computed. A worker that has not
// ended long after its flag dropped is reported as hung, and the probe exits with 3
// instead of waiting for ever.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <windows.h>
#include <mmsystem.h>

#include "session/settings.h"
#include "sound/audio_stream.h"
#include "tests/windows_sound/probe_args.h"

namespace {

// Far beyond one block time plus the worker's own device bound.
constexpr auto kWorkerEndBound = std::chrono::seconds(20);

SessionFlagType gProbeFlag{0};
std::atomic<bool> gWorkerEnded{false};

void runWorker()
{
    AudioStreamWorker(&gProbeFlag);
    gWorkerEnded.store(true, std::memory_order_release);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: zarvelin-sound-probe MODE FREQUENCY MILLISECONDS [SESSIONS]\n"
                             "  MODE: none, binaural, beeps or noise; FREQUENCY: 10..5000 "
                             "(hundredths of a hertz); MILLISECONDS: 1..600000; SESSIONS: 1..20\n");
        return 2;
    }
    SoundMode mode = SoundNone;
    std::uint32_t frequency = 0, milliseconds = 0, sessions = 1;
    if (!parseSoundMode(argv[1], mode) || !parseFrequency(argv[2], frequency) ||
        !parseCount(argv[3], "duration in milliseconds", 1, 600000, milliseconds) ||
        (argc == 5 && !parseCount(argv[4], "number of sessions", 1, 20, sessions)))
        return 2;

    gStimulationSettings.frequency = frequency;
    gStimulationSettings.soundMode = mode;

    std::printf("wave output devices: %u\n", waveOutGetNumDevs());
    for (std::uint32_t s = 1; s <= sessions; ++s) {
        gWorkerEnded.store(false);
        gProbeFlag.store(1, std::memory_order_release);
        std::thread worker(runWorker);
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        gProbeFlag.store(0, std::memory_order_release);

        const auto deadline = std::chrono::steady_clock::now() + kWorkerEndBound;
        while (!gWorkerEnded.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!gWorkerEnded.load()) {
            std::printf("session %u: worker hung\n", s);
            std::fflush(stdout);
            worker.detach();
            std::_Exit(3); // the hung thread must not keep the process alive
        }
        worker.join();
        std::printf("session %u: blocks %u\n", s, sampleCounter / kBlockFrames);
        std::fflush(stdout);
    }
    return 0;
}
