// The live page of `vornctl view`: device panels from the "state" events,
// traces from the "blocks" events, controls as JSON POSTs.
(() => {
  'use strict';
  // The token (when this view asks for one) came once in the URL; the server
  // keeps it in a cookie this script cannot read, so it is in no URL here.
  const nowMs = () => performance.timeOrigin + performance.now();
  const panels = new Map();
  const delays = [];  // arrival-to-draw of stamped blocks, ms
  let windowSeconds = 10;

  function physical(ch, raw) {
    return ch.hasRange ? ch.minimum + (raw / 32767) * (ch.maximum - ch.minimum) : raw;
  }
  function decimals(ch) {
    if (!ch.hasRange) return 0;
    const step = Math.abs(ch.maximum - ch.minimum) / 32767;
    return step > 0 ? Math.min(6, Math.max(0, Math.ceil(-Math.log10(step)))) : 0;
  }
  function el(tag, attrs = {}, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs)) {
      if (k === 'class') e.className = v; else if (k.startsWith('on')) e.addEventListener(k.slice(2), v); else e.setAttribute(k, v);
    }
    for (const c of children) e.append(c);
    return e;
  }
  function tickText(v) {
    const a = Math.abs(v);
    return a === 0 || a >= 100 ? v.toFixed(0) : a >= 1 ? String(Number(v.toFixed(1))) : String(Number(v.toPrecision(2)));
  }
  function progressText(s) {
    return `${s.seconds.toFixed(1).padStart(7)} s  ${s.rate.toFixed(1).padStart(7)} lines/s  dropped ${s.dropped}  missing ${s.missing}`;
  }

  async function control(index, action, body) {
    const panel = panels.get(index);
    panel.error.textContent = '';
    try {
      const res = await fetch(`/api/devices/${index}/${action}`, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(body || {}),
      });
      const reply = await res.json();
      if (reply.device) panel.update(reply.device);
      if (!res.ok) panel.error.textContent = reply.error || `${action} failed (${res.status})`;
      return reply;
    } catch (e) {
      panel.error.textContent = `${action}: ${e}`;
      return null;
    }
  }

  // One channel's points: a growing typed array whose live window is moved
  // to the front when it runs out of room, so plotting needs no copies.
  class Trace {
    constructor(channel, periodUs, parent) {
      this.channel = channel;
      this.periodS = periodUs / 1e6;
      this.capacity = Math.ceil(35 / Math.max(this.periodS, 1e-4)) * 2 + 1024;
      this.x = new Float64Array(this.capacity);
      this.y = new Float64Array(this.capacity);
      this.start = 0;
      this.end = 0;
      this.lastRaw = null;
      this.ticks = [];  // the value axis's labels as last drawn
      this.dec = decimals(channel);
      const unit = channel.unit ? ` [${channel.unit}]` : '';
      this.value = el('div', { class: 'value' }, '-');
      const label = el('div', { class: 'label' }, el('div', {}, channel.name + unit), this.value);
      const box = el('div', { class: 'plot' });
      this.root = el('div', { class: 'trace', 'data-position': channel.position }, label, box);
      parent.append(this.root);
      const range = channel.hasRange ? [Math.min(channel.minimum, channel.maximum), Math.max(channel.minimum, channel.maximum)] : null;
      const yAxis = { size: 50, font: '10px sans-serif', label: channel.unit || '', labelSize: 12, labelFont: '10px sans-serif' };
      if (range) {
        // The announced range's ends and middle: a short plot's own choice
        // of round steps can leave a symmetric range with a lone 0.
        yAxis.splits = () => [range[0], (range[0] + range[1]) / 2, range[1]];
        yAxis.values = (u, splits) => (this.ticks = splits.map(tickText));
      }
      this.plot = new uPlot({
        width: Math.max(300, parent.clientWidth - 150), height: 90,
        legend: { show: false }, cursor: { show: false },
        scales: { x: { time: false }, y: range ? { range: () => range } : { auto: true } },
        axes: [{ size: 24, font: '10px sans-serif' }, yAxis],
        series: [{}, { stroke: '#1f6fc5', width: 1, points: { show: false } }],
      }, [[], []], box);
    }
    add(line, raw) {
      if (this.end === this.capacity) {
        // The newest half holds more than the widest window.
        const keepFrom = this.capacity - (this.capacity >> 1);
        this.x.copyWithin(0, keepFrom, this.end);
        this.y.copyWithin(0, keepFrom, this.end);
        this.end -= keepFrom;
        this.start = Math.max(0, this.start - keepFrom);
      }
      this.x[this.end] = line * this.periodS;
      this.y[this.end] = physical(this.channel, raw);
      this.end++;
      this.lastRaw = raw;
    }
    draw() {
      if (this.end === this.start) return;
      const latest = this.x[this.end - 1];
      const from = latest - windowSeconds;
      while (this.start < this.end && this.x[this.start] < from) this.start++;
      this.plot.setData([this.x.subarray(this.start, this.end), this.y.subarray(this.start, this.end)], false);
      this.plot.setScale('x', { min: from, max: latest });
      this.value.textContent = this.y[this.end - 1].toFixed(this.dec);
    }
    lastValues(n) {
      const from = Math.max(this.start, this.end - n);
      return Array.from(this.y.subarray(from, this.end));
    }
    remove() { this.plot.destroy(); this.root.remove(); }
  }

  class Panel {
    constructor(info) {
      this.index = info.index;
      this.stream = 0;
      this.traces = [];
      this.pending = [];
      this.stamps = [];
      this.dirty = false;
      this.status = el('span', { class: 'status' });
      this.serial = el('span', { class: 'serial' });
      this.source = el('span', { class: 'source' });
      this.identity = el('span', { class: 'identity' });
      this.sharedId = el('span', { class: 'shared-id' });
      this.message = el('div', { class: 'error message' });
      this.error = el('div', { class: 'error control-error' });
      this.progress = el('div', { class: 'progress' });
      this.recording = el('div', { class: 'recording' });
      this.startButton = el('button', { class: 'start', onclick: () => control(this.index, 'start') }, 'Start');
      this.stopButton = el('button', { class: 'stop', onclick: () => control(this.index, 'stop') }, 'Stop');
      this.channelBoxes = el('fieldset', { class: 'channels' }, el('legend', {}, 'Channels'));
      this.applyChannels = el('button', { class: 'apply-channels', onclick: () => this.sendChannels() }, 'Apply');
      this.channelBoxes.append(this.applyChannels);
      this.periodSelect = el('select', { class: 'period', onchange: () => control(this.index, 'period', { periodUs: Number(this.periodSelect.value) }) });
      this.format = el('select', { class: 'format' }, el('option', { value: 'csv' }, 'CSV'), el('option', { value: 'edf' }, 'EDF+'));
      this.recordButton = el('button', { class: 'record', onclick: () => control(this.index, 'record', { format: this.format.value }) }, 'Record');
      this.recordStopButton = el('button', { class: 'record-stop', onclick: () => control(this.index, 'record-stop') }, 'End recording');
      this.tracesBox = el('div', { class: 'traces' });
      this.root = el('section', { class: 'panel', 'data-device': info.index },
        el('h2', {}, el('span', {}, `Device ${info.index}`), this.status, this.serial, this.source),
        el('div', { class: 'identity-line' }, this.identity, this.sharedId),
        this.message,
        el('div', { class: 'controls' }, this.startButton, this.stopButton, this.channelBoxes,
          el('label', {}, 'Period ', this.periodSelect), this.format, this.recordButton, this.recordStopButton),
        this.error, this.progress, this.recording, this.tracesBox);
      document.getElementById('devices').append(this.root);
      this.channelInputs = [];
      for (const ch of info.channels) {
        const box = el('input', { type: 'checkbox', value: ch.position });
        this.channelInputs.push(box);
        this.channelBoxes.insertBefore(el('label', {}, box, ` ${ch.name}`), this.applyChannels);
      }
      for (const p of info.periods) this.periodSelect.append(el('option', { value: p.us }, p.label));
      this.update(info, true);
    }
    syncChannels() {
      for (const b of this.channelInputs) b.checked = this.info.channels.find((c) => c.position === Number(b.value)).enabled;
    }
    async sendChannels() {
      const channels = this.channelInputs.filter((b) => b.checked).map((b) => Number(b.value));
      await control(this.index, 'channels', { channels });
      // Refused or not, the boxes show what the device will stream.
      this.syncChannels();
    }
    update(info, first) {
      this.info = info;
      this.status.textContent = info.status;
      this.status.dataset.status = info.status;
      // The serial text is the device's identity; the unique id is the
      // driver's number for it, which two devices can share.
      this.serial.textContent = info.serial ? `serial ${info.serial}` : '';
      // A publisher's device: where it is streamed from.
      this.source.textContent = info.source ? `from ${info.source}` : '';
      this.identity.textContent = `${info.product} ${info.version}, unique id ${info.uniqueId}`;
      const twins = [...panels.values()].filter((p) => p !== this && p.info && p.info.uniqueId === info.uniqueId && info.uniqueId !== '-');
      this.sharedId.textContent = twins.length ? `same unique id as device ${twins.map((p) => p.index).join(', ')}` : '';
      this.message.textContent = info.status === 'failed' ? info.message : (info.message || '');
      const streaming = info.status === 'streaming';
      this.startButton.disabled = info.status !== 'stopped';
      this.stopButton.disabled = !streaming;
      this.recordButton.disabled = !streaming || info.recording.active;
      this.recordStopButton.disabled = !info.recording.active;
      if (first || document.activeElement !== this.periodSelect) this.periodSelect.value = String(info.periodUs);
      if (first) this.syncChannels();
      this.progress.textContent = info.stream ? progressText(info.stats) : '';
      const r = info.recording, last = info.lastRecording;
      this.recording.textContent = r.active ? (r.path ? `recording to ${r.path} (${r.lines} sets)` : 'starting a recording')
        : last.path ? `wrote ${last.path} (${last.lines} sets)${last.error ? ': ' + last.error : ''}` : '';
      this.recording.dataset.path = r.active ? '' : last.path;
      if (info.stream !== this.stream && info.stream > 0 && info.status !== 'starting') this.newStream(info);
    }
    newStream(info) {
      for (const t of this.traces) t.remove();
      this.traces = [];
      this.stream = info.stream;
      for (const pos of info.streamed) {
        const ch = info.channels.find((c) => c.position === pos);
        this.traces.push(new Trace(ch, info.periodUs, this.tracesBox));
      }
      const waiting = this.pending.filter((b) => b.stream === this.stream);
      this.pending = this.pending.filter((b) => b.stream > this.stream);
      for (const b of waiting) this.addBlock(b);
    }
    addBlock(b) {
      if (b.stream !== this.stream) {
        // A stream the page has not heard of yet: its state follows shortly.
        if (b.stream > this.stream && this.pending.length < 100) this.pending.push(b);
        return;
      }
      b.values.forEach((column, c) => {
        const trace = this.traces[c];
        if (!trace) return;
        column.forEach((v, i) => { if (v !== null) trace.add(b.first + i, v); });
      });
      if (b.arrival > 0) this.stamps.push(b.arrival);
      this.dirty = true;
    }
    draw(now) {
      if (!this.dirty) return;
      this.dirty = false;
      for (const t of this.traces) t.draw();
      for (const a of this.stamps) delays.push(now() - a);
      this.stamps = [];
      if (delays.length > 4000) delays.splice(0, delays.length - 4000);
    }
  }

  function median(list) {
    if (!list.length) return NaN;
    const s = [...list].sort((a, b) => a - b);
    return s[Math.floor(s.length / 2)];
  }

  function onState(state) {
    for (const info of state.devices) {
      const panel = panels.get(info.index);
      if (panel) panel.update(info); else panels.set(info.index, new Panel(info));
    }
  }

  function frame() {
    for (const p of panels.values()) p.draw(nowMs);
    requestAnimationFrame(frame);
  }

  let delayShown = 0;
  setInterval(() => {
    const recent = delays.slice(-500);
    document.getElementById('delay').textContent = recent.length
      ? `arrival to draw: median ${median(recent).toFixed(0)} ms` : 'arrival to draw: -';
    delayShown++;
  }, 1000);

  document.getElementById('window').addEventListener('change', (e) => {
    const v = Number(e.target.value);
    windowSeconds = Math.min(30, Math.max(2, Number.isFinite(v) ? v : 10));
    e.target.value = windowSeconds;
  });

  const connection = document.getElementById('connection');
  const refusal = document.getElementById('refusal');
  function showRefusal(text) {
    connection.textContent = text ? 'refused by vornctl view' : '';
    refusal.textContent = text;
    refusal.hidden = !text;
  }
  // Why the server turned the event stream down, in its own words; null when
  // it did not (it is out of reach, or it let the stream through).
  async function refusalOf(path) {
    const abort = new AbortController();
    try {
      const res = await fetch(path, { cache: 'no-store', signal: abort.signal });
      if (res.ok) { abort.abort(); return null; }
      const reply = await res.json().catch(() => ({}));
      return { status: res.status, text: reply.error || `vornctl view answered ${res.status}` };
    } catch (e) {
      return null;
    }
  }
  let source = null;
  function connect() {
    source = new EventSource('/api/events');
    source.addEventListener('state', (e) => { showRefusal(''); onState(JSON.parse(e.data)); });
    source.addEventListener('blocks', (e) => {
      for (const b of JSON.parse(e.data).blocks) {
        const panel = panels.get(b.device);
        if (panel) panel.addBlock(b);
      }
    });
    source.onerror = async () => {
      if (source.readyState !== EventSource.CLOSED) {
        connection.textContent = 'connection to vornctl view lost; retrying';
        return;
      }
      // Closed for good: the server answered, but not with a stream.
      const refused = await refusalOf('/api/events');
      if (refused) showRefusal(refused.text);
      else connection.textContent = 'connection to vornctl view lost; retrying';
      // Too many pages or a passing failure may clear; a missing token does not.
      if (!refused || refused.status === 429 || refused.status >= 500) setTimeout(connect, 5000);
    };
  }
  connect();
  requestAnimationFrame(frame);

  // For tests and the bench: what the page holds and how late it draws.
  window.vornView = {
    refusal: () => (refusal.hidden ? '' : refusal.textContent),
    panels: () => [...panels.values()].map((p) => ({ index: p.index, status: p.info.status, stream: p.stream,
      serial: p.info.serial, source: p.info.source,
      points: p.traces.map((t) => t.end - t.start) })),
    ticks: (index) => panels.get(index).traces.map((t) => t.ticks),
    lastValues: (index, n) => panels.get(index).traces.map((t) => ({ position: t.channel.position, name: t.channel.name, values: t.lastValues(n) })),
    delays: () => delays.slice(),
    medianDelay: () => median(delays),
    setWindow: (s) => { windowSeconds = s; document.getElementById('window').value = s; },
  };
})();
