// The face in Chromium at a desktop size, end to end: the panel, sessions started with
// Start and ended by keys, every sample the worklet played against the native core and
// what the sound server played (the private null sink of tests/scripts/with-pulse.sh,
// recorded by the project's recorder), the refresh-rate rule, the stage's greys at the
// clock, and the ends by leaving full screen and by the page being hidden.
import test from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { once } from 'node:events';
import os from 'node:os';
import path from 'node:path';
import { serve, launch, openFace, choose, until, records, settled, sleep, referenceSound, referenceText,
         firstDifference, MODES } from './harness.mjs';

const server = await serve();
const context = await launch();
const page = await openFace(context, server.url);
const work = mkdtempSync(path.join(os.tmpdir(), 'zarvelin-web-'));
test.after(async () => { await context.close(); await server.close(); rmSync(work, { recursive: true, force: true }); });
const shown = () => page.textContent('output[data-slot="1"]');
const active = () => page.evaluate(() => window.zarvelinProbe.session.active !== null);

test('the panel is the desktop control window: texts, defaults, arrows, channel, keys', async () => {
  const table = referenceText('texts').split('\n');
  const panel = await page.textContent('#controls');
  for (const label of table.filter((l) => /^control [016] /.test(l))) assert.ok(panel.includes(label.slice(10)), label);
  const captions = table.filter((l) => l.startsWith('caption ')).map((l) => l.slice(8));
  for (const [name, want] of [['soundList', captions.slice(0, 4)], ['visualList', captions.slice(4)]]) {
    assert.deepEqual(await page.$$eval(`select[name=${name}] option`, (o) => o.map((e) => e.text)), want);
    assert.equal(await page.$eval(`select[name=${name}]`, (e) => e.selectedIndex), 1);
  }
  assert.equal(await shown(), '7,80');
  const channel = async (right) => {
    const b = await page.locator('.slider').boundingBox();
    await page.mouse.click(right ? b.x + b.width - 5 : b.x + 3, b.y + b.height / 2);
  };
  for (const [act, want] of [
    [() => page.click('.arrows .up'), '7,81'], [() => page.click('.arrows .down'), '7,80'],
    [() => page.click('.arrows .down'), '7,79'], [() => channel(true), '17,77'], [() => channel(false), '7,79'],
    [() => page.keyboard.press('ArrowUp'), '7,78'], [() => page.keyboard.press('PageDown'), '17,76'],
    [() => page.keyboard.press('PageUp'), '7,78'], [() => page.keyboard.press('Home'), '0,10'],
    [() => page.click('.arrows .down'), '0,10'], [() => page.keyboard.press('End'), '50,00'],
    [() => page.click('.arrows .up'), '50,00']]) {
    await act();
    assert.equal(await shown(), want);
  }
});

// After the synthesis node, a processor that hands on every quantum it hears, stamped
// with the context's frame; it passes nothing on, so the page plays as before.
const TAP = `registerProcessor('zarvelin-tap', class extends AudioWorkletProcessor {
  process([input]) {
    if (input.length === 2) this.port.postMessage({ at: currentFrame, left: input[0].slice(), right: input[1].slice() });
    return true;
  }
});`;

// What session `i` played, as the tap heard it from its first quantum, in order (the
// context's frame may jump while it starts; the samples may not).
async function tapped(i) {
  const got = await page.evaluate((i) => {
    const r = window.zarvelinProbe.session.records[i];
    const stamps = [...window.tapped.keys()].sort((a, b) => a - b).filter((at) => at >= r.audio.at);
    const out = new Int16Array(2 * Math.min(r.frames, 128 * stamps.length));
    for (let f = 0; f < out.length / 2; ++f) {
      const q = window.tapped.get(stamps[f >> 7]);
      out[2 * f] = q.left[f & 127] * 32768;
      out[2 * f + 1] = q.right[f & 127] * 32768;
    }
    return { ...r.audio, frames: r.frames, samples: [...new Uint8Array(out.buffer)] };
  }, i);
  return { ...got, samples: new Int16Array(new Uint8Array(got.samples).buffer) };
}

