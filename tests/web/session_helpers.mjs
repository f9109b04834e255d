// What the page tests do with a running face: start a session as a visitor does, tap the
// worklet's output, read what a session played and painted.
import { probe, sleep } from './browser.mjs';

// A processor after the synthesis node that hands on every quantum it hears, stamped with
// the context's frame; it passes nothing on itself, so the page plays as before.
const TAP = `registerProcessor('zarvelin-tap', class extends AudioWorkletProcessor {
  process(inputs) {
    const input = inputs[0];
    if (input.length === 2) this.port.postMessage({ at: currentFrame, left: input[0].slice(), right: input[1].slice() });
    return true;
  }
});`;

export async function tapSound(page) {
  await page.evaluate(async (source) => {
    const { audio } = window.zarvelinProbe;
    await audio.prepare();
    const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    await audio.context.audioWorklet.addModule(url);
    const tap = new AudioWorkletNode(audio.context, 'zarvelin-tap', {
      numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [2],
      channelCount: 2, channelCountMode: 'explicit', channelInterpretation: 'discrete' });
    window.tapped = new Map();
    tap.port.onmessage = (e) => window.tapped.set(e.data.at, e.data);
    audio.node.connect(tap);
    tap.connect(audio.context.destination);
  }, TAP);
}

// The samples session `index` played, as the tap heard them from its first frame on, in
// the order it heard them (the context's frame count may jump while it starts; the
// samples may not): {first, noiseState, frames, samples (Int16Array), gap}, gap naming
// the frame where the tap heard fewer than the session computed.
export async function tappedSession(page, index) {
  const got = await page.evaluate((i) => {
    const r = window.zarvelinProbe.session.records[i];
    const stamps = [...window.tapped.keys()].sort((a, b) => a - b);
    let k = stamps.indexOf(r.audio.at);
    const out = new Int16Array(2 * r.frames);
    let gap = k < 0 ? 0 : null;
    for (let f = 0; gap === null && f < r.frames; f += 128, ++k) {
      const q = window.tapped.get(stamps[k]);
      if (!q) { gap = f; break; }
      for (let j = 0; j < 128; ++j) {
        out[2 * (f + j)] = Math.round(q.left[j] * 32768);
        out[2 * (f + j) + 1] = Math.round(q.right[j] * 32768);
      }
    }
    const bytes = new Uint8Array(out.buffer);
    let text = '';
    for (let k = 0; k < bytes.length; k += 0x8000) text += String.fromCharCode(...bytes.subarray(k, k + 0x8000));
    return { first: r.first, noiseState: r.audio.noiseState, frames: r.frames, gap, samples: btoa(text) };
  }, index);
  const raw = Buffer.from(got.samples, 'base64');
  got.samples = new Int16Array(raw.buffer, raw.byteOffset, raw.length / 2);
  return got;
}

export const records = (page) => probe(page, () => window.zarvelinProbe.session.records.map(
  ({ settings, told, fullscreen, ended, audio, frames }) => ({ settings, told, fullscreen, ended, audio, frames })));

export const active = (page) => probe(page, () => window.zarvelinProbe.session.active !== null);

// Waits until `test` (run in the page) holds, for at most `ms`; a test's own deadline,
// never a measure of speed.
export async function until(page, test, arg, ms = 20000, what = 'the page to get there') {
  const deadline = Date.now() + ms;
  while (!(await page.evaluate(test, arg))) {
    if (Date.now() > deadline) throw new Error(`waited ${ms} ms for ${what}`);
    await sleep(20);
  }
}

// Until the tap has heard `frames` frames of the session that is running.
export async function played(page, frames) {
  await until(page, (n) => {
    const r = window.zarvelinProbe.session.records.at(-1);
    let heard = 0;
    if (r.audio) for (const at of window.tapped.keys()) if (at >= r.audio.at) heard += 128;
    return heard >= n;
  }, frames, 30000, `${frames} frames of sound`);
}

// The session's end has reached the worklet: its frame count is in.
export async function settled(page) {
  await until(page, () => window.zarvelinProbe.session.records.every((r) => !r.audio || r.frames !== undefined),
              undefined, 20000, 'the worklet to report the session stopped');
}
