// The page in headless Chromium against the real host (harkwell --ui web):
//   HARKWELL_BIN=build/default/app/harkwell node --test tests/web/browser.mjs
// Backend from HARKWELL_AUDIO_BACKEND (simulated: the three simulated sources
// and the 440 Hz tone of the default microphone; pulse: a tone played into the
// private server's speakers is recorded from the display). WEB_UI_SCREENSHOT
// names a file for a screenshot of the page.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';

const backend = process.env.HARKWELL_AUDIO_BACKEND ?? 'simulated';
let host;
let url;
let context;
let page;
let profile;

const recordings = mkdtempSync(join(tmpdir(), 'harkwell-recordings-'));

function startHost() {
  const args = ['--ui', 'web', '--no-open', '--backend', backend, '--wav', join(recordings, 'heard.wav')];
  const child = spawn(process.env.HARKWELL_BIN, args, {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  child.exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  return new Promise((resolve, reject) => {
    let err = '';
    child.stderr.on('data', (chunk) => {
      err += chunk;
      const found = err.match(/the page is at (\S+)/);
      if (found) resolve([child, found[1]]);
    });
    child.on('exit', (code) => reject(new Error(`harkwell exited with ${code}: ${err}`)));
  });
}

before(async () => {
  [host, url] = await startHost();
  profile = mkdtempSync(join(tmpdir(), 'harkwell-chromium-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1000, height: 1100 },
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  page = await context.newPage();
  await page.goto(url);
  await page.waitForSelector('body[data-connection="open"]');
});

after(async () => {
  await context?.close();
  if (host && host.exitCode === null) host.kill('SIGINT');
  rmSync(profile, { recursive: true, force: true });
  rmSync(recordings, { recursive: true, force: true });
});

const card = (selector) => page.locator(selector);
const defaultMic = () => card('#microphones li:has(.badge)');
const meterValue = (c) => c.locator('meter').evaluate((m) => m.value);

// Power of `hz` against the power at 0.7·hz and 1.4·hz (Goertzel).
function toneRatio(samples, hz, rate = 16000) {
  const power = (f) => {
    const k = 2 * Math.cos((2 * Math.PI * f) / rate);
    let s1 = 0, s2 = 0;
    for (const x of samples) { const s = x + k * s1 - s2; s2 = s1; s1 = s; }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
  };
  return power(hz) / Math.max(power(hz * 0.7), power(hz * 1.4), 1e-12);
}

test('lists the sources with the default marked and the permissions', { skip: backend !== 'simulated' }, async () => {
  await page.waitForFunction(() => document.querySelectorAll('li[data-id]').length === 3);
  assert.equal(await page.locator('#microphones li[data-id]').count() + await page.locator('#displays li[data-id]').count(), 3);
  assert.equal(await defaultMic().count(), 1);
  assert.equal(await page.locator('#permissions li').count(), 2);
});

test('a microphone and a display at once: start, level, tone, stop, download', { skip: backend !== 'simulated' }, async () => {
  const mic = defaultMic();
  const display = card('#displays li[data-id]').first();
  await mic.getByRole('button', { name: /^Start/ }).click();
  await display.getByRole('button', { name: /^Start/ }).press('Enter'); // keyboard works too
  await page.waitForSelector('#microphones li[data-phase="running"]');
  await page.waitForSelector('#displays li[data-phase="running"]');
  assert.match(await mic.locator('.state').textContent(), /deviceStart/);
  await page.waitForFunction(() => Math.abs(Number(document.querySelector('#microphones li[data-phase="running"] .pitch')?.dataset.hz) - 440) <= 5);
  const levels = [];
  for (let i = 0; i < 5; i++) { levels.push(await meterValue(mic)); await page.waitForTimeout(150); }
  assert.ok(Math.max(...levels) > 0.05, `level ${levels}`);
  assert.ok(new Set(levels).size > 1, `level never moves: ${levels}`);
  await page.waitForFunction(() => [...document.querySelectorAll('.seconds')].filter((s) => parseFloat(s.textContent) > 1).length === 2);
  if (process.env.WEB_UI_SCREENSHOT) await page.screenshot({ path: process.env.WEB_UI_SCREENSHOT, fullPage: true });

  await mic.getByRole('button', { name: /^Stop/ }).click();
  await page.waitForSelector('#microphones li[data-phase="stopped"]');
  assert.match(await mic.locator('.state').textContent(), /deviceStop/);
  assert.equal(await display.getAttribute('data-phase'), 'running');
  await display.getByRole('button', { name: /^Stop/ }).click();
  await page.waitForSelector('#displays li[data-phase="stopped"]');

  const samples = await downloadedSamples(mic);
  const recorded = wavSamples(join(recordings, `heard-input-${await mic.getAttribute('data-id')}.wav`));
  assert.ok(recorded.length > 16000 && toneRatio(recorded, 440) > 100, '--wav holds no 440 Hz tone');
  assert.ok(samples.length > 16000, `${samples.length} samples`);
  assert.ok(toneRatio(samples, 440) > 100, 'the WAV holds no 440 Hz tone');
});

// The samples of a 16 kHz mono float WAV file.
function wavSamples(path) {
  const wav = readFileSync(path);
  assert.equal(wav.toString('latin1', 0, 4), 'RIFF');
  assert.equal(wav.readUInt32LE(24), 16000);
  let at = 12;
  while (wav.toString('latin1', at, at + 4) !== 'data') at += 8 + wav.readUInt32LE(at + 4);
  return new Float32Array(wav.buffer.slice(wav.byteOffset + at + 8, wav.byteOffset + at + 8 + wav.readUInt32LE(at + 4)));
}

async function downloadedSamples(c) {
  const [download] = await Promise.all([page.waitForEvent('download'), c.getByRole('button', { name: 'Download WAV' }).click()]);
  return wavSamples(await download.path());
}

test('records a tone played into the private server\'s speakers', { skip: backend !== 'pulse' }, async () => {
  const dir = mkdtempSync(join(tmpdir(), 'harkwell-tone-'));
  const tone = join(dir, 'tone.wav');
  assert.equal(spawnSync('sox', ['-n', '-r', '48000', '-c', '2', '-b', '16', tone, 'synth', '8', 'sine', '1000', 'vol', '0.5']).status, 0);
  const player = spawn('paplay', ['-d', 'test_speakers', tone], { stdio: 'ignore' });
  try {
    // The backend names a sink's display by the FNV-1a hash of the sink's name.
    let id = 0x811c9dc5;
    for (const byte of Buffer.from('test_speakers')) id = Math.imul(id ^ byte, 0x01000193) >>> 0;
    const speakers = card(`#displays li[data-id="${id}"]`);
    await speakers.getByRole('button', { name: /^Start/ }).click();
    await page.waitForFunction(() => [...document.querySelectorAll('#displays li[data-phase="running"] .pitch')]
      .some((p) => Math.abs(Number(p.dataset.hz) - 1000) <= 10), null, { timeout: 10000 });
    await speakers.getByRole('button', { name: /^Stop/ }).click();
    await page.waitForSelector('#displays li[data-phase="stopped"]');
    assert.ok(toneRatio(await downloadedSamples(speakers), 1000) > 100, 'the WAV holds no 1000 Hz tone');
  } finally {
    player.kill('SIGKILL');
    rmSync(dir, { recursive: true, force: true });
  }
});

test('another origin, a wrong token and bad frames start nothing and cost only their own socket', async () => {
  const port = new URL(url).port;
  const token = new URL(url).hash.slice(1);
  // A page of another site that even knows the token.
  const evil = createServer((_, res) => { res.setHeader('Content-Type', 'text/html'); res.end('<p>elsewhere</p>'); });
  await new Promise((resolve) => evil.listen(0, '127.0.0.1', resolve));
  const other = await context.newPage();
  await other.goto(`http://127.0.0.1:${evil.address().port}/`);
  const outcome = await other.evaluate(({ port, token }) => new Promise((resolve) => {
    const ws = new WebSocket(`ws://127.0.0.1:${port}/ws`);
    ws.onopen = () => resolve('open');
    ws.onclose = () => resolve('refused');
    void token;
  }), { port, token });
  assert.equal(outcome, 'refused');
  const fetched = await other.evaluate((port) => fetch(`http://127.0.0.1:${port}/`).then(() => 'read', () => 'blocked'), port);
  assert.equal(fetched, 'blocked');
  evil.close();

  await other.goto(url.replace(/#.*/, `#${'0'.repeat(32)}`));
  await other.waitForFunction(() => /Not connected: wrong token/.test(document.getElementById('connection').textContent));
  // Frames before any hello: too large, then malformed; each closes its own socket.
  const closes = await other.evaluate((port) => Promise.all([new Uint8Array(100000), new Uint8Array([2, 0, 0, 0, 0, 99])].map((frame) => new Promise((resolve) => {
    const ws = new WebSocket(`ws://127.0.0.1:${port}/ws`);
    ws.onopen = () => ws.send(frame);
    ws.onclose = (e) => resolve(e.code);
  }))), port);
  // The oversized frame is cut off mid-way: a close frame (1009) or a reset (1006).
  assert.ok([1006, 1009].includes(closes[0]), `oversized frame: ${closes[0]}`);
  assert.equal(closes[1], 1008);
  await other.close();

  // The page itself was never disturbed and still reaches the host.
  assert.equal(await page.getAttribute('body', 'data-connection'), 'open');
  await page.click('#refresh');
  await page.waitForFunction(() => document.querySelectorAll('li[data-id]').length >= 1);
  assert.equal(await page.locator('li[data-phase="starting"]').count(), 0);
});

test('Quit ends the host', async () => {
  await page.click('#quit');
  assert.equal(await host.exited, 0);
});

