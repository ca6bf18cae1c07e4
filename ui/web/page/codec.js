// Flutter's standard message codec and the bridge's three records, as the
// UI's generated code speaks them. Little-endian throughout; doubles and
// typed-list elements are aligned from the start of the message.
//
// JavaScript forms: null, booleans, strings; a number is a float64; a BigInt
// an int64; an Int32 an int32; Uint8Array, Int32Array, BigInt64Array,
// Float64Array and Float32Array the typed lists; an Array a list; a CodecMap a
// map (a Map is written as one too); AudioDevice, AudioPermission and NativeAudioEvent the
// records. decode() throws CodecError for bytes the host's reader rejects.

export class CodecError extends Error {}

// A map as the wire has it: entries in order, duplicates kept.
export class CodecMap {
  constructor(entries = []) { this.entries = entries; }
}

export class Int32 {
  constructor(value) { this.value = value; }
}

export class AudioDevice {
  constructor(name, type, id, isDefault) {
    Object.assign(this, { name, type, id, isDefault });
  }
}

export class AudioPermission {
  constructor(system, mic) { Object.assign(this, { system, mic }); }
}

export class NativeAudioEvent {
  constructor(id, type, eventType, audioData, error) {
    Object.assign(this, { id, type, eventType, audioData, error });
  }
}

export const AudioDeviceType = Object.freeze({ input: 0, output: 1 });
export const NativeAudioEventType = Object.freeze({
  serviceStart: 0, serviceStop: 1, serviceError: 2, deviceStart: 3, deviceStop: 4, deviceAudioData: 5,
});

// Which records a codec knows: the host channels' or the event channel's.
const RECORDS = {
  standard: {},
  host: { 128: 'AudioDevice', 129: 'AudioDevice', 130: 'AudioPermission' },
  event: { 128: 'NativeAudioEvent' },
};

const TYPED = {
  9: [Int32Array, 4], 10: [BigInt64Array, 8], 11: [Float64Array, 8], 14: [Float32Array, 4],
};

class Writer {
  constructor() { this.buf = new Uint8Array(64); this.view = new DataView(this.buf.buffer); this.len = 0; }
  reserve(n) {
    if (this.len + n <= this.buf.length) return;
    const bigger = new Uint8Array(Math.max(this.buf.length * 2, this.len + n));
    bigger.set(this.buf.subarray(0, this.len));
    this.buf = bigger;
    this.view = new DataView(bigger.buffer);
  }
  byte(b) { this.reserve(1); this.buf[this.len++] = b; }
  bytes(array) { this.reserve(array.length); this.buf.set(array, this.len); this.len += array.length; }
  align(n) { while (this.len % n) this.byte(0); }
  size(n) {
    if (n < 254) return this.byte(n);
    this.reserve(5);
    if (n <= 0xffff) { this.byte(254); this.view.setUint16(this.len, n, true); this.len += 2; return; }
    this.byte(255); this.view.setUint32(this.len, n, true); this.len += 4;
  }
  int32(v) { this.reserve(4); this.view.setInt32(this.len, v, true); this.len += 4; }
  int64(v) { this.reserve(8); this.view.setBigInt64(this.len, v, true); this.len += 8; }
  float64(v) { this.reserve(8); this.view.setFloat64(this.len, v, true); this.len += 8; }
  result() { return this.buf.slice(0, this.len); }
}

function writeRecord(w, codec, value) {
  const name = value.constructor.name;
  const codes = RECORDS[codec];
  const code = Object.keys(codes).find((c) => codes[c] === name);
  if (code === undefined) throw new CodecError(`the ${codec} codec does not carry ${name}`);
  w.byte(Number(code));
  let fields;
  if (value instanceof AudioDevice) fields = [value.name, BigInt(value.type), value.id, value.isDefault];
  else if (value instanceof AudioPermission) fields = [value.system, value.mic];
  else fields = [value.id, BigInt(value.type), BigInt(value.eventType), value.audioData ?? null, value.error ?? null];
  writeValue(w, codec, fields);
}

