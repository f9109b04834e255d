// The web tests' one harness: the built site served on localhost (a secure context, so
// the worklet and the service worker run), and Debian's Chromium driven by playwright-core.
import http from 'node:http';
import { createRequire } from 'node:module';
import { mkdtempSync, readFileSync, rmSync, statSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { site } from './reference.mjs';

const npm = process.env.ZARVELIN_WEB_NPM;
if (!npm) throw new Error('ZARVELIN_WEB_NPM is not set: run the web tests through ctest in the web build tree');
const { chromium } = createRequire(path.join(npm, 'package.json'))('playwright-core');

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8', '.wasm': 'application/wasm', '.png': 'image/png',
  '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json',
};

// A static server of `root` on 127.0.0.1; `close()` stops it, connections and all.
export async function serve(root = site(), port = 0) {
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://localhost');
    let file = path.join(root, decodeURIComponent(url.pathname));
    if (!file.startsWith(root)) { res.writeHead(403).end(); return; }
    try {
      if (statSync(file).isDirectory()) file = path.join(file, 'index.html');
      const body = readFileSync(file);
      res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream',
                           'Cache-Control': 'no-cache' });
      res.end(body);
    } catch {
      res.writeHead(404).end('not found');
    }
  });
  await new Promise((resolve) => server.listen(port, '127.0.0.1', resolve));
  const sockets = new Set();
  server.on('connection', (s) => { sockets.add(s); s.on('close', () => sockets.delete(s)); });
  return {
    url: `http://localhost:${server.address().port}/`,
    port: server.address().port,
    close: () => new Promise((resolve) => { sockets.forEach((s) => s.destroy()); server.close(resolve); }),
  };
}

// Chromium headless with its sound on (Playwright would mute it) and nothing it would
// fetch from outside; a fresh profile, removed on close.
export async function launch(options = {}) {
  const profile = mkdtempSync(path.join(os.tmpdir(), 'zarvelin-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.ZARVELIN_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    ignoreDefaultArgs: ['--mute-audio'],
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--autoplay-policy=no-user-gesture-required'],
    viewport: { width: 1280, height: 800 },
    ...options,
  });
  const close = context.close.bind(context);
  context.close = async () => { await close(); rmSync(profile, { recursive: true, force: true }); };
  return context;
}

// Opens the page and waits until the panel is built from the module.
export async function openFace(context, url) {
  const page = context.pages()[0] ?? await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]');
  page.zarvelinErrors = errors;
  return page;
}

// Sets the panel by its controls as a visitor would: the lists, then the arrows and the
// slider's channel until the frequency is `frequency`.
export async function choose(page, { frequency, sound, visual }) {
  await page.selectOption('select[name="soundList"]', String(sound));
  await page.selectOption('select[name="visualList"]', String(visual));
  await page.focus('[role="slider"]');
  for (;;) {
    const now = await page.evaluate(() => window.zarvelinProbe.panel.position);
    if (now === frequency) return;
    const gap = frequency - now;
    if (Math.abs(gap) >= 998) await page.keyboard.press(gap > 0 ? 'PageDown' : 'PageUp');
    else if (Math.abs(gap) >= 20) await page.keyboard.press(gap > 0 ? 'ArrowRight' : 'ArrowLeft', { delay: 0 });
    else await page.click(gap > 0 ? '.arrows .up' : '.arrows .down');
    if (Math.abs(gap) >= 20 && Math.abs(gap) < 998) {
      // many single steps at once rather than one round trip each
      await page.evaluate((g) => window.zarvelinProbe.panel.moveTo(window.zarvelinProbe.panel.position + g), gap);
    }
  }
}

export const probe = (page, f) => page.evaluate(f);
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
