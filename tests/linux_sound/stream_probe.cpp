// Plays one session's sound through the ALSA wave output, without any window: the
// settings are set, a flag is raised, the audio worker runs on its own thread, and the
// flag drops after the given time. Prints what the checks need as key=value lines:
//   open_ns / drop_ns / end_ns   steady-clock times (CLOCK_MONOTONIC) of the flag rising,
//                                 the flag dropping (0 if the worker ended first), and the
//                                 worker's return
//   queued_frames                 frames the worker handed to the device
//   ended_early                   1 if the worker returned while the flag was still up
// With --again S it waits S seconds after the session and plays a second one, as long as
// --again-seconds says (the first one's length by default), printing the same keys
// prefixed "again_": a device lost in the first session must not keep the second silent
// once the server is back.
// With --expected FILE it also writes the frames the session should have played, as raw
// 16-bit stereo, computed from a fresh noise generator like the worker's.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "session/session_flag.h"
#include "session/settings.h"
#include "sound/audio_stream.h"
#include "sound/block_synth.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> workerEnded{false};
SessionFlagType probeFlag{0};

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        Clock::now().time_since_epoch()).count();
}

int usage(const char* what)
{
    std::fprintf(stderr,
                 "stream_probe: %s\n"
                 "usage: stream_probe --frequency 10..5000 --sound none|binaural|beeps|noise\n"
                 "                    --seconds S [--again S [--again-seconds S]]\n"
                 "                    [--expected FILE]\n",
                 what);
    return 2;
}

bool writeExpected(const char* path, std::uint32_t frequency, SoundMode mode,
                   std::uint32_t frames)
{
    std::vector<std::int16_t> samples(2 * static_cast<std::size_t>(frames));
    NoiseGenerator noise; // the worker's generator is fresh in this process too
    synthesizeFrames(samples.data(), frames, frequency, mode, 0, noise);
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(samples.data(), sizeof(std::int16_t), samples.size(), f) ==
                    samples.size();
    return std::fclose(f) == 0 && ok;
}

// One session: raise the flag, run the worker, drop the flag after `seconds` unless the
// worker has ended first, and print what happened.
void playSession(double seconds, const char* prefix)
{
    workerEnded.store(false, std::memory_order_relaxed);
    probeFlag.store(1, std::memory_order_release);
    const long long openNs = nowNs();
    long long endNs = 0;
    std::thread worker([&endNs] {
        AudioStreamWorker(&probeFlag);
        endNs = nowNs();
        workerEnded.store(true, std::memory_order_release);
    });

    // Sleep in short steps so a worker that gives up early is seen as it happens.
    const Clock::time_point dropAt =
        Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    while (Clock::now() < dropAt && !workerEnded.load(std::memory_order_acquire))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool endedEarly = workerEnded.load(std::memory_order_acquire);
    const long long dropNs = endedEarly ? 0 : nowNs();
    probeFlag.store(0, std::memory_order_release);
    worker.join();

    std::printf("%sopen_ns=%lld\n%sdrop_ns=%lld\n%send_ns=%lld\n%squeued_frames=%u\n"
                "%sended_early=%d\n",
                prefix, openNs, prefix, dropNs, prefix, endNs, prefix, sampleCounter, prefix,
                endedEarly ? 1 : 0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    long frequency = -1;
    long sound = -1;
    double seconds = -1;
    const char* expected = nullptr;
    double again = -1;
    double againSeconds = -1;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--frequency") == 0 && hasValue) {
            frequency = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--sound") == 0 && hasValue) {
            const std::string name = argv[++i];
            for (int m = 0; m < kSoundModeCount; ++m) {
                static const char* const names[kSoundModeCount] = {"none", "binaural", "beeps",
                                                                  "noise"};
                if (name == names[m])
                    sound = m;
            }
        } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
            seconds = std::strtod(argv[++i], nullptr);
        } else if (std::strcmp(argv[i], "--again") == 0 && hasValue) {
            again = std::strtod(argv[++i], nullptr);
            if (!(again >= 0 && again <= 600))
                return usage("--again takes a pause of 0 to 600 seconds");
        } else if (std::strcmp(argv[i], "--again-seconds") == 0 && hasValue) {
            againSeconds = std::strtod(argv[++i], nullptr);
            if (!(againSeconds > 0 && againSeconds <= 600))
                return usage("--again-seconds takes a time above 0 and up to 600");
        } else if (std::strcmp(argv[i], "--expected") == 0 && hasValue) {
            expected = argv[++i];
        } else {
            return usage("unknown or incomplete option");
        }
    }
    if (frequency < 0 || !isValidFrequency(static_cast<std::uint32_t>(frequency)))
        return usage("--frequency takes hundredths of a hertz, 10 to 5000");
    if (!isValidSoundMode(sound))
        return usage("--sound takes none, binaural, beeps or noise");
    if (!(seconds > 0 && seconds <= 600))
        return usage("--seconds takes a time above 0 and up to 600");

    gStimulationSettings.frequency = static_cast<std::uint32_t>(frequency);
    gStimulationSettings.soundMode = static_cast<SoundMode>(sound);

    if (expected != nullptr) {
        // Two blocks beyond the playing time cover whatever was queued when the flag fell.
        const auto frames = static_cast<std::uint32_t>(seconds * kSampleRate) + 3 * kBlockFrames;
        if (!writeExpected(expected, gStimulationSettings.frequency,
                           gStimulationSettings.soundMode, frames)) {
            std::fprintf(stderr, "stream_probe: cannot write %s\n", expected);
            return 1;
        }
    }

    playSession(seconds, "");
    if (again >= 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(again * 1e6)));
        playSession(againSeconds > 0 ? againSeconds : seconds, "again_");
    }
    return 0;
}
