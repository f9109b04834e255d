// The page's sound: one AudioContext at 44.1 kHz with the synthesis worklet, made once
// and kept; between sessions it is suspended, so nothing runs.
export class Audio {
  constructor(module) {
    this.module = module;
    this.context = null;
    this.node = null;
    this.ready = null;
    this.listeners = new Set();
    this.generation = 0; // counts starts and stops, so a stop overtakes a start still loading
  }

  // Loads the worklet. The context starts suspended until a click lets it play.
  prepare() {
    if (!this.ready) this.ready = this.build();
    return this.ready;
  }

  async build() {
    this.context = new AudioContext({ sampleRate: 44100, latencyHint: 'interactive' });
    await this.context.audioWorklet.addModule('synth_worklet.js');
    this.node = new AudioWorkletNode(this.context, 'zarvelin-synth', {
      numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
      processorOptions: { module: this.module },
    });
    this.node.port.onmessage = (event) => this.listeners.forEach((f) => f(event.data));
    this.node.connect(this.context.destination);
    if (this.context.state === 'running') await this.context.suspend();
  }

  // Called from the click that starts the session: resume() needs that click.
  async start({ frequency, sound }, first = 0) {
    const mine = ++this.generation;
    await this.prepare();
    if (mine !== this.generation) return;
    this.node.port.postMessage({ type: 'start', frequency, mode: sound, first });
    await this.context.resume();
    if (mine !== this.generation) await this.context.suspend();
  }

  stop() {
    ++this.generation;
    if (!this.node) return;
    this.node.port.postMessage({ type: 'stop' });
    this.context.suspend();
  }
}
