// The web face's figures (run by bench/web/run.sh, beside a private PulseAudio sink):
//   synthesis    the module in an audio worklet as the page runs it (128 frames a call,
//                copied into the graph's channels), per mode: real-time factor on one
//                core, once V8 has compiled the module fully (the first tenth of a
//                second runs on its baseline compiler)
//   download     what a visitor downloads (the whole site, which the service worker
//                keeps), each file gzipped
//   latency      Start click to the first sound at the sink, and the page's share of it
//                (the click to the worklet's first quantum reported back); a key to the
//                last sound
//   cpu          Chromium's processor time on the panel between sessions, and during
//                a stroboscope session, at 1920x1080
import { spawn } from 'node:child_process';
import { readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { serve, launch, openFace, choose, sleep, site } from '../../tests/web/harness.mjs';

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

// The module in a worklet of its own: 5 s of each mode to warm up, then 60 s of each in
// 128-frame calls, each copied out as process() does.
const SYNTH_BENCH = `import { instantiateCore } from './core.js';
registerProcessor('zarvelin-bench', class extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const core = instantiateCore(options.processorOptions.module);
    const left = new Float32Array(128), right = new Float32Array(128);
    const run = (mode, seconds) => {
      const started = Date.now();
      for (let f = 0; f < seconds * 44100; f += 128) {
        const [l, r] = core.synthesize(128, 780, mode, f);
        left.set(l);
        right.set(r);
      }
      return Math.round(seconds * 1000 / Math.max(1, Date.now() - started));
    };
    const result = {};
    for (const mode of [1, 2, 3]) run(mode, 5);
    for (const [mode, name] of [[1, 'binaural'], [2, 'beeps'], [3, 'noise']]) result[name] = run(mode, 60);
    this.port.postMessage(result);
  }
  process() { return false; }
});`;

async function synthesis(page) {
  return page.evaluate(async (source) => {
    const { audio } = window.zarvelinProbe;
    await audio.prepare();
    const context = new AudioContext({ sampleRate: 44100 });
    const url = new URL('bench_worklet.js', location.href);
    const blob = URL.createObjectURL(new Blob([source.replace("'./core.js'", `'${new URL('core.js', url)}'`)],
                                             { type: 'text/javascript' }));
    await context.audioWorklet.addModule(blob);
    const node = new AudioWorkletNode(context, 'zarvelin-bench', { processorOptions: { module: audio.module } });
    const result = await new Promise((resolve) => { node.port.onmessage = (e) => resolve(e.data); });
    await context.close();
    return result;
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
  // The page's own share: from the click to the worklet's first quantum reported back.
  const page_ms = await page.evaluate((n) => window.zarvelinProbe.session.records.slice(-n)
    .map((r) => r.audio.heardAt - r.clickedAt), rounds);
  return { click_to_sound_ms: fmt(start.filter((t) => t !== null)), click_to_first_quantum_ms: fmt(page_ms),
           key_to_silence_ms: fmt(stop), clicks_unheard: start.filter((t) => t === null).length };
}

// Processor time of the browser's processes (its own, not those of tests running beside
// it), in seconds.
function browserCpu(root) {
  const stats = new Map();
  for (const pid of readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
      stats.set(Number(pid), { parent: Number(fields[1]), ticks: Number(fields[11]) + Number(fields[12]) });
    } catch { /* gone meanwhile */ }
  }
  const ours = (pid) => pid === root || (stats.has(pid) && pid > 1 && ours(stats.get(pid).parent));
  let ticks = 0;
  for (const [pid, { ticks: t }] of stats) if (ours(pid)) ticks += t;
  return ticks / 100;
}

async function share(root, seconds) {
  const before = browserCpu(root), t0 = Date.now();
  await sleep(seconds * 1000);
  return +(100 * (browserCpu(root) - before) / ((Date.now() - t0) / 1000)).toFixed(1);
}

// The panel between sessions, then a stroboscope session.
async function cpu(page, root, seconds) {
  await choose(page, { frequency: 780, sound: 1, visual: 1 });
  const idle = await share(root, seconds);
  await page.click('#start');
  await sleep(1000);
  const t0 = Date.now();
  const session = await share(root, seconds);
  const frames = await page.evaluate(() => window.zarvelinProbe.stimulus.painted.length);
  const wall = (Date.now() - t0) / 1000;
  await page.keyboard.press('a');
  return { panel_cpu_percent_of_one_core: idle, session_cpu_percent_of_one_core: session,
           frames_per_second: +(frames / (wall + 1)).toFixed(1) };
}

const server = await serve();
const context = await launch({ viewport: { width: 1920, height: 1080 } });
try {
  const page = await openFace(context, server.url);
  const figures = { download: download(), synthesis_realtime_factor: await synthesis(page) };
  figures.latency = await latency(page, Number(process.env.ZARVELIN_BENCH_ROUNDS || 20));
  figures.cpu_1920x1080 = await cpu(page, context.pid, 10);
  console.log(JSON.stringify(figures, null, 2));
} finally {
  await context.close();
  await server.close();
}
