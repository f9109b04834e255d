// The web face: loads the core, builds the panel, and wires Start to a session.
import { compileCore, instantiateCore } from './core.js';
import { Audio } from './audio.js';
import { Panel } from './panel.js';
import { Session } from './session.js';
import { Stimulus } from './stimulus.js';

async function boot() {
  const module = await compileCore('zarvelin.wasm');
  const core = instantiateCore(module);
  const stage = document.getElementById('stage');
  const stimulus = new Stimulus(core, stage);
  const audio = new Audio(module);
  const parts = { core, audio, stimulus, stage, dialog: document.getElementById('limit') };
  let session = null;
  const panel = new Panel(core, document.getElementById('controls'), (settings) => session.request(settings));
  session = new Session({ ...parts, panel });
  stimulus.measure();
  // The refresh rate is measured on the panel for a while after each nudge.
  const nudge = () => { if (!session.active && !document.hidden) stimulus.measure(); };
  for (const type of ['pointermove', 'pointerdown', 'keydown', 'resize']) window.addEventListener(type, nudge, true);
  document.addEventListener('visibilitychange', nudge);
  audio.prepare().catch((error) => session.fail(error));
  // What the tests and benchmarks look at, nothing else.
  const probe = { core, audio, stimulus, panel, session, heard: [] };
  audio.listeners.add((message) => {
    probe.heard.push(message);
    const waiting = session.records.find((r) => (message.type === 'started' ? !r.audio : r.audio && r.frames === undefined));
    if (waiting && message.type === 'started') waiting.audio = { ...message, heardAt: performance.now() };
    if (waiting && message.type === 'stopped') waiting.frames = message.frames;
  });
  window.zarvelinProbe = probe;
  document.body.dataset.ready = 'true';
}

boot().catch((error) => {
  const failure = document.getElementById('failure');
  failure.textContent = `Не удалось загрузить Zarvelin: ${error.message}`;
  failure.hidden = false;
});

if ('serviceWorker' in navigator) {
  navigator.serviceWorker.register('sw.js').catch(() => {}); // the page runs without it, online only
}
