// The page's pieces: a permission row, a source card with its live capture
// view (state, level meter, waveform, pitch, download), and the message log.

const el = (tag, props = {}, ...children) => {
  const node = Object.assign(document.createElement(tag), props);
  node.append(...children);
  return node;
};

export function permissionRow(label, granted, onRequest) {
  const button = el('button', { type: 'button', textContent: `Request ${label.toLowerCase()} access` });
  button.addEventListener('click', onRequest);
  return el('li', {},
    el('span', { textContent: `${label}:` }),
    el('span', { className: granted ? 'granted' : 'denied', textContent: granted ? 'granted' : 'not granted' }),
    button);
}

export function logLine(list, text) {
  const time = new Date().toLocaleTimeString();
  list.prepend(el('li', { textContent: `${time} ${text}` }));
  while (list.children.length > 50) list.lastChild.remove();
}

// One source: its name, default mark and id, a Start/Stop button, and while a
// capture runs (or after) its state, level, pitch, waveform and download.
export class SourceCard {
  constructor(device, onToggle) {
    this.device = device;
    const kind = device.type === 0 ? 'microphone' : 'display';
    this.button = el('button', { type: 'button', className: 'primary' });
    this.button.addEventListener('click', () => onToggle(this));
    this.state = el('span', { className: 'state' });
    this.levelText = el('span', { className: 'level-text' });
    this.pitch = el('span', { className: 'pitch' });
    this.seconds = el('span', { className: 'seconds' });
    this.meter = el('meter', { className: 'level', min: 0, max: 1, low: 0.5, high: 0.9, optimum: 0.3, value: 0 });
    this.meter.setAttribute('aria-label', `Level of ${device.name}`);
    this.canvas = el('canvas', { className: 'wave', width: 600, height: 80 });
    this.canvas.setAttribute('role', 'img');
    this.canvas.setAttribute('aria-label', `Waveform of ${device.name}`);
    this.download = el('button', { type: 'button', textContent: 'Download WAV', disabled: true });
    this.error = el('p', { className: 'error', role: 'alert' });
    this.capture = el('div', { className: 'capture', hidden: true },
      el('div', { className: 'readout' }, this.state, this.levelText, this.pitch, this.seconds),
      this.meter, this.canvas, el('div', {}, this.download), this.error);
    const head = el('div', { className: 'source-head' },
      el('span', { className: 'source-name', textContent: device.name }));
    if (device.isDefault) head.append(el('span', { className: 'badge', textContent: `default ${kind}` }));
    head.append(el('span', { className: 'source-id', textContent: `id ${device.id}` }), this.button);
    this.element = el('li', {}, head, this.capture);
    this.element.dataset.id = device.id;
    this.element.dataset.type = String(device.type);
    this.show({ phase: 'idle' });
  }

  // `capture`: { phase, level, pitch, seconds, error }.
  show(capture) {
    const running = capture.phase === 'running' || capture.phase === 'starting';
    this.button.textContent = running ? 'Stop' : 'Start';
    this.button.setAttribute('aria-label', `${running ? 'Stop' : 'Start'} ${this.device.name}`);
    this.element.dataset.phase = capture.phase;
    if (capture.phase === 'idle') return;
    this.capture.hidden = false;
    this.state.textContent = {
      starting: 'starting…', running: 'deviceStart: capturing', stopping: 'stopping…', stopped: 'deviceStop: stopped',
    }[capture.phase] ?? capture.phase;
    const db = capture.level > 0 ? (20 * Math.log10(capture.level)).toFixed(1) : '-∞';
    this.levelText.textContent = `level ${db} dBFS`;
    this.meter.value = Math.min(1, capture.level);
    this.pitch.textContent = capture.pitch ? `pitch ≈ ${Math.round(capture.pitch)} Hz` : '';
    this.pitch.dataset.hz = capture.pitch ? String(Math.round(capture.pitch)) : '';
    this.seconds.textContent = `${capture.seconds.toFixed(1)} s heard`;
    this.download.disabled = capture.seconds === 0;
    this.error.textContent = capture.error ?? '';
  }

  // Min/max of the recent samples per pixel column.
  drawWave(recent) {
    const g = this.canvas.getContext('2d');
    const { width, height } = this.canvas;
    g.clearRect(0, 0, width, height);
    g.strokeStyle = getComputedStyle(this.canvas).getPropertyValue('--wave').trim() || '#2f6fde';
    g.beginPath();
    const per = recent.length / width;
    for (let x = 0; x < width; x++) {
      let lo = 0, hi = 0;
      for (let i = Math.floor(x * per); i < Math.floor((x + 1) * per); i++) {
        lo = Math.min(lo, recent[i]);
        hi = Math.max(hi, recent[i]);
      }
      g.moveTo(x + 0.5, (1 - hi) * height / 2);
      g.lineTo(x + 0.5, (1 - lo) * height / 2 + 1);
    }
    g.stroke();
  }
}
