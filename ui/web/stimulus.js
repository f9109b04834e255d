// The picture: the stage pulsing in grey, and the display's refresh rate.
//
// No timer ticks every 2 ms: once per animation frame the grey of the tick due at that
// moment is taken, the tick counted from the clock (performance.now) since the strobe
// started, as the Linux face does when its window reads the grey. A late frame never
// slows the flicker; it only skips ahead.
//
// The browser does not say how often the screen refreshes, so it is measured: the
// median interval between animation frames (the last 120 measured; a median, because
// one slow frame or a hidden tab must not count), taken as the rate of a screen whose
// frames come that often. Until 10 intervals are in, the rate is unknown (0), which the
// core takes as 60 Hz. Frames are measured for 120 frames after each nudge (the page
// loaded, touched, a key, the window resized or shown again, a session over), so a
// window moved to another screen is measured again before its Start is clicked, and an
// idle panel asks for no frames at all.
const TICK_MS = 2;
const WINDOW = 120;
const NUDGE = 120;  // frames measured after each nudge
const LOG = 20000; // frames kept for the tests' probe

export class Stimulus {
  constructor(core, stage) {
    this.core = core;
    this.stage = stage;
    this.intervals = [];
    this.lastFrame = null;
    this.strobe = null;   // {frequency, origin} while the stroboscope runs
    this.painted = [];    // {time, tick, level} per frame of the session, for the probe
    this.measuring = false;
    this.frame = (time) => this.onFrame(time);
  }

  // Frames keep coming while the panel is measured or a session shows the stage.
  wake() {
    if (!this.running) {
      this.running = true;
      requestAnimationFrame(this.frame);
    }
  }

  measure() {
    if (!this.measuring) this.lastFrame = null; // the gap since the last measured frame is no interval
    this.measuring = true;
    this.measureLeft = NUDGE;
    this.wake();
  }

  refreshHz() {
    if (this.intervals.length < 10) return 0;
    const sorted = [...this.intervals].sort((a, b) => a - b);
    return 1000 / sorted[sorted.length >> 1];
  }

  onFrame(time) {
    if (this.measuring) {
      if (this.lastFrame !== null) {
        this.intervals.push(time - this.lastFrame);
        if (this.intervals.length > WINDOW) this.intervals.shift();
      }
      this.lastFrame = time;
      if (--this.measureLeft <= 0) this.measuring = false;
    }
    if (this.strobe) this.paint(performance.now());
    if (this.measuring || this.strobe) requestAnimationFrame(this.frame);
    else this.running = false;
  }

  paint(now) {
    const tick = Math.floor((now - this.strobe.origin) / TICK_MS);
    const level = this.core.strobeLevel(tick, this.strobe.frequency);
    this.stage.style.backgroundColor = `rgb(${level},${level},${level})`;
    if (this.painted.length < LOG) this.painted.push({ time: now, tick, level });
  }

  // The session's picture: black, or the stroboscope from tick 0 now.
  start({ frequency, visual }) {
    this.measuring = false;
    this.painted = [];
    this.stage.style.backgroundColor = '#000';
    if (visual === 1) {
      this.strobe = { frequency, origin: performance.now() };
      this.paint(this.strobe.origin);
      this.wake();
    }
  }

  stop() {
    this.strobe = null;
    this.stage.style.backgroundColor = '#000';
    this.measure();
  }
}
