// The station's page: the tray of ports live from the event stream, loads to many ports at once,
// one port's parameter table with edits in place, configuration files and the job history. It
// speaks only the station's documented API and fetches nothing else.
'use strict';

(function () {
  const TEXTS = window.KRT_TEXTS;
  const TABLE = window.KRT_TABLE;
  const SPEEDS = [300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200];
  const LOAD_SPEED = 19200;  // the loader's speed when none is chosen
  const PROGRAM_MAX = 32768;
  const ROWS = 104;
  const CONFIG_KINDS = ['find', 'read', 'write', 'diff', 'apply'];
  const KINDS = ['find', 'read', 'write', 'diff', 'apply', 'load'];
  const HEARTBEAT_MS = 5000;
  const QUIET_MS = 20000;  // the station comments every 15 s; silence beyond this is checked

  // ---------------------------------------------------------------- values as the station sees them

  // Windows-1251: bytes 0x00-0x7F are ASCII, 0xC0-0xFF are U+0410-U+044F, and these between. 0x98
  // has no character and passes as the C1 control of its own number, as the station takes it.
  const CP1251_HIGH = [
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457,
  ];
  const CP1251 = new Set(CP1251_HIGH);
  for (let cp = 0; cp < 0x80; cp++) CP1251.add(cp);
  for (let cp = 0x410; cp <= 0x44F; cp++) CP1251.add(cp);

  function codePointName(cp) {
    return 'U+' + cp.toString(16).toUpperCase().padStart(4, '0');
  }

  // The longest value a write request of the row carries: the plain parameters' frames are shorter.
  function valueRoom(row) {
    return row <= 1 ? 5982 : 5977;
  }

  // Why the station would refuse the value for the row, as [text, ...arguments], or null. The same
  // checks in the same order as the station's, counting characters from 1.
  function valueProblem(row, value) {
    const chars = Array.from(value);
    for (let i = 0; i < chars.length; i++) {
      const cp = chars[i].codePointAt(0);
      if (!CP1251.has(cp)) return ['notInCodePage', i + 1, codePointName(cp)];
    }
    for (let i = 0; i < chars.length; i++) {
      const cp = chars[i].codePointAt(0);
      if (cp < 0x20 || cp === 0x7F) return ['controlCharacter', i + 1, codePointName(cp)];
    }
    if (chars.length > valueRoom(row)) return ['tooLong', chars.length, valueRoom(row)];
    return null;
  }

  // Why a program file cannot be loaded, in the station's words, or null.
  function programProblem(name, size) {
    if (size === 0) return ['emptyProgram', name];
    if (size > PROGRAM_MAX) return ['programTooBig', name, size];
    return null;
  }

  // SHA-256 in plain JavaScript, for browsers without crypto.subtle (a page not served from a
  // secure context). The constants are the roots of the first primes, computed rather than listed.
  function sha256js(bytes) {
    const K = [];
    const H = [];
    const frac = (x) => ((x - Math.floor(x)) * 0x100000000) | 0;
    for (let n = 2; K.length < 64; n++) {
      let prime = true;
      for (let d = 2; d * d <= n; d++) if (n % d === 0) { prime = false; break; }
      if (!prime) continue;
      if (H.length < 8) H.push(frac(Math.sqrt(n)));
      K.push(frac(Math.cbrt(n)));
    }
    const length = bytes.length;
    const total = (((length + 9) + 63) >> 6) << 6;
    const m = new Uint8Array(total);
    m.set(bytes);
    m[length] = 0x80;
    const view = new DataView(m.buffer);
    view.setUint32(total - 8, Math.floor(length / 0x20000000));
    view.setUint32(total - 4, (length * 8) >>> 0);
    const w = new Int32Array(64);
    const rotr = (x, n) => (x >>> n) | (x << (32 - n));
    for (let at = 0; at < total; at += 64) {
      for (let i = 0; i < 16; i++) w[i] = view.getInt32(at + i * 4);
      for (let i = 16; i < 64; i++) {
        const a = w[i - 15];
        const b = w[i - 2];
        w[i] = (w[i - 16] + (rotr(a, 7) ^ rotr(a, 18) ^ (a >>> 3)) + w[i - 7] +
                (rotr(b, 17) ^ rotr(b, 19) ^ (b >>> 10))) | 0;
      }
      let [a, b, c, d, e, f, g, h] = H;
      for (let i = 0; i < 64; i++) {
        const t1 = (h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i]) | 0;
        const t2 = ((rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c))) | 0;
        h = g; g = f; f = e; e = (d + t1) | 0; d = c; c = b; b = a; a = (t1 + t2) | 0;
      }
      [a, b, c, d, e, f, g, h].forEach((x, i) => { H[i] = (H[i] + x) | 0; });
    }
    return H.map((x) => (x >>> 0).toString(16).padStart(8, '0')).join('');
  }

  async function sha256(bytes) {
    if (window.crypto && crypto.subtle && crypto.subtle.digest) {
      try {
        const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
        return Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
      } catch (e) {
        // Not a secure context after all: the plain version below.
      }
    }
    return sha256js(bytes);
  }

  // A job's result as one word for the page: the station's outcome, with a load cut by the line
  // counted as a line failure and a comparison that found differences as such.
  function outcomeOf(job) {
    if (!job) return null;
    if (job.state === 'running') return 'running';
    if (job.state === 'interrupted') return 'interrupted';
    let word = job.outcome || outcomeOfExit(job.exit);
    const text = job.text || job.result || '';
    if (word === 'failed' && job.kind === 'load' && /^the line failed/.test(text)) word = 'line-failed';
    if (word === 'failed' && job.kind === 'diff' && job.exit === 1) word = 'differs';
    return word;
  }

  function outcomeOfExit(exit) {
    const words = ['success', 'failed', 'usage', 'no-adapter', 'refused', 'no-answer', 'line-failed',
                   'read-back'];
    if (exit >= 128) return 'stopped';
    return words[exit] || 'failed';
  }

  const OUTCOME_ICONS = {
    success: '✓', refused: '✗', 'no-answer': '?', 'no-adapter': '?', 'line-failed': '⚠',
    stopped: '■', differs: '≠', running: '…', interrupted: '■',
  };

  // ---------------------------------------------------------------- language

  function pickLanguage() {
    const kept = localStorage.getItem('krt42.lang');
    if (kept && TEXTS[kept]) return kept;
    for (const tag of navigator.languages || [navigator.language || '']) {
      const base = String(tag).toLowerCase().slice(0, 2);
      if (base === 'ru' || base === 'en') return base;
    }
    return 'ru';
  }

  let lang = pickLanguage();

  function t(key, ...args) {
    const text = TEXTS[lang][key];
    return typeof text === 'function' ? text(...args) : text;
  }

  function tr(problem) {
    return t(...problem);
  }

  function outcomeText(word) {
    return TEXTS[lang].outcomes[word] || word;
  }

  function kindText(kind) {
    return TEXTS[lang].kinds[kind] || kind;
  }

  // ---------------------------------------------------------------- the station

  class StationError extends Error {
    constructor(status, message, body) {
      super(status === 0 ? message : t('stationRefused', status, message));
      this.status = status;
      this.body = body;
    }
  }

  async function api(method, path, body, type) {
    const init = { method, cache: 'no-store', headers: {} };
    if (method !== 'GET') {
      init.body = body === undefined ? '' : body;
      if (type) init.headers['Content-Type'] = type;
    }
    let res;
    try {
      res = await fetch(path, init);
    } catch (e) {
      if (S.live) drop();
      throw new StationError(0, t('unreachable'));
    }
    let data = null;
    try {
      data = await res.json();
    } catch (e) {
      data = null;
    }
    if (res.status !== 200 && res.status !== 202) {
      throw new StationError(res.status, (data && data.error) || res.statusText, data);
    }
    S.lastSeen = Date.now();
    return { status: res.status, data };
  }

  function withQuery(path, query) {
    const parts = Object.entries(query).filter(([, v]) => v !== undefined && v !== null && v !== '')
      .map(([k, v]) => `${k}=${encodeURIComponent(v)}`);
    return parts.length === 0 ? path : path + (path.includes('?') ? '&' : '?') + parts.join('&');
  }

  // Runs a job to its end: the station waits for it, and a job that outlasts the wait is asked
  // for again. Gives the job's result.
  async function runJob(path, body, type) {
    let { data } = await api('POST', withQuery(path, { wait: 120 }), body, type);
    let job = data.job;
    while (job && job.state === 'running') {
      ({ data } = await api('GET', `/api/jobs/${job.id}?wait=120`));
      job = data;
    }
    noteJobEnd(job);
    return job;
  }

  // The adapter's speed as the last configurator job on the port found it: later jobs go straight
  // to it instead of searching again.
  function speedOf(name) {
    return S.speeds.get(name);
  }

  function noteJobEnd(job) {
    if (!job || job.state === 'running' || !CONFIG_KINDS.includes(job.kind)) return;
    const word = outcomeOf(job);
    if ((word === 'success' || word === 'differs' || word === 'refused') && job.speed) {
      S.speeds.set(job.port, job.speed);
    } else if (word === 'no-adapter' || word === 'no-answer' || word === 'line-failed') {
      S.speeds.delete(job.port);
    }
  }

  // ---------------------------------------------------------------- state

  const S = {
    ports: new Map(),   // name -> the port as the station last told it
    order: [],          // the tray's names in its order
    version: '',
    live: false,
    everLive: false,    // the page has been live once: a loss is shown as one
    lastSeen: 0,
    speeds: new Map(),  // name -> the adapter's speed, known from a configurator job
    loads: new Map(),   // name -> the last load's result
    tables: new Map(),  // name -> the parameter table's rows
    ticks: new Set(),   // ports ticked for a load
    program: null,      // {name, size, bytes, sha256, problem}
    paramPort: '',
    view: 'tray',
    editing: null,      // {row, input, message}: the row's editor while it is open
  };

  const $ = (id) => document.getElementById(id);

  function el(tag, props, ...children) {
    const node = document.createElement(tag);
    for (const [k, v] of Object.entries(props || {})) {
      if (v === undefined || v === null || v === false) continue;
      if (k === 'class') node.className = v;
      else if (k === 'text') node.textContent = v;
      else if (k.startsWith('on')) node.addEventListener(k.slice(2), v);
      else node.setAttribute(k, v === true ? '' : v);
    }
    for (const child of children) {
      if (child !== null && child !== undefined && child !== false) node.append(child);
    }
    return node;
  }

  function announce(text) {
    $('announce').textContent = text;
  }

  // ---------------------------------------------------------------- the live connection

  let stream = null;
  let buffered = null;   // events that came while the tray was being read
  let retryMs = 1000;
  let retryTimer = 0;

  function connect() {
    clearTimeout(retryTimer);
    if (stream) stream.close();
    buffered = [];
    // A new stream each time, never the browser's own resumption: a restarted station numbers its
    // events from 1 again, and the tray is read afresh after every reconnection anyway.
    stream = new EventSource('/api/events');
    stream.addEventListener('open', readTray);
    stream.addEventListener('port', (e) => onEvent('port', e));
    stream.addEventListener('job', (e) => onEvent('job', e));
    stream.addEventListener('reset', () => readTray());
    stream.addEventListener('error', () => drop());
  }

  function drop() {
    if (stream) stream.close();
    stream = null;
    buffered = null;
    setLive(false);
    clearTimeout(retryTimer);
    retryTimer = setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 5000);
  }

  async function readTray() {
    const current = stream;
    try {
      const { data } = await api('GET', '/api/ports');
      if (stream !== current) return;
      applyTray(data);
      const later = buffered || [];
      buffered = null;
      for (const [type, payload] of later) handle(type, payload);
      retryMs = 1000;
      setLive(true);
    } catch (e) {
      if (stream === current) drop();
    }
  }

  function onEvent(type, e) {
    S.lastSeen = Date.now();
    let payload;
    try {
      payload = JSON.parse(e.data);
    } catch (err) {
      return;
    }
    if (buffered) buffered.push([type, payload]);
    else handle(type, payload);
  }

  function handle(type, payload) {
    if (type === 'port') {
      setPort(payload);
    } else if (type === 'job') {
      onJob(payload);
    }
  }

  // Silence beyond the station's own keep-alive is checked with a read of the tray: a stream that
  // died without a word must not go on showing old numbers as live.
  setInterval(async () => {
    if (!S.live || Date.now() - S.lastSeen < QUIET_MS) return;
    try {
      const { data } = await api('GET', '/api/ports');
      applyTray(data);
    } catch (e) {
      drop();
    }
  }, HEARTBEAT_MS);

  function setLive(live) {
    S.live = live;
    document.body.classList.toggle('offline', !live);
    const banner = $('banner');
    banner.hidden = live || !S.everLive;
    banner.textContent = live ? '' : t('reconnecting');
    if (live) S.everLive = true;
    renderLink();
    for (const name of S.order) renderCard(name);
    renderParamState();
  }

  function renderLink() {
    const link = $('link');
    link.className = 'link ' + (S.live ? 'live' : 'down');
    link.textContent = S.live ? `● ${t('live')}` + (S.version ? ` · ${t('stationVersion', S.version)}` : '')
      : `○ ${S.everLive ? t('reconnecting') : t('connecting')}`;
  }

  function applyTray(data) {
    S.version = data.version || '';
    const names = data.ports.map((p) => p.name);
    const same = names.length === S.order.length && names.every((n, i) => n === S.order[i]);
    S.order = names;
    for (const port of data.ports) S.ports.set(port.name, port);
    if (!same) buildTray();
    for (const port of data.ports) setPort(port);
  }

  function setPort(port) {
    if (!S.ports.has(port.name) && !S.order.includes(port.name)) return;
    S.ports.set(port.name, port);
    const last = port.last;
    if (last && CONFIG_KINDS.includes(last.kind) && last.outcome === 'success' && port.speed &&
        !port.job) {
      S.speeds.set(port.name, port.speed);
    }
    renderCard(port.name);
    if (port.name === S.paramPort) renderParamState();
  }

  function onJob(job) {
    if (job.state === 'running') return;
    noteJobEnd(job);
    if (job.kind === 'load') S.loads.set(job.port, job);
    if (job.kind === 'read' && job.configuration) fillTable(job.port, job.configuration);
    renderCard(job.port);
    announce(t('jobEnded', kindText(job.kind), job.port, outcomeText(outcomeOf(job))));
    if (S.view === 'history') scheduleHistory();
  }

  // ---------------------------------------------------------------- the tray

  const cards = new Map();

  function buildTray() {
    const box = $('cards');
    box.textContent = '';
    cards.clear();
    if (S.order.length === 0) box.append(el('p', { class: 'empty', text: t('noPorts') }));
    for (const name of S.order) {
      const c = {};
      const id = `card-${name}`;
      c.root = el('article', { class: 'card', 'data-port': name, 'aria-labelledby': `${id}-name` },
        el('header', { class: 'card-head' },
          c.name = el('h3', { id: `${id}-name`, class: 'port-name', text: name }),
          c.stale = el('span', { class: 'stale-badge' }),
          c.params = el('a', { class: 'button params', href: `#params/${encodeURIComponent(name)}` })),
        c.path = el('p', { class: 'path' }),
        c.state = el('p', { class: 'state' }),
        c.adapter = el('dl', { class: 'adapter' }),
        c.job = el('div', { class: 'job' },
          c.bar = el('progress', { class: 'bar', max: 1, value: 0, 'aria-labelledby': `${id}-progress` }),
          c.progress = el('p', { class: 'progress', id: `${id}-progress` })),
        c.last = el('p', { class: 'last' }),
        c.error = el('p', { class: 'error', role: 'alert' }),
        el('div', { class: 'buttons' },
          c.find = el('button', { type: 'button', 'aria-describedby': `${id}-name`, onclick: () => startSimple(name, 'find') }),
          c.read = el('button', { type: 'button', 'aria-describedby': `${id}-name`, onclick: () => startSimple(name, 'read') }),
          c.stop = el('button', { type: 'button', class: 'stop', 'aria-describedby': `${id}-name`, onclick: () => stopPort(name) })));
      cards.set(name, c);
      box.append(c.root);
    }
    buildTicks();
    buildPortSelects();
  }

  function stateText(port) {
    const job = port.job;
    switch (port.state) {
      case 'connected':
        return t('connectedAt', port.speed);
      case 'idle':
        return job ? TEXTS[lang].states.starting : TEXTS[lang].states.idle;
      default:
        return TEXTS[lang].states[port.state] || port.state;
    }
  }

  // Only what changed is touched: progress comes ten times a second per port, and the result line
  // is a live region that must not be announced again for every block.
  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  function renderCard(name) {
    const c = cards.get(name);
    const port = S.ports.get(name);
    if (!c || !port) return;
    c.root.classList.toggle('busy', !!port.job);
    c.root.classList.toggle('stale', !S.live);
    setText(c.stale, S.live ? '' : t('stale'));
    setText(c.path, port.path);
    setText(c.state, stateText(port));
    c.state.className = `state state-${port.job ? port.state : 'idle'}`;

    const a = port.adapter;
    const facts = [t('version'), a ? a.version : t('notRead'), t('number'), a ? a.number : '—',
                   t('speed'), port.speed ? t('atSpeed', port.speed) : '—'];
    if (c.adapter.children.length === 0) {
      for (const k of ['version', 'number', 'speed']) c.adapter.append(el('dt'), el('dd', { class: k }));
    }
    facts.forEach((text, i) => setText(c.adapter.children[i], text));

    const progress = port.job && port.job.progress;
    c.job.hidden = !progress;
    if (progress) {
      c.bar.max = Math.max(progress.total, 1);
      c.bar.value = progress.bytes;
      const share = progress.total ? `${Math.floor(progress.bytes * 100 / progress.total)} % · ` : '';
      setText(c.progress, (progress.total ? share + t('progress', progress.bytes, progress.total) : '…') +
        ` · ${t('restarts', progress.restarts)}`);
    }

    const load = S.loads.get(name);
    const key = JSON.stringify([lang, port.job && port.job.kind, port.last, load && load.id]);
    if (c.lastKey !== key) {
      c.lastKey = key;
      c.last.textContent = '';
      if (port.job) {
        c.last.className = 'last outcome-running';
        c.last.append(el('span', { class: 'icon', 'aria-hidden': 'true', text: '…' }), ' ',
                      el('b', { text: `${kindText(port.job.kind)}: ${outcomeText('running')}` }));
      } else if (port.last) {
        renderResult(c.last, port.last, load);
      } else {
        c.last.className = 'last';
        c.last.append(t('noResult'));
      }
    }

    const idle = S.live && !port.job;
    c.find.disabled = !idle;
    c.read.disabled = !idle;
    c.stop.disabled = !S.live || !port.job;
    for (const [button, label, title] of [[c.find, 'find', 'findTitle'], [c.read, 'read', 'readTitle'],
                                          [c.stop, 'stop', 'stopTitle'], [c.params, 'openParams']]) {
      setText(button, t(label));
      if (title) button.title = t(title);
    }
  }

  // A result in words, with its icon and colour: the colour is never the only sign.
  function renderResult(node, last, load) {
    const word = outcomeOf(last);
    node.className = `last outcome-${word}`;
    node.textContent = '';
    const text = last.text || '';
    let detail = '';
    if (word === 'refused') {
      detail = `«${text.replace(/^refused: /, '')}»`;
    } else if (word !== 'success' && word !== 'stopped') {
      detail = text;
    }
    if (last.kind === 'load' && load && load.id === last.job && load.load) {
      // The numbers say it all, in the page's language.
      const l = load.load;
      detail = [t('progress', l.sent, l.total), t('restarts', l.restarts)].join(' · ');
    }
    node.append(el('span', { class: 'icon', 'aria-hidden': 'true', text: OUTCOME_ICONS[word] || '✗' }), ' ',
                el('b', { text: `${kindText(last.kind)}: ${outcomeText(word)}` }));
    if (detail) node.append(el('span', { class: 'detail', text: ` — ${detail}` }));
  }

  async function startSimple(name, kind) {
    const c = cards.get(name);
    c.error.textContent = '';
    try {
      const speed = kind === 'read' ? speedOf(name) : undefined;
      await api('POST', withQuery(`/api/ports/${encodeURIComponent(name)}/${kind}`, { speed }));
    } catch (e) {
      c.error.textContent = e.message;
    }
  }

  async function stopPort(name) {
    try {
      await api('POST', `/api/ports/${encodeURIComponent(name)}/stop`);
    } catch (e) {
      const c = cards.get(name);
      if (c) c.error.textContent = e.message;
    }
  }

  // ---------------------------------------------------------------- loading

  function buildTicks() {
    const box = $('ticks');
    box.textContent = '';
    for (const name of S.order) {
      const box2 = el('input', { type: 'checkbox', value: name, id: `tick-${name}` });
      box2.checked = S.ticks.has(name);
      box2.addEventListener('change', () => {
        if (box2.checked) S.ticks.add(name);
        else S.ticks.delete(name);
        renderTickAll();
      });
      box.append(el('label', { class: 'check', for: `tick-${name}` }, box2, ` ${name}`));
    }
    renderTickAll();
  }

  function renderTickAll() {
    const all = $('tick-all');
    all.checked = S.order.length > 0 && S.ticks.size === S.order.length;
    all.indeterminate = S.ticks.size > 0 && S.ticks.size < S.order.length;
  }

  $('tick-all').addEventListener('change', () => {
    const on = $('tick-all').checked;
    S.ticks = new Set(on ? S.order : []);
    for (const name of S.order) $(`tick-${name}`).checked = on;
    renderTickAll();
  });

  async function takeProgram(file) {
    const bytes = new Uint8Array(await file.arrayBuffer());
    const program = { name: file.name, size: bytes.length, bytes, sha256: '', problem: programProblem(file.name, bytes.length) };
    S.program = program;
    $('load-status').textContent = '';
    renderProgram();
    if (!program.problem) {
      program.sha256 = await sha256(bytes);
      if (S.program === program) renderProgram();
    }
  }

  function renderProgram() {
    const p = S.program;
    $('prog-info').hidden = !p;
    $('prog-error').textContent = p && p.problem ? tr(p.problem) : '';
    if (!p) return;
    $('prog-name').textContent = p.name;
    $('prog-size').textContent = t('bytes', p.size);
    $('prog-sha').textContent = p.problem ? '—' : p.sha256 || t('hashing');
  }

  $('prog-file').addEventListener('change', () => {
    const file = $('prog-file').files[0];
    if (file) takeProgram(file);
  });

  const drop_ = $('drop');
  for (const type of ['dragenter', 'dragover']) {
    drop_.addEventListener(type, (e) => {
      e.preventDefault();
      drop_.classList.add('over');
    });
  }
  drop_.addEventListener('dragleave', () => drop_.classList.remove('over'));
  drop_.addEventListener('drop', (e) => {
    e.preventDefault();
    drop_.classList.remove('over');
    const file = e.dataTransfer && e.dataTransfer.files[0];
    if (file) takeProgram(file);
  });

  $('load-start').addEventListener('click', async () => {
    const status = $('load-status');
    const p = S.program;
    status.className = 'status';
    if (!p) {
      status.textContent = t('noFile');
      return;
    }
    if (p.problem) {
      status.textContent = tr(p.problem);
      status.className = 'status error';
      return;
    }
    const ports = S.order.filter((n) => S.ticks.has(n));
    if (ports.length === 0) {
      status.textContent = t('noPortTicked');
      return;
    }
    status.textContent = t('working');
    try {
      const path = withQuery('/api/load', { ports: ports.join(','), speed: $('load-speed').value, name: p.name });
      await api('POST', path, p.bytes, 'application/octet-stream');
      status.textContent = t('loadStarted', ports.join(', '));
    } catch (e) {
      status.textContent = e.message;
      status.className = 'status error';
    }
  });

  $('stop-all').addEventListener('click', () => {
    for (const name of S.order) {
      const port = S.ports.get(name);
      if (port && port.job) stopPort(name);
    }
  });

  // ---------------------------------------------------------------- the parameter table

  function rowIdentity(row) {
    if (row === 0) return ['003', '00'];
    if (row === 1) return ['006', '00'];
    if (row <= 4) return ['099', String(row - 2).padStart(2, '0')];
    return ['052', String(row - 5).padStart(2, '0')];
  }

  function rowName(row) {
    if (row <= 5) return TABLE.firstNames[row];
    return (row - 5) % 2 !== 0 ? TABLE.readTask : TABLE.writeTask;
  }

  function startRows() {
    const rows = [];
    for (let r = 0; r < ROWS; r++) {
      rows.push({ value: r === 5 ? '00' : '0000000000', unit: '', mark: '', note: '', diff: null });
    }
    return rows;
  }

  function tableOf(name) {
    if (!S.tables.has(name)) S.tables.set(name, { rows: startRows(), read: false, changed: false });
    return S.tables.get(name);
  }

  function fillTable(name, config) {
    const table = tableOf(name);
    table.read = true;
    table.changed = false;
    for (const r of config.rows || []) {
      if (r.row < 0 || r.row >= ROWS) continue;
      if (S.editing && S.paramPort === name && S.editing.row === r.row) continue;
      const row = table.rows[r.row];
      row.value = r.value;
      row.unit = r.unit || '';
      row.mark = r.answered ? 'answered' : 'unanswered';
      row.note = '';
      row.diff = null;
    }
    if (name === S.paramPort) {
      if ($('param-status').textContent === t('noReadYet')) $('param-status').textContent = '';
      renderTable();
      renderParamState();
    }
  }

  const rowEls = [];

  function buildTableHead() {
    const head = $('ptable-head');
    head.textContent = '';
    const gloss = TEXTS[lang].columns;
    TABLE.columns.forEach((title, i) => {
      const th = el('th', { scope: 'col', class: `col${i}` }, el('span', { lang: 'ru', class: 'own', text: title }));
      if (gloss) th.append(el('span', { class: 'gloss', text: gloss[i] }));
      head.append(th);
    });
  }

  function buildTable() {
    const body = $('ptable-body');
    body.textContent = '';
    rowEls.length = 0;
    for (let r = 0; r < ROWS; r++) {
      const [param, index] = rowIdentity(r);
      const e = {};
      e.tr = el('tr', { 'data-row': r },
        el('td', { class: 'col0' }, e.mark = el('span', { class: 'mark' }), el('span', { class: 'param', text: `  ${param}` })),
        el('td', { class: 'col1', text: index }),
        e.cell = el('td', { class: 'col2' }),
        e.unit = el('td', { class: 'col3' }),
        e.name = el('td', { class: 'col4' }));
      e.button = el('button', { type: 'button', class: 'value', onclick: () => startEdit(r) });
      e.button.addEventListener('keydown', (ev) => moveFocus(ev, r));
      e.cell.append(e.button);
      e.note = el('span', { class: 'note' });
      e.cell.append(e.note);
      rowEls.push(e);
      body.append(e.tr);
    }
  }

  // Up and down walk the value column, as the configurator's list does.
  function moveFocus(ev, r) {
    const step = ev.key === 'ArrowDown' ? 1 : ev.key === 'ArrowUp' ? -1 : 0;
    if (step === 0 || !rowEls[r + step]) return;
    ev.preventDefault();
    rowEls[r + step].button.focus();
  }

  const MARK_ICONS = {
    answered: '', unanswered: '?', pending: '!', accepted: '✓', refused: '✗', failed: '✗', differs: '≠',
  };

  function renderRow(r) {
    const e = rowEls[r];
    const row = tableOf(S.paramPort).rows[r];
    const [param, index] = rowIdentity(r);
    const mark = row.diff ? 'differs' : row.mark;
    e.tr.className = mark ? `mark-${mark}` : '';
    e.mark.textContent = mark ? `${MARK_ICONS[mark]} ${TEXTS[lang].marks[mark]}`.trim() : '';
    e.mark.className = `mark ${mark}`;
    if (!(S.editing && S.editing.row === r)) {
      e.button.textContent = row.value;
      e.button.setAttribute('aria-label', `${t('editValue', `${param}:${index}`)}: ${row.value}`);
    }
    e.unit.textContent = row.unit;
    let note = row.note;
    if (row.diff) {
      note = `${t('fileValue')}: ${row.diff.file} · ${t('adapterValue')}: ${row.diff.adapterAnswered ? row.diff.adapter : outcomeText('no-answer')}`;
    }
    e.note.textContent = note;
    e.note.hidden = !note;
    e.name.textContent = '';
    const name = rowName(r);
    e.name.append(el('span', { lang: 'ru', text: name }));
    const gloss = TEXTS[lang].nameGloss;
    if (gloss) e.name.append(el('span', { class: 'gloss', text: gloss[name] }));
  }

  function renderTable() {
    if (rowEls.length === 0) buildTable();
    for (let r = 0; r < ROWS; r++) renderRow(r);
  }

  function renderParamState() {
    const name = S.paramPort;
    if (!name) return;
    const port = S.ports.get(name);
    $('params-port-name').textContent = name;
    $('param-state').textContent = port ? stateText(port) + (port.job ? '' : speedOf(name) ? ` · ${t('atSpeed', speedOf(name))}` : '') : '';
    const busy = !port || !!port.job || !S.live;
    $('param-read').disabled = busy;
    $('diff-file').disabled = busy;
    $('apply-file').disabled = busy;
    const save = $('param-save');
    const table = tableOf(name);
    save.href = `/api/ports/${encodeURIComponent(name)}/configuration?download=1`;
    save.classList.toggle('disabled', !table.read);
    save.setAttribute('aria-disabled', table.read ? 'false' : 'true');
    if (!table.read && !$('param-status').textContent) $('param-status').textContent = t('noReadYet');
  }

  function startEdit(r) {
    if (S.editing) cancelEdit(false);
    const e = rowEls[r];
    const row = tableOf(S.paramPort).rows[r];
    const [param, index] = rowIdentity(r);
    const input = el('input', { type: 'text', class: 'edit', id: 'edit', spellcheck: 'false', autocomplete: 'off',
                                'aria-label': t('editValue', `${param}:${index}`), 'aria-describedby': 'edit-message' });
    input.value = row.value;
    const message = el('span', { id: 'edit-message', class: 'edit-message', 'aria-live': 'polite', text: t('editHint') });
    S.editing = { row: r, input, message };
    e.button.hidden = true;
    e.cell.insertBefore(input, e.button);
    e.cell.insertBefore(message, e.button);
    input.addEventListener('input', () => checkEdit());
    input.addEventListener('keydown', (ev) => {
      if (ev.key === 'Enter') {
        ev.preventDefault();
        commitEdit();
      } else if (ev.key === 'Escape') {
        ev.preventDefault();
        cancelEdit(true);
      }
    });
    input.addEventListener('blur', () => setTimeout(() => {
      if (S.editing && S.editing.input === input && document.activeElement !== input) cancelEdit(false);
    }, 0));
    input.focus();
    input.select();
  }

  function checkEdit() {
    const { row, input, message } = S.editing;
    const problem = valueProblem(row, input.value);
    input.setAttribute('aria-invalid', problem ? 'true' : 'false');
    message.textContent = problem ? tr(problem) : t('editHint');
    message.classList.toggle('error', !!problem);
    return problem;
  }

  function closeEditor(focus) {
    const { row, input, message } = S.editing;
    S.editing = null;
    input.remove();
    message.remove();
    rowEls[row].button.hidden = false;
    renderRow(row);
    if (focus) rowEls[row].button.focus();
  }

  function cancelEdit(focus) {
    if (S.editing) closeEditor(focus);
  }

  // Enter: the value goes to the adapter unless the station would refuse it; the row shows
  // pending, then the adapter's answer.
  async function commitEdit() {
    if (checkEdit()) return;
    const { row: r, input } = S.editing;
    const value = input.value;
    const name = S.paramPort;
    const table = tableOf(name);
    const row = table.rows[r];
    Object.assign(row, { value, mark: 'pending', note: '', diff: null });
    closeEditor(true);
    const [param, index] = rowIdentity(r);
    let job;
    try {
      job = await runJob(withQuery(`/api/ports/${encodeURIComponent(name)}/write`, { speed: speedOf(name) }),
                         JSON.stringify({ row: r, value }), 'application/json');
    } catch (e) {
      Object.assign(row, { mark: 'failed', note: e.message });
      if (name === S.paramPort) renderRow(r);
      announce(`${param}:${index} — ${e.message}`);
      return;
    }
    const word = outcomeOf(job);
    table.changed = true;
    if (word === 'success') {
      Object.assign(row, { mark: 'accepted', note: '' });
    } else if (word === 'refused') {
      Object.assign(row, { mark: 'refused', note: (job.write && job.write.refusal) || job.text });
    } else {
      Object.assign(row, { mark: 'failed', note: `${outcomeText(word)}: ${job.text}` });
    }
    if (name === S.paramPort) renderRow(r);
    announce(`${param}:${index} — ${TEXTS[lang].marks[row.mark]}${row.note ? ': ' + row.note : ''}`);
  }

  async function showParams(name) {
    if (S.editing) cancelEdit(false);
    if (!name) return;  // the tray is not read yet: buildPortSelects comes back here
    S.paramPort = name;
    $('param-port').value = name;
    $('plan').hidden = true;
    $('param-status').textContent = '';
    renderTable();
    renderParamState();
    if (!name || tableOf(name).read) return;
    try {
      const { data } = await api('GET', `/api/ports/${encodeURIComponent(name)}/configuration`);
      fillTable(name, data);
      if (S.paramPort === name) $('param-status').textContent = '';
    } catch (e) {
      // 404: no read yet; the start table stays.
    }
  }

  $('param-port').addEventListener('change', () => {
    location.hash = `#params/${encodeURIComponent($('param-port').value)}`;
  });

  $('param-read').addEventListener('click', async () => {
    const name = S.paramPort;
    const status = $('param-status');
    status.textContent = t('working');
    try {
      const job = await runJob(withQuery(`/api/ports/${encodeURIComponent(name)}/read`, { speed: speedOf(name) }));
      if (job.configuration) fillTable(name, job.configuration);
      status.textContent = outcomeOf(job) === 'success' ? t('readDone') : `${outcomeText(outcomeOf(job))}: ${job.text}`;
    } catch (e) {
      status.textContent = e.message;
    }
  });

  // The station keeps the document of the last read: after writes since then it is read again
  // first, so that the file holds what the table shows.
  $('param-save').addEventListener('click', async (e) => {
    const name = S.paramPort;
    const table = tableOf(name);
    if (table.read && !table.changed) return;
    e.preventDefault();
    if (!table.read) return;
    const status = $('param-status');
    status.textContent = t('working');
    try {
      const job = await runJob(withQuery(`/api/ports/${encodeURIComponent(name)}/read`, { speed: speedOf(name) }));
      if (job.configuration) fillTable(name, job.configuration);
      if (outcomeOf(job) !== 'success') {
        status.textContent = `${outcomeText(outcomeOf(job))}: ${job.text}`;
        return;
      }
      status.textContent = t('readDone');
      $('param-save').click();
    } catch (err) {
      status.textContent = err.message;
    }
  });

  async function fileText(input) {
    const file = input.files[0];
    input.value = '';
    if (!file) return null;
    return { name: file.name, text: await file.text(), type: /\.csv$/i.test(file.name) ? 'text/csv' : 'application/json' };
  }

  function planPanel(...children) {
    const panel = $('plan');
    panel.textContent = '';
    panel.append(...children.filter(Boolean));
    panel.hidden = false;
    return panel;
  }

  function cellsTable(head, rows) {
    return el('table', { class: 'small' },
      el('thead', {}, el('tr', {}, ...head.map((h) => el('th', { scope: 'col', text: h })))),
      el('tbody', {}, ...rows.map((cells) => el('tr', { class: cells.class || '' },
        ...cells.map((c) => el('td', { text: c }))))));
  }

  function rowLabel(d) {
    return `${d.param}:${d.index}`;
  }

  $('diff-file').addEventListener('change', async () => {
    const file = await fileText($('diff-file'));
    if (!file) return;
    const name = S.paramPort;
    const status = $('param-status');
    status.textContent = t('working');
    const table = tableOf(name);
    try {
      const job = await runJob(withQuery(`/api/ports/${encodeURIComponent(name)}/diff`, { speed: speedOf(name) }),
                               file.text, file.type);
      const word = outcomeOf(job);
      const list = job.differences || [];
      table.rows.forEach((row) => { row.diff = null; });
      for (const d of list) table.rows[d.row].diff = d;
      if (name === S.paramPort) renderTable();
      if (word !== 'success' && word !== 'differs') {
        status.textContent = `${outcomeText(word)}: ${job.text}`;
        return;
      }
      status.textContent = list.length === 0 ? t('noDifferences') : t('differences', list.length);
      planPanel(el('h3', { text: `${file.name}: ${status.textContent}` }),
        list.length === 0 ? null : cellsTable([t('rowColumn'), TABLE.columns[0], t('fileValue'), t('adapterValue')],
          list.map((d) => [String(d.row), rowLabel(d), d.file, d.adapterAnswered ? d.adapter : outcomeText('no-answer')])));
    } catch (e) {
      status.textContent = e.message;
    }
  });

  // Applying a file: the plan first (nothing is sent), then, once confirmed, the writes.
  $('apply-file').addEventListener('change', async () => {
    const file = await fileText($('apply-file'));
    if (!file) return;
    const name = S.paramPort;
    const status = $('param-status');
    status.textContent = t('working');
    const path = `/api/ports/${encodeURIComponent(name)}/apply`;
    try {
      const job = await runJob(withQuery(path, { speed: speedOf(name), dry_run: 1 }), file.text, file.type);
      const plan = job.plan || [];
      if (!job.dryRun || outcomeOf(job) !== 'success') {
        status.textContent = `${outcomeText(outcomeOf(job))}: ${job.text}`;
        return;
      }
      status.textContent = plan.length === 0 ? t('planEmpty') : t('planHeading', plan.length);
      const confirm = el('button', { type: 'button', class: 'primary', id: 'apply-confirm', text: t('confirmApply', plan.length) });
      const cancel = el('button', { type: 'button', id: 'apply-cancel', text: t('cancel') });
      const panel = planPanel(el('h3', { text: `${file.name}: ${status.textContent}` }),
        plan.length === 0 ? null : cellsTable([t('rowColumn'), TABLE.columns[0], t('fromValue'), t('toValue')],
          plan.map((d) => [String(d.row), rowLabel(d), d.adapterAnswered ? d.adapter : outcomeText('no-answer'), d.file])),
        plan.length === 0 ? null : el('div', { class: 'buttons' }, confirm, cancel));
      cancel.addEventListener('click', () => {
        panel.hidden = true;
        status.textContent = '';
      });
      confirm.addEventListener('click', () => applyConfirmed(name, path, file));
      if (plan.length > 0) confirm.focus();
    } catch (e) {
      status.textContent = e.message;
    }
  });

  async function applyConfirmed(name, path, file) {
    const status = $('param-status');
    status.textContent = t('working');
    planPanel(el('p', { text: t('working') }));
    let job;
    try {
      job = await runJob(withQuery(path, { speed: speedOf(name) }), file.text, file.type);
    } catch (e) {
      status.textContent = e.message;
      return;
    }
    const table = tableOf(name);
    table.changed = true;
    const results = TEXTS[lang].applyResults;
    for (const r of job.rows || []) {
      const row = table.rows[r.row];
      if (r.result === 'written') Object.assign(row, { value: r.to, mark: 'accepted', note: '', diff: null });
      else if (r.result === 'refused') Object.assign(row, { value: r.to, mark: 'refused', note: r.refusal, diff: null });
      else Object.assign(row, { mark: 'failed', note: results[r.result] || r.result, diff: null });
    }
    if (name === S.paramPort) renderTable();
    const word = outcomeOf(job);
    const back = job.readBack;
    const agrees = back && back.verdict === 'read-back agrees';
    status.textContent = `${outcomeText(word)}: ${job.summary || job.text}`;
    // The read-back's verdict where the writes got that far; otherwise what stopped them.
    const verdict = back
      ? el('p', { class: `verdict ${agrees ? 'outcome-success' : 'outcome-read-back'}`, id: 'apply-verdict' },
        el('span', { class: 'icon', 'aria-hidden': 'true', text: agrees ? '✓' : '✗' }), ' ',
        el('b', { text: `${t('readBack')}: ${agrees ? t('readBackAgrees') : t('readBackDiffers')}` }),
        ` — ${back.verdict}`)
      : el('p', { class: `verdict outcome-${word}`, id: 'apply-verdict' },
        el('span', { class: 'icon', 'aria-hidden': 'true', text: OUTCOME_ICONS[word] || '✗' }), ' ',
        el('b', { text: outcomeText(word) }), ` — ${job.text}`);
    planPanel(el('h3', { text: `${file.name}: ${outcomeText(word)}` }),
      cellsTable([t('rowColumn'), TABLE.columns[0], t('fromValue'), t('toValue'), t('resultColumn')],
        (job.rows || []).map((r) => Object.assign([String(r.row), rowLabel(r), r.from, r.to,
          (results[r.result] || r.result) + (r.refusal ? `: ${r.refusal}` : '')], { class: `result-${r.result.replace(' ', '-')}` }))),
      verdict, el('p', { class: 'summary', text: `${t('summary')}: ${job.summary || job.text}` }));
    announce(status.textContent);
  }

  // ---------------------------------------------------------------- history

  let historyTimer = 0;

  function scheduleHistory() {
    clearTimeout(historyTimer);
    historyTimer = setTimeout(loadHistory, 300);
  }

  function historyQuery() {
    return { port: $('hist-port').value, kind: $('hist-kind').value };
  }

  function shortName(path) {
    for (const [name, port] of S.ports) if (port.path === path) return name;
    return String(path).split(/[\\/]/).pop();
  }

  function localTime(iso) {
    const d = new Date(iso);
    return isNaN(d) ? iso || '' : d.toLocaleString(lang === 'ru' ? 'ru-RU' : 'en-GB');
  }

  async function loadHistory() {
    const query = historyQuery();
    $('hist-csv').href = withQuery('/api/history', Object.assign({}, query, { format: 'csv' }));
    const status = $('hist-status');
    let data;
    try {
      ({ data } = await api('GET', withQuery('/api/history', query)));
    } catch (e) {
      status.textContent = e.message;
      return;
    }
    const body = $('htable-body');
    body.textContent = '';
    status.textContent = data.jobs.length === 0 ? t('noJobs') : '';
    for (const job of data.jobs) {
      const word = outcomeOf(Object.assign({ outcome: outcomeOfExit(job.exit) }, job));
      const result = el('td', { class: `outcome-${word}` },
        el('span', { class: 'icon', 'aria-hidden': 'true', text: OUTCOME_ICONS[word] || '✗' }), ' ',
        el('b', { text: outcomeText(word) }), job.result && job.result !== 'done' ? ` — ${job.result}` : '');
      body.append(el('tr', { 'data-id': job.id, 'data-kind': job.kind },
        el('td', { text: localTime(job.started) }), el('td', { text: shortName(job.port) }),
        el('td', { text: kindText(job.kind) }), el('td', { text: job.adapter_number || '' }),
        el('td', { text: job.file || '' }), result));
    }
  }

  $('hist-port').addEventListener('change', loadHistory);
  $('hist-kind').addEventListener('change', loadHistory);
  $('hist-refresh').addEventListener('click', loadHistory);

  // ---------------------------------------------------------------- views, language, start

  function buildPortSelects() {
    const params = $('param-port');
    params.textContent = '';
    for (const name of S.order) params.append(el('option', { value: name, text: name }));
    if (!S.paramPort || !S.order.includes(S.paramPort)) S.paramPort = S.order[0] || '';
    params.value = S.paramPort;
    const hist = $('hist-port');
    const chosen = hist.value;
    hist.textContent = '';
    hist.append(el('option', { value: '', text: t('all') }));
    for (const name of S.order) hist.append(el('option', { value: name, text: name }));
    hist.value = S.order.includes(chosen) ? chosen : '';
    if (S.view === 'params') showParams(S.paramPort);
  }

  function buildStaticSelects() {
    const speed = $('load-speed');
    const chosenSpeed = speed.value || String(LOAD_SPEED);
    speed.textContent = '';
    for (const s of SPEEDS) speed.append(el('option', { value: s, text: t('atSpeed', s) }));
    speed.value = chosenSpeed;
    const kind = $('hist-kind');
    const chosenKind = kind.value;
    kind.textContent = '';
    kind.append(el('option', { value: '', text: t('all') }));
    for (const k of KINDS) kind.append(el('option', { value: k, text: kindText(k) }));
    kind.value = chosenKind;
    const all = $('hist-port').querySelector('option[value=""]');
    if (all) all.textContent = t('all');
  }

  function route(focus) {
    const [view, arg] = location.hash.replace(/^#/, '').split('/');
    S.view = ['tray', 'params', 'history'].includes(view) ? view : 'tray';
    for (const v of ['tray', 'params', 'history']) $(`view-${v}`).hidden = v !== S.view;
    for (const a of document.querySelectorAll('#nav a')) {
      if (a.dataset.view === S.view) a.setAttribute('aria-current', 'page');
      else a.removeAttribute('aria-current');
    }
    if (S.view === 'params') {
      const name = arg ? decodeURIComponent(arg) : S.paramPort;
      showParams(S.order.includes(name) || S.order.length === 0 ? name : S.order[0]);
    } else if (S.view === 'history') {
      loadHistory();
    }
    if (focus) $(`h-${S.view}`).focus();
  }

  function applyLanguage() {
    document.documentElement.lang = lang;
    document.title = t('title');
    for (const node of document.querySelectorAll('[data-t]')) node.textContent = t(node.dataset.t);
    for (const node of document.querySelectorAll('[data-t-title]')) node.title = t(node.dataset.tTitle);
    const button = $('lang');
    button.textContent = t('otherLanguage');
    button.lang = t('otherLanguageCode');
    buildStaticSelects();
    buildTableHead();
    renderLink();
    if (!S.live && S.everLive) $('banner').textContent = t('reconnecting');
    renderProgram();
    for (const name of S.order) renderCard(name);
    if (rowEls.length) renderTable();
    renderParamState();
    if (S.view === 'history') loadHistory();
  }

  $('lang').addEventListener('click', () => {
    lang = t('otherLanguageCode');
    localStorage.setItem('krt42.lang', lang);
    applyLanguage();
  });

  window.addEventListener('hashchange', () => route(true));
  // A page left for another (and perhaps kept in the back-forward cache) gives its stream back:
  // the browser allows only six connections to the station, and a kept page would hold one.
  window.addEventListener('pagehide', () => {
    clearTimeout(retryTimer);
    if (stream) stream.close();
    stream = null;
  });
  window.addEventListener('pageshow', (e) => {
    if (e.persisted) connect();
  });

  // The page's own checks, for its tests.
  window.KRT = { valueProblem, programProblem, sha256js, sha256, outcomeOf };

  applyLanguage();
  route(false);
  connect();
})();
