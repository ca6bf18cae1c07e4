// The page: talks to the host over the bridge, exactly the calls and events
// the UI makes, and shows what it hears.
import { AudioDevice, AudioDeviceType, NativeAudioEventType } from './codec.js';
import { Bridge } from './bridge.js';
import { SourceCard, logLine, permissionRow } from './view.js';
import { wavFile } from './wav.js';

const SAMPLE_RATE = 16000;
const $ = (id) => document.getElementById(id);
const log = (text) => logLine($('log'), text);
const cards = new Map(); // "type:id" → SourceCard
const captures = new Map(); // "type:id" → capture state
const keyOf = (type, id) => `${type}:${id}`;

function captureFor(key) {
  let c = captures.get(key);
  if (!c) {
    c = { phase: 'idle', level: 0, pitch: 0, seconds: 0, error: null, chunks: [], count: 0,
      recent: new Float32Array(2 * SAMPLE_RATE), dirty: true };
    captures.set(key, c);
  }
  return c;
}

// Pitch from the rising zero crossings of the last quarter second.
function pitchOf(recent) {
  const n = SAMPLE_RATE / 4;
  const tail = recent.subarray(recent.length - n);
  let first = -1, last = -1, crossings = 0;
  for (let i = 1; i < tail.length; i++) {
    if (tail[i - 1] < 0 && tail[i] >= 0) {
      if (first < 0) first = i; else crossings++;
      last = i;
    }
  }
  return crossings > 0 ? (crossings * SAMPLE_RATE) / (last - first) : 0;
}

function onAudio(c, data) {
  const block = Float32Array.from(data, (s) => s ?? 0);
  c.chunks.push(block);
  c.count += block.length;
  c.seconds = c.count / SAMPLE_RATE;
  let sum = 0;
  for (const s of block) sum += s * s;
  c.level = Math.sqrt(sum / Math.max(1, block.length)) * Math.SQRT2;
  const keep = Math.min(block.length, c.recent.length);
  c.recent.copyWithin(0, keep);
  c.recent.set(block.subarray(block.length - keep), c.recent.length - keep);
  c.pitch = pitchOf(c.recent);
  c.dirty = true;
}

function onEvent(event) {
  const c = captureFor(keyOf(event.type, event.id));
  switch (event.eventType) {
    case NativeAudioEventType.deviceStart:
      c.phase = 'running';
      log(`deviceStart ${event.id}`);
      break;
    case NativeAudioEventType.deviceStop:
      c.phase = 'stopped';
      c.level = 0;
      log(`deviceStop ${event.id}`);
      break;
    case NativeAudioEventType.deviceAudioData:
      // Audio from a capture this page did not start (before a reload).
      if (c.phase === 'idle' || c.phase === 'stopped') c.phase = 'running';
      onAudio(c, event.audioData ?? []);
      break;
    default:
      log(`event ${event.eventType} for ${event.id}`);
  }
  if (event.error) {
    c.error = event.error;
    log(`error from ${event.id}: ${event.error}`);
  }
  c.dirty = true;
}

function render() {
  for (const [key, card] of cards) {
    const c = captures.get(key);
    if (!c || !c.dirty) continue;
    c.dirty = false;
    card.show(c);
    if (c.phase !== 'idle') card.drawWave(c.recent);
  }
  requestAnimationFrame(render);
}

function download(card) {
  const c = captures.get(keyOf(card.device.type, card.device.id));
  const all = new Float32Array(c.count);
  let at = 0;
  for (const chunk of c.chunks) { all.set(chunk, at); at += chunk.length; }
  const url = URL.createObjectURL(new Blob([wavFile(all, SAMPLE_RATE)], { type: 'audio/wav' }));
  const a = Object.assign(document.createElement('a'), {
    href: url, download: `harkwell-${card.device.type === 0 ? 'input' : 'output'}-${card.device.id}.wav`,
  });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

let bridge;

async function toggle(card) {
  const { device } = card;
  const c = captureFor(keyOf(device.type, device.id));
  const starting = c.phase !== 'running' && c.phase !== 'starting';
  const record = new AudioDevice(device.name, device.type, device.id, device.isDefault);
  try {
    if (starting) {
      c.phase = 'starting'; c.error = null; c.chunks = []; c.count = 0; c.seconds = 0; c.recent.fill(0);
      c.dirty = true;
      await bridge.call('listen', [record]);
    } else {
      c.phase = 'stopping'; c.dirty = true;
      await bridge.call('unlisten', [record]);
    }
  } catch (error) {
    c.error = error.message; c.dirty = true;
    log(`${starting ? 'listen' : 'unlisten'} ${device.id} failed: ${error.message}`);
  }
}

async function showPermissions() {
  const p = await bridge.call('checkPermission', null);
  const list = $('permissions');
  const request = (type) => async () => {
    try {
      await bridge.call('requestPermission', [BigInt(type)]);
      log('permission requested');
    } catch (error) { log(`requestPermission failed: ${error.message}`); }
    await showPermissions();
  };
  list.replaceChildren(
    permissionRow('Microphone', p.mic, request(AudioDeviceType.input)),
    permissionRow('Screen capture', p.system, request(AudioDeviceType.output)));
}

async function showSources(type, listId) {
  const devices = await bridge.call('getDevices', [BigInt(type)]);
  const list = $(listId);
  list.replaceChildren();
  if (devices.length === 0) list.append(Object.assign(document.createElement('li'), { textContent: 'none found' }));
  for (const device of devices) {
    const key = keyOf(device.type, device.id);
    const card = new SourceCard(device, toggle);
    card.download.addEventListener('click', () => download(card));
    cards.set(key, card);
    const c = captures.get(key);
    if (c) c.dirty = true;
    list.append(card.element);
  }
}

async function refresh() {
  try {
    await Promise.all([showPermissions(), showSources(AudioDeviceType.input, 'microphones'),
      showSources(AudioDeviceType.output, 'displays')]);
  } catch (error) {
    log(`cannot read the sources: ${error.message}`);
  }
}

async function main() {
  const token = location.hash.slice(1);
  bridge = new Bridge({
    url: `ws://${location.host}/ws`, token, onEvent,
    onClose: (reason) => {
      $('connection').textContent = `Disconnected: ${reason}`;
      document.body.dataset.connection = 'closed';
    },
  });
  $('quit').addEventListener('click', () => {
    bridge.quit();
    $('connection').textContent = 'The host is quitting.';
  });
  $('refresh').addEventListener('click', refresh);
  try {
    await bridge.connect();
  } catch (error) {
    $('connection').textContent = `Not connected: ${error.message}`;
    return;
  }
  $('connection').textContent = 'Connected to the host on this computer.';
  document.body.dataset.connection = 'open';
  requestAnimationFrame(render);
  await refresh();
}

main();
