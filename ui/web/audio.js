// The page's sound: one AudioContext at 44.1 kHz with the synthesis worklet, made once
// at page load and kept. Waking the output stream takes the browser longer than a click
// should wait, so any gesture on the page (a pointer pressed, a key) wakes it, and Start
// only tells the worklet to play. Between sessions the worklet is silent; a context no
// gesture or session has used for a while, or on a hidden page, is suspended again.
const IDLE_MS = 60000;

export class Audio {
  constructor(module) {
    this.module = module;
    this.context = null;
    this.node = null;
    this.ready = null;
    this.listeners = new Set();
    this.playing = false;
    this.generation = 0; // counts starts and stops, so a stop overtakes a start still loading
    this.idle = null;
  }

  // Loads the worklet. The context may start suspended until a gesture lets it play.
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
    this.rest();
  }

  // A gesture: the context may run from here on (resume() needs one), and rests later.
  wake() {
    this.prepare().then(() => {
      if (this.context.state === 'suspended' && !document.hidden) this.context.resume();
      this.rest();
    });
  }

  // Suspends the context after IDLE_MS with no session, or at once.
  rest(now = false) {
    clearTimeout(this.idle);
    if (this.playing || !this.context) return;
    if (now) this.context.suspend();
    else this.idle = setTimeout(() => this.rest(true), IDLE_MS);
  }

  // Called from the click that starts the session, itself a gesture.
  async start({ frequency, sound }, first = 0) {
    const mine = ++this.generation;
    this.playing = true;
    clearTimeout(this.idle);
    await this.prepare();
    if (mine !== this.generation) return;
    this.node.port.postMessage({ type: 'start', frequency, mode: sound, first });
    if (this.context.state !== 'running') await this.context.resume();
  }

  // The worklet falls silent at its next quantum; a hidden page's context stops too.
  stop() {
    ++this.generation;
    if (!this.playing) return;
    this.playing = false;
    this.node?.port.postMessage({ type: 'stop' });
    this.rest(document.hidden);
  }
}
