// Offline and installable: after one visit the service worker holds the whole site, the
// page loads and a session runs with the server gone, and Chromium finds the app
// installable. The site is exactly what the service worker keeps, so the zip made from
// it holds nothing a static host does not need.
import test from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import { serve, launch, openFace, until, records, site } from './harness.mjs';

test('the site holds what the service worker keeps, and nothing else', () => {
  const kept = /const FILES = \[([^\]]*)\]/.exec(readFileSync(`${site()}/sw.js`, 'utf8'))[1].match(/'[^']+'/g).map((f) => f.slice(1, -1));
  const files = readdirSync(site(), { recursive: true, withFileTypes: true }).filter((e) => e.isFile())
    .map((e) => `${e.parentPath ?? e.path}/${e.name}`.slice(site().length + 1));
  assert.deepEqual(files.sort(), [...kept.filter((f) => f !== './'), 'sw.js'].sort());
});

test('after one visit the face installs, loads and runs a session offline', async () => {
  const server = await serve();
  const context = await launch();
  try {
    let page = await openFace(context, server.url);
    await until(page, async () => navigator.serviceWorker.controller !== null &&
                (await (await caches.open('zarvelin-web')).keys()).length >= 16, undefined, 'the site in the cache');
    const cdp = await context.newCDPSession(page);
    assert.deepEqual((await cdp.send('Page.getAppManifest')).errors, [], 'the manifest parses');
    assert.deepEqual((await cdp.send('Page.getInstallabilityErrors')).installabilityErrors, [], 'Chromium offers to install it');

    await server.close();
    page = await openFace(context, server.url); // the same address, nobody serving it
    assert.equal(await page.textContent('output[data-slot="1"]'), '7,80');
    await page.click('#start');
    await until(page, () => window.zarvelinProbe.session.active?.audio && window.zarvelinProbe.stimulus.painted.length > 10,
                undefined, 'sound and picture offline');
    await page.keyboard.press('k');
    assert.equal((await records(page))[0].ended, 'key');
  } finally {
    await context.close();
    await server.close();
  }
});
