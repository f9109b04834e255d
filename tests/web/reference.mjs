// The native core (web_reference, built for the host from the same sources) as the web
// tests ask it, and the built site they test.
import { spawn, execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import path from 'node:path';

function need(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run the web tests through ctest in the web build tree`);
  return value;
}
export const site = () => need('ZARVELIN_WEB_SITE');
const reference = () => need('ZARVELIN_WEB_REFERENCE');

export function referenceText(...args) {
  return execFileSync(reference(), args.map(String), { encoding: 'utf8' });
}

// The reference's samples as a stream of Int16Array chunks.
export async function* referenceSound(frequency, mode, first, frames, state) {
  const child = spawn(reference(), ['sound', frequency, mode, first, frames, state].map(String),
                      { stdio: ['ignore', 'pipe', 'inherit'] });
  const done = new Promise((resolve) => child.on('close', resolve));
  let carry = Buffer.alloc(0);
  for await (const chunk of child.stdout) {
    const data = carry.length ? Buffer.concat([carry, chunk]) : chunk;
    const whole = data.length - (data.length % 2);
    const copy = Uint8Array.prototype.slice.call(data, 0, whole);
    carry = data.subarray(whole);
    yield new Int16Array(copy.buffer, 0, whole / 2);
  }
  const status = await done;
  if (status !== 0) throw new Error(`web_reference sound failed with status ${status}`);
}

export async function referenceSamples(frequency, mode, first, frames, state) {
  const out = new Int16Array(frames * 2);
  let at = 0;
  for await (const chunk of referenceSound(frequency, mode, first, frames, state)) {
    out.set(chunk, at);
    at += chunk.length;
  }
  return out;
}

export function noiseAfter(state, draws) {
  return Number(referenceText('noise', state, draws).trim());
}

export function siteModule() {
  return new WebAssembly.Module(readFileSync(path.join(site(), 'zarvelin.wasm')));
}

// Where two sample arrays first differ, as a message naming the frame; null if equal.
export function firstDifference(got, want, firstFrame = 0) {
  const n = Math.min(got.length, want.length);
  for (let i = 0; i < n; ++i) {
    if (got[i] !== want[i]) {
      const f = i >> 1;
      return `frame ${firstFrame + f} (${f} into the stretch): got [${got[2 * f]}, ${got[2 * f + 1]}], ` +
             `want [${want[2 * f]}, ${want[2 * f + 1]}]`;
    }
  }
  return got.length === want.length ? null : `${got.length / 2} frames, want ${want.length / 2}`;
}

// A fixed generator, so every run draws the same "random" cases.
export function seeded(seed) {
  let s = seed >>> 0;
  return () => {
    s = (Math.imul(s, 1664525) + 1013904223) >>> 0;
    return s / 2 ** 32;
  };
}

export const MODES = ['none', 'binaural', 'beeps', 'noise'];
