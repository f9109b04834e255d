// The core as the page and the audio worklet see it: the WebAssembly module built from
// session/, sound/, visual/ and ui/control_table, its exports turned into JS values.
// Nothing here touches the page, so the worklet and node load it too.

// Compiles the module once; the page hands the compiled module to the worklet.
export async function compileCore(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
  return WebAssembly.compile(await response.arrayBuffer());
}

// One instance: its own memory, so its own noise generator.
export function instantiateCore(module) {
  const instance = new WebAssembly.Instance(module, {});
  instance.exports._initialize();
  return new Core(instance.exports);
}

export class Core {
  constructor(exports) {
    this.x = exports;
    this.blockFrames = exports.zv_block_frames();
    this.minFrequency = exports.zv_min_frequency();
    this.maxFrequency = exports.zv_max_frequency();
    this.defaultFrequency = exports.zv_default_frequency();
  }

  // Computes `frames` (at most one block) stereo frames from frame index `first`, as the
  // audio graph plays them: [left, right], each sample s/32768, as views that the next
  // call overwrites.
  synthesize(frames, frequency, mode, first) {
    const written = this.x.zv_synthesize(frames, frequency, mode, first >>> 0);
    if (written !== frames) throw new RangeError(`no sound for ${frames} frames at ${frequency}, mode ${mode}`);
    const buffer = this.x.memory.buffer;
    return [new Float32Array(buffer, this.x.zv_left(), frames), new Float32Array(buffer, this.x.zv_right(), frames)];
  }

  get noiseState() { return this.x.zv_noise_state() >>> 0; }
  set noiseState(state) { this.x.zv_set_noise_state(state >>> 0); }

  strobeLevel(tick, frequency) { return this.x.zv_strobe_level(tick >>> 0, frequency); }
  ticksPerCycle(frequency) { return this.x.zv_ticks_per_cycle(frequency); }
  strobeCanShow(frequency, refreshHz) { return this.x.zv_strobe_can_show(frequency, refreshHz) === 1; }
  strobeLimitMessage(frequency, refreshHz) { return this.text(this.x.zv_strobe_limit_message(frequency, refreshHz)); }

  // The control panel's table, as both desktop faces build their windows from it.
  controls() {
    const rows = [];
    for (let i = 0; i < this.x.zv_control_count(); ++i) {
      const captions = [];
      for (let k = 0; ; ++k) {
        const caption = this.text(this.x.zv_list_caption(i, k));
        if (caption === '') break;
        captions.push(caption);
      }
      rows.push({ role: ROLES[this.x.zv_control_role(i)], text: this.text(this.x.zv_control_text(i)), captions });
    }
    return rows;
  }
  get initialListSelection() { return this.x.zv_initial_list_selection(); }
  get title() { return this.text(this.x.zv_window_title()); }
  frequencyText(frequency) { return this.text(this.x.zv_frequency_text(frequency)); }

  // UTF-8 up to its zero byte. (TextDecoder is not there in a worklet, which reads no text.)
  text(pointer) {
    const bytes = new Uint8Array(this.x.memory.buffer, pointer);
    return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
  }
}

// ControlRole in ui/control_table.h, in its order.
export const ROLES = ['label', 'frequency', 'slider', 'arrows', 'soundList', 'visualList', 'start'];
