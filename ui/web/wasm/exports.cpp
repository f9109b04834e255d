// What the page and its audio worklet take from the portable core, as plain C functions
// of a WebAssembly reactor module. Numbers go in and out as they are; text goes out as a
// pointer to UTF-8 ending in a zero byte, valid until the next call that returns text.
#include <cstdint>
#include <string>

#include "settings/frequency_text.h"
#include "settings/settings.h"
#include "session/strobe_limit_message.h"
#include "sound/block_synth.h"
#include "sound/noise_generator.h"
#include "ui/control_table.h"
#include "visual/strobe_level.h"

#define ZV_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

// One block's frames: the worklet asks for 128 at a time, a benchmark for whole blocks.
// The core writes them interleaved into gBlock; the graph takes a channel each.
SampleBlock gBlock;
float gLeft[kBlockFrames];
float gRight[kBlockFrames];
std::string gText;

const char* keep(std::string text)
{
    gText = std::move(text);
    return gText.c_str();
}

bool validSound(std::uint32_t frequency, std::int32_t mode)
{
    return isValidFrequency(frequency) && isValidSoundMode(mode);
}

} // namespace

// --- sound --------------------------------------------------------------------------

ZV_EXPORT(zv_block_frames) std::uint32_t zvBlockFrames() { return kBlockFrames; }
ZV_EXPORT(zv_left) float* zvLeft() { return gLeft; }
ZV_EXPORT(zv_right) float* zvRight() { return gRight; }

// Computes `frameCount` (at most one block) stereo frames of the session's sound into
// zv_left() and zv_right() as the audio graph plays them, each sample divided by 32768
// (which a float holds exactly), the first with frame index `firstFrame`, drawing from
// the one noise generator of the module, which no session resets. Returns the frames
// written: 0 for a frequency or mode outside the ranges, or a count above one block.
ZV_EXPORT(zv_synthesize)
std::uint32_t zvSynthesize(std::uint32_t frameCount, std::uint32_t frequency, std::int32_t mode,
                           std::uint32_t firstFrame)
{
    if (!validSound(frequency, mode) || frameCount > kBlockFrames)
        return 0;
    synthesizeFramesScalar(gBlock.samples, frameCount, frequency, static_cast<SoundMode>(mode),
                           firstFrame, gNoiseGenerator);
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        gLeft[i] = static_cast<float>(gBlock.samples[2 * i]) * (1.0f / 32768.0f);
        gRight[i] = static_cast<float>(gBlock.samples[2 * i + 1]) * (1.0f / 32768.0f);
    }
    return frameCount;
}

ZV_EXPORT(zv_noise_state) std::uint32_t zvNoiseState() { return gNoiseGenerator.state; }
ZV_EXPORT(zv_set_noise_state) void zvSetNoiseState(std::uint32_t state) { gNoiseGenerator.state = state; }

// --- picture ------------------------------------------------------------------------

// The grey of 2 ms tick `tick` of a stroboscope at `frequency`; 0 outside the range.
ZV_EXPORT(zv_strobe_level)
std::uint32_t zvStrobeLevel(std::uint32_t tick, std::uint32_t frequency)
{
    if (!isValidFrequency(frequency))
        return 0;
    return strobeLevel(tick, phaseStep(ticksPerCycle(frequency)));
}

ZV_EXPORT(zv_ticks_per_cycle)
std::uint32_t zvTicksPerCycle(std::uint32_t frequency)
{
    return isValidFrequency(frequency) ? ticksPerCycle(frequency) : 0;
}

ZV_EXPORT(zv_strobe_can_show)
std::int32_t zvStrobeCanShow(std::uint32_t frequency, double refreshHz)
{
    return isValidFrequency(frequency) && strobeCanShow(frequency, refreshHz) ? 1 : 0;
}

ZV_EXPORT(zv_strobe_limit_message)
const char* zvStrobeLimitMessage(std::uint32_t frequency, double refreshHz)
{
    return keep(isValidFrequency(frequency) ? strobeLimitMessage(frequency, refreshHz) : "");
}

// --- the control panel, from the table both desktop faces build theirs from ---------

ZV_EXPORT(zv_min_frequency) std::uint32_t zvMinFrequency() { return kMinFrequency; }
ZV_EXPORT(zv_max_frequency) std::uint32_t zvMaxFrequency() { return kMaxFrequency; }
ZV_EXPORT(zv_default_frequency) std::uint32_t zvDefaultFrequency() { return kDefaultFrequency; }
ZV_EXPORT(zv_initial_list_selection) std::int32_t zvInitialListSelection() { return kInitialListSelection; }
ZV_EXPORT(zv_control_count) std::int32_t zvControlCount() { return kControlCount; }
ZV_EXPORT(zv_window_title) const char* zvWindowTitle() { return kControlWindowTitle; }

ZV_EXPORT(zv_control_role)
std::int32_t zvControlRole(std::int32_t index)
{
    return index >= 0 && index < kControlCount ? static_cast<std::int32_t>(kControls[index].role) : -1;
}

ZV_EXPORT(zv_control_text)
const char* zvControlText(std::int32_t index)
{
    return index >= 0 && index < kControlCount ? kControls[index].text : "";
}

// Caption `item` of the list of control `index`; empty past its end.
ZV_EXPORT(zv_list_caption)
const char* zvListCaption(std::int32_t index, std::int32_t item)
{
    if (index < 0 || index >= kControlCount)
        return "";
    int count = 0;
    const char* const* captions = listCaptions(kControls[index].role, &count);
    return item >= 0 && item < count ? captions[item] : "";
}

ZV_EXPORT(zv_frequency_text)
const char* zvFrequencyText(std::uint32_t frequency)
{
    return keep(FrequencyText(frequency).data());
}