// Each session: the panel's settings, the key that ends it, and (started by the page's
// own call, as no visitor can) a first frame near 2^32. Noise follows noise, so the
// generator must run on.
const sessions = [
  { frequency: 780, sound: 1, visual: 1, key: 'a' },
  { frequency: 10, sound: 2, visual: 0, key: 'Space' },
  { frequency: 4999, sound: 3, visual: 1, key: 'Enter' },   // told first: no screen shows it
  { frequency: 2941, sound: 3, visual: 0, key: 'Control+Alt+KeyX' },
  { frequency: 1234, sound: 0, visual: 1, key: 'F4' },
  { frequency: 4321, sound: 1, visual: 0, key: 'q', first: 2 ** 32 - 44100 },
];

test('sessions play the native samples, at the sink too, end on a key but the system keys, give the panel back', async () => {
  // The project's recorder takes the sink for as long as its command runs: one that says
  // so once the monitor delivers, then waits for its input. No session starts before.
  const recorder = [process.env.ZARVELIN_PULSE_RECORDING];
  const rec = spawn('python3', [...recorder, 'record', `${work}/heard.wav`, '--', 'python3', '-c',
                                'import sys; print("recording", flush=True); sys.stdin.read()'],
                    { stdio: ['pipe', 'pipe', 'inherit'] });
  const recording = new Promise((resolve, reject) => {
    rec.stdout.on('data', (d) => {
      process.stdout.write(d);
      if (String(d).includes('recording')) resolve();
    });
    rec.on('close', (code) => reject(new Error(`the recorder ended (${code}) before it recorded`)));
  });
  await page.evaluate(async (source) => {
    const { audio } = window.zarvelinProbe;
    await audio.prepare();
    await audio.context.audioWorklet.addModule(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
    const tap = new AudioWorkletNode(audio.context, 'zarvelin-tap', { numberOfInputs: 1, numberOfOutputs: 1,
      outputChannelCount: [2], channelCount: 2, channelCountMode: 'explicit', channelInterpretation: 'discrete' });
    window.tapped = new Map();
    tap.port.onmessage = (e) => window.tapped.set(e.data.at, e.data);
    audio.node.connect(tap);
    tap.connect(audio.context.destination);
  }, TAP);
  const heard = (n) => until(page, (n) => {
    const r = window.zarvelinProbe.session.records.at(-1);
    return r.audio && [...window.tapped.keys()].filter((at) => at >= r.audio.at).length * 128 >= n;
  }, n, `${n} frames of sound`);
  await recording;
  for (const [i, s] of sessions.entries()) {
    const refresh = await page.evaluate(() => window.zarvelinProbe.stimulus.refreshHz());
    const [shows, ...message] = referenceText('message', s.frequency, String(refresh)).split('\n');
    const before = s.first ? await shown() : null;
    if (s.first) {
      await page.evaluate((s) => window.zarvelinProbe.session.begin(s, s.first), s);
    } else {
      await choose(page, s);
      await page.click('#start');
      if (s.visual === 1 && shows === '0') {
        await page.waitForSelector('dialog#limit[open]');
        assert.equal(await page.textContent('#limit-text'), message.join('\n'), 'the message the desktop faces show');
        await page.click('dialog#limit button');
      }
    }
    await until(page, (n) => window.zarvelinProbe.session.records.length === n && window.zarvelinProbe.session.active, i + 1);
    await heard(44100);
    for (const key of ['Alt', 'F10', 'Alt+KeyX', 'Alt+F4']) {
      await page.keyboard.press(key);
      assert.equal(await active(), true, `${key} leaves the session running`);
    }
    await heard(66150);
    await page.keyboard.press(s.key);
    assert.equal(await active(), false, `${s.key} ends the session`);
    await settled(page);
    const r = (await records(page))[i];
    assert.equal(r.settings.visual, shows === '0' ? 0 : s.visual, 'a strobe the screen cannot show runs black');
    assert.deepEqual([r.ended, r.fullscreen], ['key', true]);
    assert.deepEqual(await page.evaluate(() => [!!document.fullscreenElement, document.activeElement.id]), [false, 'start']);
    assert.equal(await shown(), before ?? await page.evaluate((f) => window.zarvelinProbe.core.frequencyText(f), s.frequency));
  }
  await sleep(500);
  assert.equal((await records(page)).length, sessions.length, 'the key that ended a session started no other');
  rec.stdin.end();
  assert.deepEqual(await once(rec, 'close'), [0, null], 'the recorder ran');

  let noise = 1;
  for (const [i, s] of sessions.entries()) {
    const got = await tapped(i);
    const name = `${MODES[s.sound]} at ${s.frequency}`;
    assert.equal(got.samples.length, 2 * got.frames, `${name}: the tap heard all ${got.frames} frames`);
    assert.ok(got.frames >= 66150, `${name}: ${got.frames} frames`);
    if (s.sound === 3) assert.equal(got.noiseState, noise, 'the noise runs on from the last noise session');
    const want = referenceSound(s.frequency, s.sound, s.first ?? 0, got.frames, got.noiseState);
    if (s.sound === 3) noise = want.state;
    assert.equal(firstDifference(got.samples, want.samples, s.first), null, name);
    writeFileSync(`${work}/session-${i}.raw`, want.samples);
  }
  // The sink may insert silence under load, never alter a sample: each sounding session
  // must be heard for a second of its 1.5 s at least, in order.
  const sounding = [...sessions.keys()].filter((i) => sessions[i].sound > 0).map((i) => `${work}/session-${i}.raw`);
  const checked = spawnSync('python3', [...recorder, 'check', '44100', `${work}/heard.wav`, ...sounding], { encoding: 'utf8' });
  assert.equal(checked.status, 0, checked.stdout + checked.stderr);
});

test('the stage shows the strobe curve at the clock', async () => {
  await choose(page, { frequency: 780, sound: 0, visual: 1 });
  await page.click('#start');
  const seen = new Set(); // the screen as Chromium composes it
  for (let k = 0; k < 12; ++k, await sleep(97)) {
    seen.add((await page.screenshot({ clip: { x: 600, y: 380, width: 1, height: 1 } })).toString('base64'));
  }
  await until(page, () => performance.now() - (window.zarvelinProbe.stimulus.painted[0]?.time ?? Infinity) > 4000);
  await page.keyboard.press('x');
  const painted = await page.evaluate(() => window.zarvelinProbe.stimulus.painted);
  const at = (p) => Math.floor((p.time - painted[0].time) / 2);
  const curve = referenceText('strobe', 780, 0, at(painted.at(-1)) + 1).trim().split('\n').map(Number);
  for (const p of painted) assert.equal(p.level, curve[at(p)], `the grey at tick ${at(p)}`);
  assert.ok(seen.size >= 3, `the screen changed grey (${seen.size} different)`);
});

// Chromium itself hides the page when another tab comes to the front, as for a locked
// screen. It leaves full screen first, which ends a session by itself, so the hidden page
// gets a session on a browser without full screen (an iPhone's) to end alone.
const settings = { frequency: 780, sound: 2, visual: 1 };
for (const [reason, begin, leave, back] of [
  ['fullscreen', () => page.click('#start'), () => page.evaluate(() => document.exitFullscreen()), () => {}],
  ['hidden', async () => {
    await page.evaluate(() => { document.documentElement.requestFullscreen = undefined; });
    await page.click('#start');
  }, () => context.newPage(), async (other) => {
    await other.close();
    await page.bringToFront();
    await page.evaluate(() => { delete document.documentElement.requestFullscreen; });
  }],
]) {
  test(`the session ends on ${reason}: the sound stops, the panel comes back`, async () => {
    await choose(page, settings);
    await begin();
    await until(page, (full) => window.zarvelinProbe.session.active?.audio && window.zarvelinProbe.session.active.fullscreen === full,
                reason === 'fullscreen');
    const left = await leave();
    await until(page, () => !window.zarvelinProbe.session.active, undefined, 'the session to end');
    await settled(page);
    assert.equal((await records(page)).at(-1).ended, reason);
    if (reason === 'hidden') {
      assert.deepEqual(await page.evaluate(() => [document.visibilityState, window.zarvelinProbe.audio.context.state]), ['hidden', 'suspended']);
    }
    await back(left);
    assert.deepEqual(await page.evaluate(() => [document.visibilityState, document.getElementById('stage').hidden,
                                                document.getElementById('start').disabled]), ['visible', true, false]);
    assert.deepEqual(page.zarvelinErrors, []);
  });
}
