// The face in Chromium at a desktop size, end to end: the panel, sessions started with
// the Start button and ended by keys, what the worklet played (every sample against the
// native core), what the stage showed, the refresh-rate rule, and the other ends.
import test from 'node:test';
import assert from 'node:assert/strict';
import { serve, launch, openFace, choose, probe, sleep } from './browser.mjs';
import { referenceSamples, referenceText, noiseAfter, firstDifference, MODES } from './reference.mjs';
import { tapSound, tappedSession, records, active, until, played, settled } from './session_helpers.mjs';

const server = await serve();
const context = await launch();
const page = await openFace(context, server.url);
test.after(async () => { await context.close(); await server.close(); });

const text = (selector) => page.textContent(selector);
const frequencyShown = () => text('output[data-slot="1"]');

test('the panel is the desktop control window: texts, defaults, arrows, channel, keys', async () => {
  const shown = await page.evaluate(() => [...document.querySelectorAll('#controls [data-slot], #controls select, #controls #start')]
    .map((e) => e.tagName === 'SELECT' ? [...e.options].map((o) => o.text).join('|') + '@' + e.selectedIndex : e.textContent.trim())
    .filter((t) => t !== ''));
  const table = referenceText('texts').split('\n');
  const labels = table.filter((l) => /^control (0|1|6) /.test(l)).map((l) => l.replace(/^control \d /, ''));
  for (const label of labels) assert.ok(shown.includes(label), `the panel shows «${label}»`);
  const captions = table.filter((l) => l.startsWith('caption ')).map((l) => l.slice(8));
  assert.ok(shown.includes(`${captions.slice(0, 4).join('|')}@1`), 'the sound list, the second item chosen');
  assert.ok(shown.includes(`${captions.slice(4).join('|')}@1`), 'the visual list, the second item chosen');
  assert.equal(await frequencyShown(), '7,80');

  // [what is done, the frequency text after it]
  const steps = [
    [() => page.click('.arrows .up'), '7,81'],
    [() => page.click('.arrows .down'), '7,80'],
    [() => page.click('.arrows .down'), '7,79'],
    [async () => { const b = await page.locator('.slider').boundingBox(); await page.mouse.click(b.x + b.width - 5, b.y + b.height / 2); }, '17,77'],
    [async () => { const b = await page.locator('.slider').boundingBox(); await page.mouse.click(b.x + 3, b.y + b.height / 2); }, '7,79'],
    [() => page.keyboard.press('ArrowUp'), '7,78'],
    [() => page.keyboard.press('PageDown'), '17,76'],
    [() => page.keyboard.press('PageUp'), '7,78'],
    [() => page.keyboard.press('Home'), '0,10'],
    [() => page.click('.arrows .down'), '0,10'],
    [() => page.keyboard.press('End'), '50,00'],
    [() => page.click('.arrows .up'), '50,00'],
  ];
  for (const [act, want] of steps) {
    await act();
    assert.equal(await frequencyShown(), want);
  }
  await choose(page, { frequency: 780, sound: 1, visual: 1 });
  assert.equal(await frequencyShown(), '7,80');
});

// Each session: what the panel is set to, the key that ends it, and whether the screen
// shows its strobe. A noise session follows a noise session, so the generator runs on.
const sessions = [
  { frequency: 780, sound: 1, visual: 1, key: 'a' },
  { frequency: 10, sound: 2, visual: 0, key: 'Space' },
  { frequency: 4999, sound: 3, visual: 1, key: 'Enter' },   // told first: no screen shows it
  { frequency: 2941, sound: 3, visual: 0, key: 'Control+Alt+KeyX' },
  { frequency: 1234, sound: 0, visual: 1, key: 'F4' },
];