function writeValue(w, codec, value) {
  if (value === null || value === undefined) return w.byte(0);
  if (value === true) return w.byte(1);
  if (value === false) return w.byte(2);
  if (value instanceof Int32) { w.byte(3); return w.int32(value.value); }
  if (typeof value === 'bigint') { w.byte(4); return w.int64(value); }
  if (typeof value === 'number') { w.byte(6); w.align(8); return w.float64(value); }
  if (typeof value === 'string') {
    const utf8 = new TextEncoder().encode(value);
    w.byte(7); w.size(utf8.length); return w.bytes(utf8);
  }
  if (value instanceof Uint8Array) { w.byte(8); w.size(value.length); return w.bytes(value); }
  for (const [type, [Kind, width]] of Object.entries(TYPED)) {
    if (value instanceof Kind) {
      w.byte(Number(type)); w.size(value.length); w.align(width);
      return w.bytes(new Uint8Array(value.buffer, value.byteOffset, value.byteLength));
    }
  }
  if (Array.isArray(value)) {
    w.byte(12); w.size(value.length);
    for (const element of value) writeValue(w, codec, element);
    return;
  }
  if (value instanceof CodecMap || value instanceof Map) {
    const entries = value instanceof Map ? [...value] : value.entries;
    w.byte(13); w.size(entries.length);
    for (const [k, v] of entries) { writeValue(w, codec, k); writeValue(w, codec, v); }
    return;
  }
  if (value instanceof AudioDevice || value instanceof AudioPermission || value instanceof NativeAudioEvent) {
    return writeRecord(w, codec, value);
  }
  throw new CodecError(`no codec form for ${value}`);
}

// The bytes of `value` as `codec` ("standard", "host" or "event") writes them.
export function encode(value, codec = 'standard') {
  const w = new Writer();
  writeValue(w, codec, value);
  return w.result();
}

const MAX_DEPTH = 64;

class Reader {
  constructor(bytes, codec) {
    this.bytes = bytes;
    this.view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    this.pos = 0;
    this.codec = codec;
  }
  need(n, what) {
    const left = this.bytes.length - this.pos;
    if (n > left) throw new CodecError(`truncated ${what} (needs ${n} bytes, ${left} left) at offset ${this.pos}`);
  }
  byte(what) { this.need(1, what); return this.bytes[this.pos++]; }
  align(n) { const pad = (n - (this.pos % n)) % n; this.need(pad, 'padding'); this.pos += pad; }
  size() {
    const first = this.byte('size');
    if (first < 254) return first;
    if (first === 254) { this.need(2, 'size'); const v = this.view.getUint16(this.pos, true); this.pos += 2; return v; }
    this.need(4, 'size'); const v = this.view.getUint32(this.pos, true); this.pos += 4; return v;
  }
  // Nesting comes from untrusted bytes: bounded as the host bounds it.
  deeper(depth, at) {
    if (depth + 1 >= MAX_DEPTH) throw new CodecError(`nested deeper than ${MAX_DEPTH} at offset ${at}`);
  }
  take(n, what) { this.need(n, what); const out = this.bytes.slice(this.pos, this.pos + n); this.pos += n; return out; }

