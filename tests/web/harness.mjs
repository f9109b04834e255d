// The web tests' one harness: the built site, the native core it is held to
// (web_reference, built for the host from the same sources), a static server on
// localhost (a secure context, so the worklet and the service worker run), Debian's
// Chromium driven by playwright-core, and what the tests do with a running face.
import assert from 'node:assert/strict';
import http from 'node:http';
import { spawn, execFileSync } from 'node:child_process';
import { once } from 'node:events';
import { createRequire } from 'node:module';
import { mkdtempSync, readFileSync, rmSync, statSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const need = (name) => process.env[name] || assert.fail(`${name} is not set: run the web tests through ctest in the web build tree`);
export const site = () => need('ZARVELIN_WEB_SITE');
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
export const MODES = ['none', 'binaural', 'beeps', 'noise'];

export const referenceText = (...args) => execFileSync(need('ZARVELIN_WEB_REFERENCE'), args.map(String), { encoding: 'utf8' });

// `frames` frames of the native sound from frame `first`, the noise generator at `state`:
// {samples (Int16Array, interleaved), state (the generator's after them)}.
export function referenceSound(frequency, mode, first, frames, state) {
  const out = execFileSync(need('ZARVELIN_WEB_REFERENCE'), ['sound', frequency, mode, first, frames, state].map(String),
                           { maxBuffer: 4 * frames + 16 });
  return { samples: new Int16Array(Uint8Array.prototype.slice.call(out, 0, 4 * frames).buffer), state: out.readUInt32LE(4 * frames) };
}

// Where two runs of interleaved samples first differ, naming the frame; null if equal.
export function firstDifference(got, want, first = 0) {
  const i = got.findIndex((v, k) => v !== want[k]);
  const f = i >> 1;
  if (i >= 0) return `frame ${first + f} (${f} in): got [${got[2 * f]}, ${got[2 * f + 1]}], want [${want[2 * f]}, ${want[2 * f + 1]}]`;
  return got.length === want.length ? null : `${got.length / 2} frames, want ${want.length / 2}`;
}

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm', '.png': 'image/png',
                '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json' };

// The site on 127.0.0.1; `close()` stops it, open connections and all.
export async function serve(root = site()) {
  const sockets = new Set();
  const server = http.createServer((req, res) => {
    let file = path.join(root, decodeURIComponent(new URL(req.url, 'http://localhost').pathname));
    try {
      if (!file.startsWith(root)) throw new Error('outside the site');
      if (statSync(file).isDirectory()) file = path.join(file, 'index.html');
      const body = readFileSync(file);
      res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream', 'Cache-Control': 'no-cache' }).end(body);
    } catch {
      res.writeHead(404).end();
    }
  }).on('connection', (s) => { sockets.add(s); s.on('close', () => sockets.delete(s)); });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { url: `http://localhost:${server.address().port}/`,
           close: () => new Promise((resolve) => { sockets.forEach((s) => s.destroy()); server.close(resolve); }) };
}

// Chromium headless on a fresh profile, its sound on, nothing fetched from outside.
// Playwright's own launch keeps every page visible (its focus emulation counts as a
// screen capture); attached with no defaults instead, the browser's own context shows
// and hides its pages as a window does: a tab opened in front hides the one behind.
// `emulation` (a phone's touch and width) needs a context of Playwright's making.
export async function launch({ viewport = { width: 1280, height: 800 }, ...emulation } = {}) {
  const { chromium } = createRequire(path.join(need('ZARVELIN_WEB_NPM'), 'package.json'))('playwright-core');
  const profile = mkdtempSync(path.join(os.tmpdir(), 'zarvelin-chromium-'));
  const child = spawn(process.env.ZARVELIN_CHROMIUM || '/usr/bin/chromium', [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-sync',
    '--disable-background-networking', '--disable-component-update', '--autoplay-policy=no-user-gesture-required',
    `--window-size=${viewport.width},${viewport.height}`, '--remote-debugging-port=0', `--user-data-dir=${profile}`,
    'about:blank'], { stdio: 'ignore' });
  let endpoint = null;
  for (let waited = 0; !endpoint; waited += 50) {
    if (waited > 30000 || child.exitCode !== null) throw new Error('Chromium did not open its DevTools port');
    await sleep(50);
    try { endpoint = /^(\d+)\n(\S+)/.exec(readFileSync(path.join(profile, 'DevToolsActivePort'), 'utf8')); } catch { /* not yet */ }
  }
  const browser = await chromium.connectOverCDP(`ws://127.0.0.1:${endpoint[1]}${endpoint[2]}`, { noDefaults: true });
  const own = Object.keys(emulation).length === 0;
  const context = own ? browser.contexts()[0] : await browser.newContext({ viewport, ...emulation });
  context.viewport = viewport;
  context.pid = child.pid; // for the benchmarks' processor time
  context.close = async () => { // Chromium closes itself, every process of it, then its profile goes
    await (await browser.newBrowserCDPSession()).send('Browser.close').catch(() => {});
    if (child.exitCode === null && child.signalCode === null) await once(child, 'exit');
    rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
  };
  return context;
}

// Opens the page and waits until the panel is built from the module; errors it logs are
// kept in `page.zarvelinErrors`.
export async function openFace(context, url) {
  const page = context.pages()[0] ?? await context.newPage();
  page.zarvelinErrors = [];
  page.on('pageerror', (e) => page.zarvelinErrors.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') page.zarvelinErrors.push(m.text()); });
  await page.setViewportSize(context.viewport);
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]');
  return page;
}

// Waits until `test` (run in the page) holds: a deadline against a hang, not a speed.
export async function until(page, test, arg, what = 'the page to get there', ms = 20000) {
  for (const deadline = Date.now() + ms; !(await page.evaluate(test, arg));) {
    if (Date.now() > deadline) throw new Error(`waited ${ms} ms for ${what}`);
    await sleep(20);
  }
}

// Sets the panel as a visitor would: the lists, then the slider's keys, the arrows.
export async function choose(page, { frequency, sound, visual }) {
  await page.selectOption('select[name="soundList"]', String(sound));
  await page.selectOption('select[name="visualList"]', String(visual));
  await page.focus('[role="slider"]');
  for (let now; (now = await page.evaluate(() => window.zarvelinProbe.panel.position)) !== frequency;) {
    const gap = frequency - now;
    if (Math.abs(gap) >= 998) await page.keyboard.press(gap > 0 ? 'PageDown' : 'PageUp');
    else if (Math.abs(gap) >= 20) await page.evaluate((g) => window.zarvelinProbe.panel.moveTo(window.zarvelinProbe.panel.position + g), gap - Math.sign(gap));
    else await page.click(gap > 0 ? '.arrows .up' : '.arrows .down');
  }
}

export const records = (page) => page.evaluate(() => window.zarvelinProbe.session.records.map(
  ({ settings, told, fullscreen, ended, audio, frames }) => ({ settings, told, fullscreen, ended, audio, frames })));

// The session's end has reached the worklet: its frame count is in.
export const settled = (page) => until(page, () => window.zarvelinProbe.session.records.every((r) => !r.audio || r.frames !== undefined),
                                       undefined, 'the worklet to report the session stopped');
