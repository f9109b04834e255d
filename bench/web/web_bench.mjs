// The web face's figures (run by bench/web/run.sh, beside a private PulseAudio sink):
//   synthesis    the module in an audio worklet, per mode: real-time factor on one core
//   download     what a visitor downloads (the whole site, which the service worker
//                keeps), each file gzipped
//   latency      Start click to the first sound at the sink, a key to the last sound
//   cpu          Chromium's processor time during a stroboscope session at 1920x1080
import { spawn } from 'node:child_process';
import { readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { serve, launch, openFace, choose, sleep } from '../../tests/web/browser.mjs';
import { site } from '../../tests/web/reference.mjs';

const now = () => process.hrtime.bigint();
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const percentile = (xs, p) => [...xs].sort((a, b) => a - b)[Math.min(xs.length - 1, Math.floor(xs.length * p))];

function download() {
  const walk = (dir) => readdirSync(dir, { withFileTypes: true })
    .flatMap((e) => (e.isDirectory() ? walk(path.join(dir, e.name)) : [path.join(dir, e.name)]));
  let raw = 0, gz = 0, wasm = 0;
  for (const file of walk(site())) {
    const data = readFileSync(file);
    const packed = zlib.gzipSync(data, { level: 9 }).length;
    raw += data.length;
    gz += packed;
    if (file.endsWith('.wasm')) wasm = packed;
  }
  return { raw_kb: +(raw / 1024).toFixed(1), gzipped_kb: +(gz / 1024).toFixed(1), wasm_gzipped_kb: +(wasm / 1024).toFixed(1) };
}

// The module in a worklet of its own: one minute of each mode in 128-frame calls.
const SYNTH_BENCH = `import { instantiateCore } from './core.js';
registerProcessor('zarvelin-bench', class extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const core = instantiateCore(options.processorOptions.module);
    const result = {};
    for (const [mode, name] of [[1, 'binaural'], [2, 'beeps'], [3, 'noise']]) {
      const frames = 60 * 44100;
      const started = Date.now();
      for (let f = 0; f < frames; f += 128) core.synthesize(128, 780, mode, f);
      result[name] = Math.round(60000 / Math.max(1, Date.now() - started));
    }
    this.port.postMessage(result);
  }
  process() { return false; }
});`;

async function synthesis(page) {
  return page.evaluate(async (source) => {
    const { audio } = window.zarvelinProbe;
    await audio.prepare();
    const context = new OfflineAudioContext(2, 128, 44100);
    const url = new URL('bench_worklet.js', location.href);
    const blob = URL.createObjectURL(new Blob([source.replace("'./core.js'", `'${new URL('core.js', url)}'`)],
                                             { type: 'text/javascript' }));
    await context.audioWorklet.addModule(blob);
    const node = new AudioWorkletNode(context, 'zarvelin-bench', { processorOptions: { module: audio.module } });
    return new Promise((resolve) => { node.port.onmessage = (e) => resolve(e.data); });
  }, SYNTH_BENCH);
}

async function latency(page, rounds) {
  const sink = spawn('python3', [new URL('sink_times.py', import.meta.url).pathname], { stdio: ['pipe', 'pipe', 'inherit'] });
  let out = '';
  sink.stdout.on('data', (d) => { out += d; });
  while (!out.includes('ready')) await sleep(20);
  await choose(page, { frequency: 780, sound: 1, visual: 0 });
  for (let i = 0; i < rounds; ++i) {
    sink.stdin.write(`start ${now()}\n`);
    await page.click('#start');
    await sleep(700);
    sink.stdin.write(`stop ${now()}\n`);
    await page.keyboard.press('a');
    await sleep(500);
  }
  sink.stdin.end();
  await new Promise((resolve) => sink.on('close', resolve));
  const { start_ms: start, stop_ms: stop } = JSON.parse(out.slice(out.indexOf('{')));
  const fmt = (xs) => ({ p50: +median(xs).toFixed(1), p90: +percentile(xs, 0.9).toFixed(1), n: xs.length });
  return { click_to_sound_ms: fmt(start), key_to_silence_ms: fmt(stop) };
}

// Processor time of every chromium process, in seconds.
function chromiumCpu() {
  let ticks = 0;
  for (const pid of readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      if (!readFileSync(`/proc/${pid}/comm`, 'utf8').startsWith('chromium')) continue;
      const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
      ticks += Number(fields[11]) + Number(fields[12]);
    } catch { /* gone meanwhile */ }
  }
  return ticks / 100;
}

async function cpu(page, seconds) {
  await choose(page, { frequency: 780, sound: 1, visual: 1 });
  await page.click('#start');
  await sleep(1000);
  const before = chromiumCpu(), t0 = Date.now();
  await sleep(seconds * 1000);
  const used = chromiumCpu() - before, wall = (Date.now() - t0) / 1000;
  const frames = await page.evaluate(() => window.zarvelinProbe.stimulus.painted.length);
  await page.keyboard.press('a');
  return { session_cpu_percent_of_one_core: +(100 * used / wall).toFixed(1), frames_per_second: +(frames / (wall + 1)).toFixed(1) };
}

const server = await serve();
const context = await launch({ viewport: { width: 1920, height: 1080 } });
try {
  const page = await openFace(context, server.url);
  const figures = { download: download(), synthesis_realtime_factor: await synthesis(page) };
  figures.latency = await latency(page, Number(process.env.ZARVELIN_BENCH_ROUNDS || 20));
  figures.cpu_1920x1080 = await cpu(page, 10);
  console.log(JSON.stringify(figures, null, 2));
} finally {
  await context.close();
  await server.close();
}