  value(depth = 0) {
    const at = this.pos;
    const type = this.byte('type byte');
    switch (type) {
      case 0: return null;
      case 1: return true;
      case 2: return false;
      case 3: { this.need(4, 'number'); const v = this.view.getInt32(this.pos, true); this.pos += 4; return new Int32(v); }
      case 4: { this.need(8, 'number'); const v = this.view.getBigInt64(this.pos, true); this.pos += 8; return v; }
      case 6: { this.align(8); this.need(8, 'number'); const v = this.view.getFloat64(this.pos, true); this.pos += 8; return v; }
      case 5: case 7: return new TextDecoder().decode(this.take(this.size(), 'string'));
      case 8: return this.take(this.size(), 'bytes');
      case 9: case 10: case 11: case 14: {
        const [Kind, width] = TYPED[type];
        const n = this.size();
        this.align(width);
        const raw = this.take(n * width, 'typed list');
        return new Kind(raw.buffer, raw.byteOffset, n);
      }
      case 12: {
        this.deeper(depth, at);
        const n = this.size();
        // Each element takes at least one byte: a larger count is a lie.
        if (n > this.bytes.length - this.pos) {
          throw new CodecError(`list claims ${n} elements but only ${this.bytes.length - this.pos} bytes are left at offset ${at}`);
        }
        const list = [];
        for (let i = 0; i < n; i++) list.push(this.value(depth + 1));
        return list;
      }
      case 13: {
        this.deeper(depth, at);
        const n = this.size();
        if (n * 2 > this.bytes.length - this.pos) throw new CodecError(`map claims ${n} entries at offset ${at}`);
        const entries = [];
        for (let i = 0; i < n; i++) entries.push([this.value(depth + 1), this.value(depth + 1)]);
        return new CodecMap(entries);
      }
      default: {
        const record = RECORDS[this.codec][type];
        if (!record) throw new CodecError(`unknown type byte 0x${type.toString(16)} at offset ${at}`);
        const fields = this.value(depth);
        return makeRecord(record, fields, at);
      }
    }
  }
}

const isInt = (v) => v instanceof Int32 || typeof v === 'bigint';
const intOf = (v) => (v instanceof Int32 ? v.value : Number(v));

function makeRecord(name, fields, at) {
  const fail = (why) => { throw new CodecError(`malformed ${name} (${why}) at offset ${at}`); };
  const need = { AudioDevice: 4, AudioPermission: 2, NativeAudioEvent: 5 }[name];
  if (!Array.isArray(fields)) fail(`${name}: not a list`);
  if (fields.length < need) fail(`${name}: list has ${fields.length} elements, needs ${need}`);
  const enumField = (v, field, count) => {
    const what = field === 'type' ? 'AudioDeviceType' : 'NativeAudioEventType';
    if (!isInt(v)) fail(`${name}.${field}: not an integer`);
    if (intOf(v) < 0 || intOf(v) >= count) fail(`${name}.${field}: ${intOf(v)} is not an ${what}`);
    return intOf(v);
  };
  const check = (ok, field) => { if (!ok) fail(`${name}.${field}: wrong kind`); };
  if (name === 'AudioDevice') {
    const [dname, type, id, isDefault] = fields;
    check(typeof dname === 'string', 'name');
    check(typeof id === 'string', 'id');
    check(typeof isDefault === 'boolean', 'isDefault');
    return new AudioDevice(dname, enumField(type, 'type', 2), id, isDefault);
  }
  if (name === 'AudioPermission') {
    const [system, mic] = fields;
    check(typeof system === 'boolean', 'system');
    check(typeof mic === 'boolean', 'mic');
    return new AudioPermission(system, mic);
  }
  const [id, type, eventType, audioData, error] = fields;
  check(typeof id === 'string', 'id');
  check(audioData === null || (Array.isArray(audioData) && audioData.every((s) => s === null || typeof s === 'number')), 'audioData');
  check(error === null || typeof error === 'string', 'error');
  return new NativeAudioEvent(id, enumField(type, 'type', 2), enumField(eventType, 'eventType', 6), audioData, error);
}

// The value in `bytes` as `codec` reads it; an empty message is null. Throws
// CodecError for truncated data, unknown type bytes, malformed records and
// trailing bytes.
export function decode(bytes, codec = 'standard') {
  if (bytes.length === 0) return null;
  const r = new Reader(bytes, codec);
  const value = r.value();
  if (r.pos !== bytes.length) {
    throw new CodecError(`${bytes.length - r.pos} unused bytes after the message at offset ${r.pos}`);
  }
  return value;
}
