// The WebAssembly module against the native core: the same samples, strobe levels,
// messages and texts. The module is driven as the worklet drives it (128 frames at a
// time) and in other pieces, over long renders and across the 2^32 wrap.
import test from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { site, referenceSound, referenceText, noiseAfter, siteModule, firstDifference,
         seeded, MODES } from './reference.mjs';

const { instantiateCore } = await import(pathToFileURL(path.join(site(), 'core.js')));
const module = siteModule();

// Feeds the module's frames, computed in pieces of the given sizes in turn, against the
// reference stream; returns where they first differ, or null.
async function compare(core, { frequency, mode, first, frames, state, pieces }) {
  const want = referenceSound(frequency, mode, first, frames, state);
  let wantBuf = new Int16Array(0), wantAt = 0, done = 0, p = 0;
  while (done < frames) {
    const n = Math.min(pieces[p++ % pieces.length], frames - done);
    const got = core.synthesize(n, frequency, mode, first + done);
    for (let i = 0; i < got.length;) {
      if (wantAt === wantBuf.length) {
        const next = await want.next();
        if (next.done) return `the reference ended at frame ${done}`;
        wantBuf = next.value;
        wantAt = 0;
      }
      const k = Math.min(got.length - i, wantBuf.length - wantAt);
      const diff = firstDifference(got.subarray(i, i + k), wantBuf.subarray(wantAt, wantAt + k),
                                   first + done + i / 2);
      if (diff) { await want.return(); return diff; }
      i += k;
      wantAt += k;
    }
    done += n;
  }
  return null;
}

const RATE = 44100;
const WRAP = 2 ** 32;
const cases = [];
// Every mode at the ends of the range, around the binaural tones' switch (0.20 Hz), the
// default, the stroboscope's limit at 60 Hz and near the top, from frame 0 and across
// the wrap of the frame index, as the worklet's quanta and as whole blocks.
for (const mode of [0, 1, 2, 3]) {
  for (const frequency of [10, 19, 20, 780, 2941, 4999, 5000]) {
    cases.push({ mode, frequency, first: 0, frames: 5 * RATE, pieces: [128] });
    cases.push({ mode, frequency, first: WRAP - 2 * RATE, frames: 4 * RATE, pieces: [12288, 1, 127] });
  }
}
// Long renders: ten minutes of each sounding mode, and starts drawn across the whole
// frame range at frequencies drawn across the whole range.
const random = seeded(20040415);
for (const mode of [1, 2, 3])
  cases.push({ mode, frequency: 10 + Math.floor(random() * 4991), first: 0, frames: 600 * RATE, pieces: [12288] });
for (let i = 0; i < 24; ++i) {
  cases.push({ mode: 1 + (i % 3), frequency: 10 + Math.floor(random() * 4991),
               first: Math.floor(random() * WRAP), frames: 20 * RATE, pieces: [128, 12288, 4000] });
}

test('the module computes the native samples', async (t) => {
  const core = instantiateCore(module);
  for (const c of cases) {
    const state = c.mode === 3 ? 1 + Math.floor(random() * (WRAP - 1)) : 1;
    core.noiseState = state;
    const name = `${MODES[c.mode]} at ${c.frequency / 100} Hz from frame ${c.first}, ${c.frames} frames`;
    await t.test(name, async () => {
      assert.equal(await compare(core, { ...c, state }), null);
      const draws = c.mode === 3 ? c.frames : 0;
      assert.equal(core.noiseState, noiseAfter(state, draws), 'the generator drew once per noise frame, never otherwise');
    });
  }
});

test('the noise runs on from one session into the next', async () => {
  const core = instantiateCore(module);
  assert.equal(core.noiseState, 1, 'a fresh module starts the generator where the desktop does');
  const first = { frequency: 780, mode: 3, first: 0, frames: 3 * RATE + 77, state: 1, pieces: [128] };
  assert.equal(await compare(core, first), null);
  const second = { frequency: 4321, mode: 3, first: 0, frames: 3 * RATE, state: noiseAfter(1, first.frames), pieces: [128] };
  assert.equal(await compare(core, second), null);
});

test('the module takes no sound outside the ranges', () => {
  const core = instantiateCore(module);
  for (const [frames, frequency, mode] of [[128, 0, 1], [128, 9, 1], [128, 5001, 2], [128, 780, 4],
                                           [128, 780, -1], [core.blockFrames + 1, 780, 1]]) {
    assert.equal(core.x.zv_synthesize(frames, frequency, mode, 0), 0, `${frames} frames, ${frequency}, mode ${mode}`);
  }
  assert.equal(core.noiseState, 1);
});

test('strobe levels, the refresh-rate rule and its message are the native ones', () => {
  const core = instantiateCore(module);
  for (const frequency of [10, 11, 780, 1667, 2941, 2942, 3333, 4999, 5000]) {
    for (const first of [0, 123457, WRAP - 3000]) {
      const want = referenceText('strobe', frequency, first, 6000).trim().split('\n').map(Number);
      const got = want.map((_, i) => core.strobeLevel(first + i, frequency));
      assert.deepEqual(got, want, `levels at ${frequency} from tick ${first}`);
    }
    for (const refresh of [0, 1, 30, 55.4, 59.94, 60, 75, 100, 144, NaN]) {
      const [shows, ...message] = referenceText('message', frequency, String(refresh)).split('\n');
      assert.equal(core.strobeCanShow(frequency, refresh), shows === '1', `${frequency} at ${refresh} Hz`);
      assert.equal(shows === '1' ? '' : core.strobeLimitMessage(frequency, refresh), message.join('\n'));
    }
  }
});

test('the panel texts are the control table of the desktop faces', () => {
  const core = instantiateCore(module);
  const lines = [];
  core.controls().forEach((row, i) => {
    lines.push(`control ${['label', 'frequency', 'slider', 'arrows', 'soundList', 'visualList', 'start'].indexOf(row.role)} ${row.text}`);
    for (const caption of row.captions) lines.push(`caption ${caption}`);
    assert.ok(row.role, `control ${i} has a role`);
  });
  lines.push(`selection ${core.initialListSelection}`,
             `range ${core.minFrequency} ${core.defaultFrequency} ${core.maxFrequency}`);
  assert.equal(lines.join('\n') + '\n', referenceText('texts'));
  assert.equal(core.frequencyText(780), '7,80');
  assert.equal(core.frequencyText(5000), '50,00');
});
