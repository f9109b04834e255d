// The face on an emulated phone (touch, 390 px wide, and 360): the panel fits with no
// sideways scrolling, every control works by touch, a tap on Start starts a session and
// a tap anywhere ends it, and that tap reaches nothing under the stage.
import test from 'node:test';
import assert from 'node:assert/strict';
import { serve, launch, openFace, until, records, settled, sleep } from './harness.mjs';

const server = await serve();
const context = await launch({ viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true, deviceScaleFactor: 2 });
const page = await openFace(context, server.url);
test.after(async () => { await context.close(); await server.close(); });
const shown = () => page.textContent('output[data-slot="1"]');
const box = (selector) => page.locator(selector).boundingBox();

test('the panel fits a phone with no sideways scrolling; every control works by touch, and the tap that ends', async () => {
  for (const width of [360, 390]) {
    await page.setViewportSize({ width, height: 800 });
    const client = await page.evaluate(() => document.documentElement.clientWidth);
    assert.equal(await page.evaluate(() => document.documentElement.scrollWidth), client, `${width} px`);
    for (const selector of ['#warning', '.slider', 'select[name="soundList"]', 'select[name="visualList"]', '#start', '.arrows .up']) {
      const b = await box(selector);
      assert.ok(b.x >= 0 && b.x + b.width <= client, `${width} px: ${selector} lies within the screen`);
    }
  }
  const channel = async (right) => { const b = await box('.slider'); await page.touchscreen.tap(right ? b.x + b.width - 4 : b.x + 2, b.y + b.height / 2); };
  for (const [act, want] of [[() => page.tap('.arrows .up'), '7,81'], [() => page.tap('.arrows .down'), '7,80'],
                             [() => channel(true), '17,78'], [() => channel(false), '7,80']]) {
    await act();
    assert.equal(await shown(), want);
  }
  await page.selectOption('select[name="soundList"]', '2'); // the phone's own picker, which no page drives

  await page.tap('#start');
  await until(page, () => window.zarvelinProbe.session.active?.audio, undefined, 'the session and its sound');
  assert.equal(await page.isVisible('#stage'), true);
  const start = await box('#start'); // right over Start: a tap going through would start another
  await sleep(1000);
  await page.touchscreen.tap(start.x + start.width / 2, start.y + start.height / 2);
  await until(page, () => !window.zarvelinProbe.session.active, undefined, 'the tap to end the session');
  await settled(page);
  await sleep(1000);
  const all = await records(page);
  assert.deepEqual(all.map((r) => [r.ended, r.settings]), [['tap', { frequency: 780, sound: 2, visual: 1 }]], 'one session, ended by the tap');
  assert.deepEqual([await page.isVisible('#stage'), await page.isEnabled('#start')], [false, true]);

  // Last: after a touch drag sent through the DevTools protocol, Chromium sends no click
  // for the next tap on any page (a bare page with a button does the same).
  const cdp = await context.newCDPSession(page);
  const touch = (type, x, y) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints: type === 'touchEnd' ? [] : [{ x, y }] });
  const [thumb, slider] = [await box('.slider .thumb'), await box('.slider')];
  const y = thumb.y + thumb.height / 2;
  await touch('touchStart', thumb.x + thumb.width / 2, y);
  for (let x = thumb.x; x <= slider.x + slider.width + 20; x += 25) await touch('touchMove', x, y);
  await touch('touchEnd');
  assert.equal(await shown(), '50,00');
  assert.deepEqual(page.zarvelinErrors, []);
});
