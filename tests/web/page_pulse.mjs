// The face's sound at a real server: Chromium plays into the private PulseAudio null
// sink (44.1 kHz, run inside tests/scripts/with-pulse.sh), the project's recorder takes
// the sink's monitor, and every recorded stretch must equal the sessions' samples from
// the native core, in order. Silence the server inserts under load is reported; an
// altered or misplaced sample fails.
import test from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync, createWriteStream } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { once } from 'node:events';
import { serve, launch, openFace, choose, sleep } from './browser.mjs';
import { referenceSound } from './reference.mjs';
import { until, records, settled } from './session_helpers.mjs';

const recorder = process.env.ZARVELIN_PULSE_RECORDING;
const sessions = [
  { frequency: 780, sound: 1, visual: 1 },
  { frequency: 4999, sound: 2, visual: 0 },
  { frequency: 10, sound: 3, visual: 0 },
  { frequency: 2941, sound: 3, visual: 0 },  // the noise runs on from the last session
];

function run(command, args, options = {}) {
  const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'], ...options });
  let out = '';
  child.stdout?.on('data', (d) => { out += d; });
  child.stderr?.on('data', (d) => { out += d; });
  return { child, done: once(child, 'close').then(([status]) => ({ status, out })) };
}

test('what the sink played is the sessions\' samples, in order', async () => {
  const work = mkdtempSync(path.join(os.tmpdir(), 'zarvelin-web-pulse-'));
  const server = await serve();
  const context = await launch();
  try {
    const page = await openFace(context, server.url);
    // The recorder runs for as long as its command does: one that waits for its input.
    const recording = path.join(work, 'heard.wav');
    const rec = run('python3', [recorder, 'record', recording, '--', 'python3', '-c', 'import sys; sys.stdin.read()'],
                    { stdio: ['pipe', 'pipe', 'pipe'] });
    await sleep(1000);
    for (const [i, s] of sessions.entries()) {
      await choose(page, s);
      await page.click('#start');
      await until(page, (n) => window.zarvelinProbe.session.records[n]?.audio, i, 10000, 'the sound to start');
      await sleep(2500);
      await page.keyboard.press('Escape');
      await settled(page);
      await sleep(300);
    }
    rec.child.stdin.end();
    const recorded = await rec.done;
    assert.equal(recorded.status, 0, recorded.out);

    const played = await records(page);
    const expected = [];
    for (const [i, r] of played.entries()) {
      const file = path.join(work, `session-${i}.raw`);
      const out = createWriteStream(file);
      for await (const chunk of referenceSound(r.settings.frequency, r.settings.sound, 0, r.frames, r.audio.noiseState)) {
        out.write(Buffer.from(chunk.buffer, chunk.byteOffset, chunk.byteLength));
      }
      out.end();
      await once(out, 'close');
      expected.push(file);
    }
    // Each session was heard for at least a second of its 2.5.
    const checked = await run('python3', [recorder, 'check', '44100', recording, ...expected]).done;
    console.log(checked.out);
    assert.equal(checked.status, 0, 'the recording holds the sessions\' samples and nothing else');
  } finally {
    await context.close();
    await server.close();
    rmSync(work, { recursive: true, force: true });
  }
});
