// The face on an emulated phone (touch, 390 px wide, and 360): the panel fits with no
// sideways scrolling, every control works by touch, a tap on Start starts a session and
// a tap anywhere ends it, and that tap reaches nothing under the stage.
import test from 'node:test';
import assert from 'node:assert/strict';
import { serve, launch, openFace, sleep } from './browser.mjs';
import { records, until } from './session_helpers.mjs';

const server = await serve();
const context = await launch({ viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true, deviceScaleFactor: 2 });
const page = await openFace(context, server.url);
test.after(async () => { await context.close(); await server.close(); });

const shown = () => page.textContent('output[data-slot="1"]');
const centre = async (selector) => {
  const b = await page.locator(selector).boundingBox();
  return { x: b.x + b.width / 2, y: b.y + b.height / 2, box: b };
};

test('the panel fits a phone with no sideways scrolling', async () => {
  for (const width of [390, 360]) {
    await page.setViewportSize({ width, height: 800 });
    const [scroll, client] = await page.evaluate(() => [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
    assert.ok(scroll <= client, `${width} px: the page is ${scroll} px wide in ${client}`);
    for (const selector of ['#warning', '.slider', 'select[name="soundList"]', 'select[name="visualList"]', '#start', '.arrows .up']) {
      const b = await page.locator(selector).boundingBox();
      assert.ok(b.x >= 0 && b.x + b.width <= client, `${width} px: ${selector} lies within the screen`);
    }
  }
});

test('every control works by touch', async () => {
  // [what is touched, the frequency text after it]
  const steps = [
    [() => page.tap('.arrows .up'), '7,81'],
    [() => page.tap('.arrows .down'), '7,80'],
    [async () => { const { box } = await centre('.slider'); await page.touchscreen.tap(box.x + box.width - 4, box.y + box.height / 2); }, '17,78'],
    [async () => { const { box } = await centre('.slider'); await page.touchscreen.tap(box.x + 2, box.y + box.height / 2); }, '7,80'],
  ];
  for (const [act, want] of steps) {
    await act();
    assert.equal(await shown(), want);
  }
  // A list opens the phone's own picker, which no page can drive; its choice is the same.
  await page.selectOption('select[name="soundList"]', '2');
});

test('a tap on Start starts a session, a tap anywhere ends it, and nothing under it is hit', async () => {
  await page.tap('#start');
  await until(page, () => window.zarvelinProbe.session.active && window.zarvelinProbe.heard.some((m) => m.type === 'started'),
              undefined, 10000, 'the session and its sound');
  assert.equal(await page.isVisible('#stage'), true);
  // Right over Start, so a tap that went through would start the next session.
  const start = await centre('#start');
  await sleep(1000);
  await page.touchscreen.tap(start.x, start.y);
  await until(page, () => !window.zarvelinProbe.session.active, undefined, 10000, 'the tap to end the session');
  await sleep(1000);
  const all = await records(page);
  assert.equal(all.length, 1, 'the tap that ended the session started no other');
  assert.equal(all[0].ended, 'tap');
  assert.deepEqual(all[0].settings, { frequency: 780, sound: 2, visual: 1 });
  assert.equal(await page.isVisible('#stage'), false);
  assert.equal(await page.isEnabled('#start'), true);
  assert.equal(await page.evaluate(() => window.zarvelinProbe.audio.context.state), 'suspended');
  assert.deepEqual(page.zarvelinErrors, []);
});

// Last: after a touch drag sent through the DevTools protocol, Chromium sends no click for
// the next tap on any page (a bare page with a button does the same).
test('the thumb drags by touch', async () => {
  const cdp = await context.newCDPSession(page);
  const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints: points });
  const thumb = await centre('.slider .thumb');
  const { box } = await centre('.slider');
  await touch('touchStart', [{ x: thumb.x, y: thumb.y }]);
  for (let x = thumb.x; x <= box.x + box.width + 20; x += 25) await touch('touchMove', [{ x, y: thumb.y }]);
  await touch('touchEnd', []);
  assert.equal(await shown(), '50,00');
});
