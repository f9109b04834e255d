// The audio worklet: the session's sound, computed by the core module 128 frames at a
// time on the audio thread, straight into the graph's two channels. (Computing bigger
// pieces ahead gained nothing measurable: the two sines of each frame are the cost, not
// the call.) One processor lives as long as the page, so its module's
// noise generator runs on from one session into the next, as on the desktop.
//
// Messages in:  {type: 'start', frequency, mode, first}   a session from frame `first`
//               {type: 'stop'}
// Messages out: {type: 'started', at, noiseState}  at the first frames of a session:
//                                                  the context's frame they play at
//               {type: 'stopped', frames}          frames the session computed
import { instantiateCore } from './core.js';

class ZarvelinSynth extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.core = instantiateCore(options.processorOptions.module);
    this.session = null;
    this.port.onmessage = (event) => this.command(event.data);
  }

  command(message) {
    if (message.type === 'start') {
      this.stop();
      this.session = { frequency: message.frequency, mode: message.mode, next: message.first >>> 0,
                       frames: 0, announced: false };
    } else if (message.type === 'stop') {
      this.stop();
    }
  }

  stop() {
    if (this.session) this.port.postMessage({ type: 'stopped', frames: this.session.frames });
    this.session = null;
  }

  process(inputs, outputs) {
    const s = this.session;
    if (!s) return true; // the outputs come zeroed: silence between sessions
    const [left, right] = outputs[0];
    const n = left.length;
    if (!s.announced) {
      s.announced = true;
      this.port.postMessage({ type: 'started', at: currentFrame, noiseState: this.core.noiseState });
    }
    const [l, r] = this.core.synthesize(n, s.frequency, s.mode, s.next);
    left.set(l);
    right.set(r);
    s.next = (s.next + n) >>> 0;
    s.frames += n;
    return true;
  }
}

registerProcessor('zarvelin-synth', ZarvelinSynth);
