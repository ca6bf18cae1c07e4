// The page's end of the socket to the host: one binary frame per platform
// message, in the envelope
//   kind (1 byte) | request id (4 bytes, little-endian) | channel length (1 byte)
//   | channel name | message bytes
// (see docs/web-ui.md). Calls go out on the host channels encoded with the
// host codec; events come in on the event channel in the event codec.
import { decode, encode } from './codec.js';

export const Kind = Object.freeze({ hello: 1, call: 2, reply: 3, noReply: 4, event: 5, quit: 6, welcome: 7 });
export const HOST_PREFIX = 'dev.flutter.pigeon.harkwell_bridge.BridgeHostApi.';
export const EVENT_CHANNEL = 'dev.flutter.pigeon.harkwell_bridge.BridgeFlutterApi.onEvent';

export function formatEnvelope(kind, id, channel, message = new Uint8Array(0)) {
  const name = new TextEncoder().encode(channel);
  if (name.length > 255) throw new RangeError('channel name too long');
  const frame = new Uint8Array(6 + name.length + message.length);
  frame[0] = kind;
  new DataView(frame.buffer).setUint32(1, id, true);
  frame[5] = name.length;
  frame.set(name, 6);
  frame.set(message, 6 + name.length);
  return frame;
}

export function parseEnvelope(frame) {
  if (frame.length < 6 || 6 + frame[5] > frame.length) throw new RangeError('malformed envelope');
  return {
    kind: frame[0],
    id: new DataView(frame.buffer, frame.byteOffset).getUint32(1, true),
    channel: new TextDecoder().decode(frame.subarray(6, 6 + frame[5])),
    message: frame.subarray(6 + frame[5]),
  };
}

// A host call's reply as the generated UI code reads it: [value] is success,
// [code, message, details] an error.
export class HostError extends Error {
  constructor(code, message, details) {
    super(`${code}${message ? `: ${message}` : ''}`);
    Object.assign(this, { code, details });
  }
}

export class Bridge {
  // onEvent(NativeAudioEvent); onClose(reason text).
  constructor({ url, token, onEvent, onClose }) {
    Object.assign(this, { url, token, onEvent, onClose });
    this.nextId = 1;
    this.pending = new Map();
  }

  // Resolves once the host accepted the token.
  connect() {
    return new Promise((resolve, reject) => {
      const ws = new WebSocket(this.url);
      ws.binaryType = 'arraybuffer';
      this.ws = ws;
      let welcomed = false;
      ws.onopen = () => ws.send(formatEnvelope(Kind.hello, 0, '', new TextEncoder().encode(this.token)));
      ws.onmessage = (e) => {
        const envelope = parseEnvelope(new Uint8Array(e.data));
        if (envelope.kind === Kind.welcome) { welcomed = true; resolve(); return; }
        this.receive(envelope);
      };
      ws.onclose = (e) => {
        for (const { reject: fail } of this.pending.values()) fail(new Error('the host closed the connection'));
        this.pending.clear();
        const reason = e.reason || 'the connection to the host was lost';
        if (!welcomed) reject(new Error(reason));
        this.onClose?.(reason);
      };
    });
  }

  receive({ kind, id, channel, message }) {
    if (kind === Kind.event && channel === EVENT_CHANNEL) {
      const list = decode(message, 'event');
      this.onEvent?.(list[0]);
      return;
    }
    const call = this.pending.get(id);
    if (!call) return;
    this.pending.delete(id);
    if (kind === Kind.noReply) { call.reject(new Error(`the host does not answer on ${channel}`)); return; }
    try {
      const reply = decode(message, 'host');
      if (!Array.isArray(reply) || reply.length === 0) throw new Error(`the reply on ${channel} is not a reply list`);
      if (reply.length === 1) call.resolve(reply[0]);
      else call.reject(new HostError(reply[0], reply[1], reply[2]));
    } catch (error) {
      call.reject(error);
    }
  }

  // Calls `operation` with the list of its arguments (or null).
  call(operation, args) {
    const id = this.nextId++;
    const channel = HOST_PREFIX + operation;
    const frame = formatEnvelope(Kind.call, id, channel, encode(args, 'host'));
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.ws.send(frame);
    });
  }

  quit() { this.ws.send(formatEnvelope(Kind.quit, 0, '')); }
}
