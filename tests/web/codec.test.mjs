// The page's codec against the shared golden messages (tests/vectors/codec.json),
// the same file the C++ codec tests read, plus the page's envelope.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import {
  AudioDevice, AudioPermission, CodecError, CodecMap, Int32, NativeAudioEvent, decode, encode,
} from '../../ui/web/page/codec.js';
import { Kind, formatEnvelope, parseEnvelope } from '../../ui/web/page/bridge.js';

const vectors = JSON.parse(readFileSync(new URL('../vectors/codec.json', import.meta.url)));
const bytesOf = (hex) => Uint8Array.from(hex.replace(/[\s|]/g, '').match(/../g) ?? [], (h) => parseInt(h, 16));
const hexOf = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
const float32 = (bits) => new Float32Array(Uint32Array.from(bits, (b) => parseInt(b, 16)).buffer);
const float64 = (bits) => new Float64Array(BigUint64Array.from(bits, (b) => BigInt(`0x${b}`)).buffer);
const number = (v) => (typeof v === 'string' ? Number(v) : v);

// Tagged JSON (bridge/WireJson.h) → the page's values.
function fromTagged({ t, v, hex, bits }) {
  const records = {
    AudioDevice: () => new AudioDevice(v.name, v.type, v.id, v.isDefault),
    AudioPermission: () => new AudioPermission(v.system, v.mic),
    NativeAudioEvent: () => new NativeAudioEvent(v.id, v.type, v.eventType, v.audioData, v.error),
  };
  switch (t) {
    case 'null': return null;
    case 'bool': case 'string': return v;
    case 'int32': return new Int32(v);
    case 'int64': return BigInt(v);
    case 'float64': return bits ? float64([bits])[0] : number(v);
    case 'uint8list': return bytesOf(hex);
    case 'int32list': return Int32Array.from(v);
    case 'int64list': return BigInt64Array.from(v, BigInt);
    case 'float32list': return bits ? float32(bits) : Float32Array.from(v, number);
    case 'float64list': return bits ? float64(bits) : Float64Array.from(v, number);
    case 'list': return v.map(fromTagged);
    case 'map': return new CodecMap(v.map(([k, x]) => [fromTagged(k), fromTagged(x)]));
    default: return records[t]();
  }
}

test('every golden message decodes to its value and (canonical ones) encodes to its bytes', () => {
  for (const { name, codec, value, hex, canonical } of vectors.golden) {
    const expected = fromTagged(value);
    assert.deepStrictEqual(decode(bytesOf(hex), codec), expected, name);
    if (canonical) assert.equal(hexOf(encode(expected, codec)), hexOf(bytesOf(hex)), name);
  }
});

test('every malformed message is rejected for the reason the host gives', () => {
  for (const { name, codec, hex, error } of vectors.malformed) {
    assert.throws(() => decode(bytesOf(hex), codec), (e) => e instanceof CodecError && e.message.includes(error), name);
  }
});

test('every proper prefix of a message of all kinds is rejected', () => {
  const bytes = encode([null, true, new Int32(-7), 1n << 40n, 0.25, 'h\u263aw', new Uint8Array([1, 2]),
    new Int32Array([3]), new BigInt64Array([4n]), new Float64Array([5.5]), new Float32Array([6.5]),
    new CodecMap([['k', [0.125, 'x'.repeat(300)]]])]);
  for (let n = 1; n < bytes.length; n++) assert.throws(() => decode(bytes.subarray(0, n)), CodecError, `prefix ${n}`);
});

test('sizes switch form at 254 and 65536', () => {
  for (const [n, prefix] of [[253, '08fd'], [254, '08fefe00'], [65535, '08feffff'], [65536, '08ff00000100']]) {
    const bytes = encode(new Uint8Array(n));
    assert.equal(hexOf(bytes.subarray(0, prefix.length / 2)), prefix);
    assert.equal(decode(bytes).length, n);
  }
});

test('each codec writes only its own records', () => {
  assert.throws(() => encode([new AudioDevice('a', 0, '1', false)], 'event'), CodecError);
  assert.throws(() => encode([new NativeAudioEvent('m', 0, 3, null, null)], 'host'), CodecError);
});

test('envelopes carry kind, id, channel and message, and short ones are refused', () => {
  const frame = formatEnvelope(Kind.call, 0x01020304, 'ch', new Uint8Array([9, 8]));
  assert.equal(hexOf(frame), '020403020102636809' + '08');
  assert.deepStrictEqual(parseEnvelope(frame), { kind: Kind.call, id: 0x01020304, channel: 'ch', message: new Uint8Array([9, 8]) });
  assert.throws(() => parseEnvelope(new Uint8Array([5, 0, 0, 0, 0, 3, 0x61])), RangeError);
});
