// Offline and installable: after one visit the service worker holds the whole site, the
// page loads and a session runs with the server gone, and Chromium finds the app
// installable. The site is exactly what the service worker keeps, so the zip made from
// it holds nothing a static host does not need.
import test from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { serve, launch, openFace } from './browser.mjs';
import { site } from './reference.mjs';
import { until, records } from './session_helpers.mjs';

function filesUnder(dir, prefix = '') {
  return readdirSync(dir, { withFileTypes: true }).flatMap((e) =>
    e.isDirectory() ? filesUnder(path.join(dir, e.name), `${prefix}${e.name}/`) : [`${prefix}${e.name}`]);
}

test('the site holds what the service worker keeps, and nothing else', () => {
  const kept = JSON.parse(/const FILES = (\[[^\]]*\])/s.exec(readFileSync(path.join(site(), 'sw.js'), 'utf8'))[1]
    .replace(/'/g, '"').replace(/,\s*\]/, ']'));
  assert.deepEqual(filesUnder(site()).sort(), [...kept.filter((f) => f !== './'), 'sw.js'].sort());
});

test('after one visit the face installs, loads and runs a session offline', async () => {
  const server = await serve();
  const context = await launch();
  try {
    let page = await openFace(context, server.url);
    await page.evaluate(() => navigator.serviceWorker.ready);
    await until(page, () => navigator.serviceWorker.controller !== null, undefined, 10000, 'the service worker to take the page');
    await until(page, async () => (await (await caches.open('zarvelin-web')).keys()).length >= 16,
                undefined, 10000, 'the site in the cache');
    const cdp = await context.newCDPSession(page);
    const manifest = await cdp.send('Page.getAppManifest');
    assert.deepEqual(manifest.errors, [], 'the manifest parses');
    const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
    assert.deepEqual(installabilityErrors, [], 'Chromium offers to install it');

    await server.close();
    page = await openFace(context, server.url); // the same address, nobody serving it
    assert.equal(await page.textContent('output[data-slot="1"]'), '7,80');
    await page.click('#start');
    await until(page, () => window.zarvelinProbe.heard.some((m) => m.type === 'started') &&
                window.zarvelinProbe.stimulus.painted.length > 10, undefined, 10000, 'sound and picture offline');
    await page.keyboard.press('k');
    assert.equal((await records(page))[0].ended, 'key');
  } finally {
    await context.close();
    await server.close();
  }
});
