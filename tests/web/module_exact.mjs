// The WebAssembly module against the native core: the same samples, in pieces as the
// worklet asks for them and others, over long renders and across the 2^32 wrap, the
// noise generator running on from one session into the next; the same strobe levels,
// refresh-rate rule and message.
import test from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { site, referenceSound, referenceText, firstDifference, MODES } from './harness.mjs';

const { instantiateCore } = await import(pathToFileURL(path.join(site(), 'core.js')));
const core = instantiateCore(new WebAssembly.Module(readFileSync(path.join(site(), 'zarvelin.wasm'))));
const RATE = 44100, WRAP = 2 ** 32, SPAN = 60 * RATE;
let seed = 20040415; // a fixed draw, so every run tries the same cases
const random = () => (seed = (Math.imul(seed, 1664525) + 1013904223) >>> 0) / WRAP;
const cases = [];
for (const mode of [0, 1, 2, 3]) {
  // The ends of the range, the binaural tones' switch (0.20 Hz), the default, the
  // stroboscope's limit on a 60 Hz screen: from frame 0 and across the wrap.
  for (const frequency of [10, 19, 20, 780, 2941, 4999, 5000]) {
    cases.push({ mode, frequency, first: 0, frames: 5 * RATE, pieces: [128] });
    cases.push({ mode, frequency, first: WRAP - 2 * RATE, frames: 4 * RATE, pieces: [12288, 1, 127] });
  }
  if (mode > 0) cases.push({ mode, frequency: 10 + Math.floor(random() * 4991), first: 0, frames: 600 * RATE, pieces: [12288] });
}
for (let i = 0; i < 24; ++i) {
  cases.push({ mode: 1 + (i % 3), frequency: 10 + Math.floor(random() * 4991), first: Math.floor(random() * WRAP),
               frames: 20 * RATE, pieces: [128, 12288, 4000] });
}

// One module for every case, its generator never reset: each noise case goes on from the
// last, from state 1 where a fresh module (and the desktop) starts.
test('the module computes the native samples, its noise running on from session to session', async (t) => {
  let state = 1;
  for (const c of cases) {
    await t.test(`${MODES[c.mode]} at ${c.frequency / 100} Hz from frame ${c.first}, ${c.frames} frames`, () => {
      for (let done = 0, p = 0; done < c.frames;) {
        const span = Math.min(SPAN, c.frames - done);
        const want = referenceSound(c.frequency, c.mode, (c.first + done) >>> 0, span, state);
        const got = new Int16Array(2 * span);
        for (let k = 0; k < span;) {
          const n = Math.min(c.pieces[p++ % c.pieces.length], span - k);
          const [left, right] = core.synthesize(n, c.frequency, c.mode, c.first + done + k);
          for (let i = 0; i < n; ++i, ++k) {
            got[2 * k] = left[i] * 32768;
            got[2 * k + 1] = right[i] * 32768;
          }
        }
        assert.equal(firstDifference(got, want.samples, c.first + done), null);
        assert.equal(core.noiseState, want.state, 'the generator drew once per noise frame, never otherwise');
        state = want.state;
        done += span;
      }
    });
  }
});

test('the module takes no sound outside the ranges, and draws no noise for it', () => {
  const before = core.noiseState;
  for (const [frames, frequency, mode] of [[128, 9, 3], [128, 5001, 3], [128, 780, 4], [128, 780, -1], [core.blockFrames + 1, 780, 3]])
    assert.equal(core.x.zv_synthesize(frames, frequency, mode, 0), 0, `${frames} frames at ${frequency}, mode ${mode}`);
  assert.equal(core.noiseState, before);
});

test('strobe levels, the refresh-rate rule and its message are the native ones', () => {
  for (const frequency of [10, 11, 780, 1667, 2941, 2942, 3333, 4999, 5000]) {
    for (const first of [0, 123457, WRAP - 3000]) {
      const want = referenceText('strobe', frequency, first, 6000).trim().split('\n').map(Number);
      assert.deepEqual(want.map((_, i) => core.strobeLevel(first + i, frequency)), want, `levels at ${frequency} from tick ${first}`);
    }
    for (const refresh of [0, 1, 30, 55.4, 59.94, 60, 75, 100, 144, NaN]) {
      const [shows, ...message] = referenceText('message', frequency, String(refresh)).split('\n');
      assert.equal(core.strobeCanShow(frequency, refresh), shows === '1', `${frequency} at ${refresh} Hz`);
      assert.equal(shows === '1' ? '' : core.strobeLimitMessage(frequency, refresh), message.join('\n'));
    }
  }
});