test('sessions play the native samples, end on a key, and give the panel back', async () => {
  await tapSound(page);
  for (const [i, s] of sessions.entries()) {
    await choose(page, s);
    const refresh = await probe(page, () => window.zarvelinProbe.stimulus.refreshHz());
    const [shows, ...message] = referenceText('message', s.frequency, String(refresh)).split('\n');
    await page.click('#start');
    if (s.visual === 1 && shows === '0') {
      await page.waitForSelector('dialog#limit[open]');
      assert.equal(await text('#limit-text'), message.join('\n'), 'the message the desktop faces show');
      await page.click('dialog#limit button');
    }
    await until(page, (n) => window.zarvelinProbe.session.records.length === n && window.zarvelinProbe.session.active,
                i + 1, 10000, 'the session to start');
    await played(page, 44100);
    // The system keys leave it running.
    for (const key of ['Alt', 'F10', 'Alt+KeyX', 'Alt+F4']) {
      await page.keyboard.press(key);
      assert.equal(await active(page), true, `${key} leaves the session running`);
    }
    await played(page, 66150);
    await page.keyboard.press(s.key);
    assert.equal(await active(page), false, `${s.key} ends the session`);
    await settled(page);
    const r = (await records(page))[i];
    assert.equal(r.ended, 'key');
    assert.equal(r.settings.visual, shows === '0' ? 0 : s.visual, 'a strobe the screen cannot show runs black');
    assert.equal(r.fullscreen, true, 'the session ran full screen');
    assert.equal(await probe(page, () => !!document.fullscreenElement), false);
    assert.equal(await probe(page, () => document.activeElement.id), 'start');
    assert.equal(await page.isEnabled('#start'), true);
    assert.equal(await frequencyShown(), await page.evaluate((f) => window.zarvelinProbe.core.frequencyText(f), s.frequency),
                 'the panel comes back as it was');
  }
  await sleep(500);
  assert.equal((await records(page)).length, sessions.length, 'the key that ended a session started no other');

  // Every sample the worklet played, from frame 0, against the native core.
  let noise = null;
  for (const [i, s] of sessions.entries()) {
    const got = await tappedSession(page, i);
    const name = `${MODES[s.sound]} at ${s.frequency}`;
    assert.equal(got.gap, null, `${name}: the tap heard every quantum`);
    assert.ok(got.frames >= 66150, `${name}: ${got.frames} frames`);
    if (s.sound === 3) {
      assert.equal(got.noiseState, noise === null ? 1 : noiseAfter(noise.state, noise.frames),
                   'the noise runs on from the last noise session');
      noise = { state: got.noiseState, frames: got.frames };
    }
    const want = await referenceSamples(s.frequency, s.sound, 0, got.frames, got.noiseState);
    assert.equal(firstDifference(got.samples, want), null, name);
  }
});

test('a session from a frame near 2^32 plays across the wrap', async () => {
  const first = 2 ** 32 - 44100;
  await page.evaluate((f) => window.zarvelinProbe.session.begin({ frequency: 4321, sound: 1, visual: 0 }, f), first);
  await played(page, 88200);
  await page.keyboard.press('q');
  await settled(page);
  const index = (await records(page)).length - 1;
  const got = await tappedSession(page, index);
  assert.equal(got.gap, null);
  const want = await referenceSamples(4321, 1, first, got.frames, 1);
  assert.equal(firstDifference(got.samples, want, first), null);
});

test('the stage shows the strobe curve at the clock, at the chosen frequency', async () => {
  await choose(page, { frequency: 780, sound: 0, visual: 1 });
  await page.click('#start');
  await until(page, () => window.zarvelinProbe.session.active, undefined, 10000, 'the session');
  // The screen as Chromium composes it: each grey read is one the stage was given.
  const seen = new Set();
  for (let k = 0; k < 12; ++k) {
    const png = await page.screenshot({ clip: { x: 600, y: 380, width: 1, height: 1 }, type: 'png' });
    seen.add(png.toString('base64'));
    await sleep(97);
  }
  await until(page, () => window.zarvelinProbe.stimulus.painted.length > 0 &&
              performance.now() - window.zarvelinProbe.stimulus.painted[0].time > 4000, undefined, 20000, '4 s of frames');
  await page.keyboard.press('x');
  const painted = await probe(page, () => window.zarvelinProbe.stimulus.painted);
  const origin = painted[0].time;
  const last = Math.floor((painted.at(-1).time - origin) / 2);
  const curve = referenceText('strobe', 780, 0, last + 1).trim().split('\n').map(Number);
  for (const p of painted) assert.equal(p.level, curve[Math.floor((p.time - origin) / 2)], `the grey at ${p.time - origin} ms`);
  assert.ok(seen.size >= 3, `the screen changed grey (${seen.size} different)`);
  // The flicker's frequency from the frames: dark after light, counted over the run.
  let cycles = 0, dark = true;
  for (const p of painted) {
    if (dark && p.level > 190) dark = false;
    else if (!dark && p.level < 64) { dark = true; cycles += 1; }
  }
  const seconds = (painted.at(-1).time - origin) / 1000;
  const flicker = 500 / 64; // 500 / ticksPerCycle(780)
  assert.ok(Math.abs(cycles / seconds - flicker) <= 1.5 / seconds, `${cycles} cycles in ${seconds} s, want ${flicker} Hz`);
});

// Chromium under Playwright keeps every page visible (a minimised window or another tab
// included), so the hidden page's end is not driven here; leaving full screen is.
test('leaving full screen ends the session', async () => {
  await choose(page, { frequency: 780, sound: 1, visual: 1 });
  await page.click('#start');
  await until(page, () => window.zarvelinProbe.session.active?.fullscreen, undefined, 10000, 'full screen');
  await page.evaluate(() => document.exitFullscreen());
  await until(page, () => !window.zarvelinProbe.session.active, undefined, 10000, 'the session to end');
  assert.equal((await records(page)).at(-1).ended, 'fullscreen');
  await settled(page);
  assert.equal(await probe(page, () => window.zarvelinProbe.audio.context.state), 'suspended', 'the sound stopped');
  assert.deepEqual(page.zarvelinErrors, []);
});
