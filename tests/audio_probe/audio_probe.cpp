// audio_probe --sound MODE --frequency HUNDREDTHS --seconds S
//             [--sessions N] [--pause S] [--last-seconds S] [--open-first]
// Plays sessions through the real audio worker and the system's wave output (ALSA or
// winmm) as the program does, without a window: the flag raised, the worker on its own
// thread, the flag dropped after the time and the worker woken, as Stop does. --pause
// waits between sessions; --last-seconds is the last session's length. --open-first opens
// and closes the device once, unbounded, so that a sound system slow to start (Wine's on
// an emulated machine) has started before the worker's bounded open, and prints
// first_open_ms and first_open_ok. Prints per session (the k-th's keys prefixed "sK_"):
//   open_ns / drop_ns / end_ns   steady-clock times of the flag rising, the flag dropping
//                                (0 if the worker ended first), and the worker's return
//   queued_frames                frames the worker handed to the device
//   ended_early                  1 if the worker returned while the flag was still up
// A worker not ended 20 s after its flag dropped is reported as "hung=1", and the probe
// exits with 3 at once, since it cannot be joined.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include "settings/session_flag.h"
#include "settings/settings.h"
#include "sound/audio_stream.h"
#include "sound/wave_device.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> gWorkerEnded{false};
std::atomic<long long> gEndNs{0};
SessionFlagType gProbeFlag{0};

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// What is wrong (with the word at fault quoted, and its option), then what is accepted;
// returns the exit code for a bad command line.
int usage(const char* what, const char* word = nullptr, const char* option = nullptr)
{
    std::fprintf(stderr, "audio_probe: %s", what);
    if (word != nullptr)
        std::fprintf(stderr, " '%s'", word);
    if (option != nullptr)
        std::fprintf(stderr, " for %s", option);
    std::fprintf(stderr,
                 "\nusage: audio_probe --sound none|binaural|beeps|noise --frequency 10..5000\n"
                 "                   --seconds S [--sessions 1..20] [--pause S] [--last-seconds S]\n"
                 "                   [--open-first]\n"
                 "  frequencies in hundredths of a hertz (780 is 7.80 Hz); times in seconds,\n"
                 "  above 0 and up to 600 (a pause may be 0)\n");
    return 2;
}

// A number with nothing after it within [low, high], in plain digits when `whole`.
bool parseNumber(const char* text, bool whole, double low, double high, double* value)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= low && v <= high)
        || (whole && std::strspn(text, "0123456789") != std::strlen(text)))
        return false;
    *value = v;
    return true;
}

// Sleeps in short steps until `until`, or until the worker has ended.
void sleepWhileWorking(Clock::time_point until)
{
    while (Clock::now() < until && !gWorkerEnded.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// The device opened and closed on this thread, waiting as long as the system takes.
void openFirst()
{
    static SampleBlock copies[kMaxQueuedBlocks];
    const long long startNs = nowNs();
    const bool opened = waveDevicePrepare(0) && waveDeviceOpen(0, copies);
    if (opened) {
        waveDeviceReset(0);
        waveDeviceClose(0);
    }
    std::printf("first_open_ms=%lld\nfirst_open_ok=%d\n", (nowNs() - startNs) / 1000000, opened ? 1 : 0);
    std::fflush(stdout);
}

// One session: raise the flag, run the worker, drop the flag after `seconds` unless the
// worker has ended first, wake it, and print what happened. False if the worker hung.
bool playSession(double seconds, const char* p)
{
    gWorkerEnded.store(false, std::memory_order_relaxed);
    gProbeFlag.store(1, std::memory_order_release);
    const long long openNs = nowNs();
    std::thread worker([] {
        AudioStreamWorker(&gProbeFlag);
        gEndNs.store(nowNs(), std::memory_order_relaxed);
        gWorkerEnded.store(true, std::memory_order_release);
    });
    sleepWhileWorking(Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6)));
    const bool endedEarly = gWorkerEnded.load();
    const long long dropNs = endedEarly ? 0 : nowNs();
    gProbeFlag.store(0, std::memory_order_release);
    wakeAudioStreamWorker();
    sleepWhileWorking(Clock::now() + std::chrono::seconds(20));
    std::printf("%sopen_ns=%lld\n%sdrop_ns=%lld\n", p, openNs, p, dropNs);
    if (!gWorkerEnded.load()) {
        std::printf("%shung=1\n", p);
        std::fflush(stdout);
        worker.detach();
        return false;
    }
    worker.join();
    std::printf("%send_ns=%lld\n%squeued_frames=%u\n%sended_early=%d\n", p, gEndNs.load(), p,
                sampleCounter, p, endedEarly ? 1 : 0);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    double frequency = -1, sessions = 1, seconds = -1, pause = 0, lastSeconds = -1;
    SoundMode sound = SoundNone;
    bool soundGiven = false, first = false;
    const double above0 = std::numeric_limits<double>::denorm_min();
    const struct {
        const char* name;
        bool whole;
        double low, high;
        double* value;
    } options[] = {{"--frequency", true, kMinFrequency, kMaxFrequency, &frequency},
                   {"--seconds", false, above0, 600, &seconds},
                   {"--pause", false, 0, 600, &pause},
                   {"--last-seconds", false, above0, 600, &lastSeconds},
                   {"--sessions", true, 1, 20, &sessions}};
    for (int i = 1; i < argc; i += 2) {
        const char* option = argv[i];
        if (std::strcmp(option, "--open-first") == 0) {
            first = true;
            --i;
            continue;
        }
        const char* value = argv[i + 1];
        if (value == nullptr)
            return usage("no value after", option);
        bool known = std::strcmp(option, "--sound") == 0;
        bool ok = known && (soundGiven = parseSoundModeName(value, &sound));
        for (const auto& o : options) {
            if (std::strcmp(option, o.name) == 0) {
                known = true;
                ok = parseNumber(value, o.whole, o.low, o.high, o.value);
            }
        }
        if (!known)
            return usage("unknown option", option);
        if (!ok)
            return usage("bad value", value, option);
    }
    if (frequency < 0 || !soundGiven || seconds < 0)
        return usage(frequency < 0 ? "--frequency is missing" : !soundGiven ? "--sound is missing"
                                                                             : "--seconds is missing");

    if (first)
        openFirst();
    gStimulationSettings.frequency = static_cast<std::uint32_t>(frequency);
    gStimulationSettings.soundMode = sound;
    for (int s = 1; s <= sessions; ++s) {
        char prefix[16] = "";
        if (s > 1) {
            std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(pause * 1e6)));
            std::snprintf(prefix, sizeof prefix, "s%d_", s);
        }
        if (!playSession(s == sessions && lastSeconds > 0 ? lastSeconds : seconds, prefix))
            std::_Exit(3); // the hung thread must not keep the process alive
    }
    return 0;
}
