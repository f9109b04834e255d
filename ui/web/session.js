// A session in the page: from Start until a key, a tap, leaving full screen or the page
// being hidden. Start covers the page with the stage, full screen and without a cursor,
// and starts the sound and the picture; the end stops both and gives the panel back as
// it was, its focus on Start.
import { endsSession } from './keys.js';

// After a tap ends a session the browser still sends that tap's click to whatever lies
// under it once the stage is gone: for this long, clicks on the panel are dropped.
const TAP_CLICK_MS = 700;

export class Session {
  constructor({ core, audio, stimulus, panel, stage, dialog }) {
    Object.assign(this, { core, audio, stimulus, panel, stage, dialog });
    this.active = null;
    this.records = [];     // every session, for the tests' probe
    this.heldKey = null;   // the key that ended the last session, until it is released
    this.tapEndedAt = -Infinity;
    this.listen();
  }

  // Start: a stroboscope this screen cannot show is told first, then runs black.
  request(settings) {
    if (this.active || this.dialog.open) return;
    if (settings.visual === 1 && !this.core.strobeCanShow(settings.frequency, this.stimulus.refreshHz())) {
      this.dialog.querySelector('#limit-text').textContent =
        this.core.strobeLimitMessage(settings.frequency, this.stimulus.refreshHz());
      this.dialog.addEventListener('close', () => this.begin({ ...settings, visual: 0 }, 0, 'limit'), { once: true });
      this.dialog.showModal();
      return;
    }
    this.begin(settings);
  }

  // `first` is the sound's first frame: 0 in every session a visitor starts.
  begin(settings, first = 0, told = null) {
    const record = { settings, first, told, clickedAt: performance.now(), fullscreen: false };
    this.active = record;
    this.records.push(record);
    this.panel.enabled = false;
    this.stage.hidden = false;
    const root = document.documentElement;
    if (root.requestFullscreen) {
      root.requestFullscreen({ navigationUI: 'hide' })
        .then(() => { record.fullscreen = this.active === record; })
        .catch(() => {}); // a browser without it still shows the stage over the page
    }
    this.stimulus.start(settings);
    this.audio.start(settings, first).catch((error) => this.fail(error));
  }

  end(reason) {
    const record = this.active;
    if (!record) return;
    this.active = null;
    record.ended = reason;
    record.endedAt = performance.now();
    this.audio.stop();
    this.stimulus.stop();
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    this.stage.hidden = true;
    this.panel.enabled = true;
    this.panel.startButton.focus();
  }

  fail(error) {
    this.end('failure');
    const failure = document.getElementById('failure');
    failure.textContent = `Звук не запустился: ${error.message}`;
    failure.hidden = false;
  }

  listen() {
    // Keys are taken before any element sees them, wherever the focus is.
    window.addEventListener('keydown', (event) => {
      if (this.heldKey === event.code) {
        if (event.repeat) return swallow(event);
        this.heldKey = null; // a fresh press: its release went elsewhere
      }
      if (!this.active) return;
      if (!endsSession(event)) return;
      swallow(event);
      this.heldKey = event.code; // its repeats and release must not reach the panel
      this.end('key');
    }, true);
    window.addEventListener('keyup', (event) => {
      if (this.heldKey !== null && this.heldKey === event.code) {
        this.heldKey = null;
        swallow(event);
      }
    }, true);
    // A touch screen has no keys: a tap ends the session. A mouse click does nothing.
    this.stage.addEventListener('pointerdown', (event) => {
      if (event.pointerType === 'mouse') return;
      this.tapEndedAt = performance.now();
      this.end('tap');
    });
    this.stage.addEventListener('touchstart', (event) => event.preventDefault(), { passive: false });
    window.addEventListener('click', (event) => {
      if (performance.now() - this.tapEndedAt < TAP_CLICK_MS) swallow(event);
    }, true);
    document.addEventListener('fullscreenchange', () => {
      if (this.active?.fullscreen && !document.fullscreenElement) this.end('fullscreen');
    });
    document.addEventListener('visibilitychange', () => {
      if (document.hidden) this.end('hidden');
    });
    window.addEventListener('pagehide', () => this.end('hidden'));
  }
}

function swallow(event) {
  event.preventDefault();
  event.stopImmediatePropagation();
}
