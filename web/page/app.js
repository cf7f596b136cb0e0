// The panel in a browser: a grid of gauge tiles fed by skyvane-web's WebSocket. The arrangement (which gauges,
// their order and quarter turns, the columns) lives in the address (?gauges=TForm2,TForm3:1&cols=3, ":N" the
// quarter turns) and in localStorage, so a bookmark opens the same panel.
'use strict';

const FRAME_KIND = 1;
const HEADER_BYTES = 8;
const STORE_KEY = 'skyvane.arrangement';
const DEFAULT_GAUGES = ['TForm2', 'TForm3', 'TForm4', 'TForm5', 'TForm6', 'TForm7'];

const grid = document.getElementById('grid');
const colsSelect = document.getElementById('cols');
const stateText = document.getElementById('state');

let gauges = [];            // from /api/gauges: {gauge, caption, button, on}
let arrangement = null;     // {tiles: [{gauge, turns}], cols}
let socket = null;
let linkUp = false;
let retryMs = 1000;
let refusal = '';           // why the server closed the last connection, when it said
let lastHeard = 0;          // Date.now() of the last message (or of the connection's start); the server sends
                            // one every second
// A connection quiet for this long is gone (a phone that slept, a stopped server). The server says its own
// (one and a half times its --idle-limit) with the link state; kept above QUIET_MS so that tiles dim first.
let silenceMs = 15000;
const QUIET_MS = 3000;      // the server says the link state every second: this long without it dims the tiles
const BRIGHTNESS = [1, 0.6, 0.35];  // the night switch's steps
let settingsNote = '';      // said once in the bar: what of the address was not taken, what the browser cannot do
let zoomed = null;          // the gauge shown alone for a moment (a tap on its tile), or null
let locked = false;         // the tiles' buttons hidden: nothing to touch by mistake
let brightness = 0;         // index into BRIGHTNESS
let drawing = null;         // the gauges drawn here (SceneDrawing), or null: pictures drawn by the server
const dirty = new Set();    // gauges whose scene changed since their tile was last drawn
// For tests and curious users: what arrived, and who draws.
window.skyvane = { frames: 0, framesByGauge: {}, changesByGauge: {}, drawnAt: {}, link: 'connecting', drawnBy: 'server' };

function parseArrangement(text, cols) {
  const tiles = [];
  for (const item of (text || '').split(',')) {
    const [gauge, turn] = item.split(':');
    // A gauge switched off in config.ini draws nothing, and the picker cannot take it away again.
    if (gauges.some((g) => g.gauge === gauge && g.on) && !tiles.some((t) => t.gauge === gauge)) {
      tiles.push({ gauge, turns: ((parseInt(turn, 10) || 0) % 4 + 4) % 4 });
    }
  }
  const c = parseInt(cols, 10);
  return { tiles, cols: c >= 1 && c <= 8 ? c : 0 };
}

function storedArrangement() {
  try {
    const stored = JSON.parse(localStorage.getItem(STORE_KEY) || 'null');
    if (stored && typeof stored.gauges === 'string') {
      locked = stored.locked === true;
      brightness = Math.max(0, BRIGHTNESS.indexOf(stored.brightness));
      return parseArrangement(stored.gauges, stored.cols);
    }
  } catch (e) { /* a damaged store reads as none */ }
  return null;
}

function loadArrangement() {
  const query = new URLSearchParams(location.search);
  const stored = storedArrangement();
  if (query.has('gauges')) {
    const fromAddress = parseArrangement(query.get('gauges'), query.get('cols'));
    if (fromAddress.tiles.length > 0 || query.get('gauges') === '') return fromAddress;
    // An address that names no gauge this panel shows (mistyped, from another panel's settings): the default
    // panel, said why; what is saved in the browser stays as it is until the arrangement is changed here.
    settingsNote = 'none of the gauges in the address is on this panel: showing the default gauges';
    return { ...parseArrangement(DEFAULT_GAUGES.join(','), query.get('cols')), unsaved: true };
  }
  const base = stored || parseArrangement(DEFAULT_GAUGES.join(','), 0);
  if (query.has('cols')) {
    // ?cols=N alone: the saved (or default) gauges in N columns.
    base.cols = parseArrangement('', query.get('cols')).cols;
  }
  return base;
}

function arrangementText() {
  return arrangement.tiles.map((t) => (t.turns ? `${t.gauge}:${t.turns}` : t.gauge)).join(',');
}

function saveArrangement() {
  const text = arrangementText();
  const cols = arrangement.cols || '';
  delete arrangement.unsaved;
  try {
    localStorage.setItem(STORE_KEY, JSON.stringify({ gauges: text, cols, locked, brightness: BRIGHTNESS[brightness] }));
  } catch (e) { /* private mode: the address still carries it */ }
  const query = new URLSearchParams({ gauges: text });
  if (cols) query.set('cols', cols);
  history.replaceState(null, '', `/?${query.toString().replace(/%2C/g, ',').replace(/%3A/g, ':')}`);
}

function columnsFor(count) {
  if (arrangement.cols) return arrangement.cols;
  // Square tiles as large as the screen allows.
  const w = grid.clientWidth;
  const h = grid.clientHeight;
  let best = 1;
  let bestSide = 0;
  for (let cols = 1; cols <= Math.max(1, count); cols++) {
    const rows = Math.ceil(count / cols);
    const side = Math.min(w / cols, h / rows);
    if (side > bestSide) { best = cols; bestSide = side; }
  }
  return best;
}

function layoutGrid() {
  const count = arrangement.tiles.length;
  const cols = columnsFor(count);
  const rows = Math.max(1, Math.ceil(count / cols));
  const gap = 4;
  const side = Math.floor(Math.min((grid.clientWidth - 8 - gap * (cols - 1)) / cols,
    (grid.clientHeight - 8 - gap * (rows - 1)) / rows));
  grid.style.gridTemplateColumns = `repeat(${cols}, ${side}px)`;
  grid.style.gridAutoRows = `${side}px`;
  const ratio = window.devicePixelRatio || 1;
  // Pictures from the server come at 64..1024 device pixels; a browser that draws goes to the screen's pixels.
  const largest = drawing ? 4096 : 1024;
  const device = Math.max(64, Math.min(largest, Math.round(side * ratio)));
  // The zoomed tile fills the screen's shorter side for as long as it is zoomed.
  const zoomSide = Math.min(window.innerWidth, window.innerHeight);
  const sizes = {};
  for (const tile of grid.children) {
    const canvas = tile.querySelector('canvas');
    const size = tile.dataset.gauge === zoomed ? Math.max(64, Math.min(largest, Math.round(zoomSide * ratio))) : device;
    sizes[tile.dataset.gauge] = size;
    if (canvas.width !== size) {
      canvas.width = size;  // which clears it
      canvas.height = size;
      if (drawing) drawing.forget(canvas);
    }
  }
  return sizes;
}

function makeTile(entry, index) {
  const info = gauges.find((g) => g.gauge === entry.gauge);
  const tile = document.createElement('div');
  tile.className = 'tile stale';
  tile.dataset.gauge = entry.gauge;
  tile.dataset.index = index;
  tile.title = info.caption;
  tile.innerHTML = '<canvas role="img"></canvas><div class="note"></div>' +
    '<div class="tools"><button class="turn" title="Turn a quarter">&#8635;</button>' +
    '<button class="move" title="Drag to move">&#10021;</button></div>';
  // Read out by name: the glyphs alone say nothing, and every tile has the same two.
  tile.querySelector('canvas').setAttribute('aria-label', info.caption);
  tile.querySelector('.turn').setAttribute('aria-label', `Turn ${info.caption} a quarter`);
  tile.querySelector('.move').setAttribute('aria-label', `Move ${info.caption} (drag)`);
  tile.querySelector('.turn').addEventListener('click', () => {
    entry.turns = (entry.turns + 1) % 4;
    saveArrangement();
    subscribe();
  });
  // A tap on the picture shows the gauge alone, as large as the screen allows; another tap brings the panel
  // back. The arrangement is not changed.
  tile.querySelector('canvas').addEventListener('click', () => {
    if (Date.now() - (Number(tile.dataset.turnedAt) || 0) < 400) return;  // the end of a knob's drag
    zoomed = zoomed === entry.gauge ? null : entry.gauge;
    for (const t of grid.children) t.classList.toggle('zoomed', t.dataset.gauge === zoomed);
    subscribe();
  });
  tile.classList.toggle('zoomed', entry.gauge === zoomed);
  enableDragging(tile, tile.querySelector('.move'));
  if (gauges.some((g) => g.gauge === entry.gauge && g.knob)) enableKnob(tile, entry.gauge);
  return tile;
}

// Knobs, where skyvane-web allows them: a browser that gave the code it printed turns the altimeter setting,
// the heading bug, both courses and the ADF card, with the wheel over the tile (up is clockwise, larger;
// Shift makes a notch ten) or by dragging around the tile's middle (a notch each 10 degrees). Turns are
// gathered and sent at most 20 times a second, the server's ration; the gauge then shows what the simulator
// reads back.
const CONTROL_KEY = 'skyvane.control';
const TURN_EVERY_MS = 50;
const DEGREES_A_NOTCH = 10;
let control = 'none';  // 'none': no knobs here; 'ask': a code is wanted; 'granted'
let codeSent = '';
const pendingTurns = new Map();  // gauge → notches not yet sent
let turnTimer = 0;

function setUpControl() {
  if (!gauges.some((g) => g.knob)) return;
  control = 'ask';
  const form = document.getElementById('control');
  form.hidden = false;
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    sendCode(document.getElementById('code').value.trim());
  });
}

function sendCode(code) {
  if (!code || !socket || socket.readyState !== WebSocket.OPEN) return;
  codeSent = code;
  socket.send(JSON.stringify({ control: code }));
}

// A new connection has to be granted again: the code kept from before is given at once.
function askControl() {
  if (control === 'none') return;
  control = 'ask';
  document.body.classList.remove('knobs');
  let kept = '';
  try { kept = localStorage.getItem(CONTROL_KEY) || ''; } catch (e) { /* none kept */ }
  sendCode(kept);
}

function controlAnswer(answer) {
  window.skyvane.control = answer;
  const form = document.getElementById('control');
  if (answer === 'granted') {
    control = 'granted';
    try { localStorage.setItem(CONTROL_KEY, codeSent); } catch (e) { /* asked again next time */ }
    form.hidden = true;
    document.body.classList.add('knobs');
    return;
  }
  if (answer === 'refused') {
    try { localStorage.removeItem(CONTROL_KEY); } catch (e) { /* nothing kept */ }
  }
  settingsNote = answer === 'refused' ? 'that is not the knobs\' code' : answer === 'wait'
    ? 'too many wrong codes: try again in a minute' : 'this panel server does not allow knobs';
  form.hidden = answer === 'off';
  showNotes();
}

function turn(gauge, notches) {
  if (control !== 'granted' || notches === 0) return;
  pendingTurns.set(gauge, (pendingTurns.get(gauge) || 0) + notches);
  if (!turnTimer) turnTimer = setTimeout(sendTurns, TURN_EVERY_MS);
}

// One message each TURN_EVERY_MS, for the gauge first turned among those waiting; the rest go next time.
function sendTurns() {
  turnTimer = 0;
  const next = pendingTurns.entries().next();
  if (next.done || !socket || socket.readyState !== WebSocket.OPEN) {
    pendingTurns.clear();
    return;
  }
  const [gauge, notches] = next.value;
  const now = Math.max(-100, Math.min(100, notches));
  socket.send(JSON.stringify({ knob: gauge, notches: now }));
  window.skyvane.turnsSent = (window.skyvane.turnsSent || 0) + 1;
  pendingTurns.delete(gauge);
  if (notches !== now) pendingTurns.set(gauge, notches - now);
  if (pendingTurns.size > 0) turnTimer = setTimeout(sendTurns, TURN_EVERY_MS);
}

function enableKnob(tile, gauge) {
  tile.classList.add('knob');
  const canvas = tile.querySelector('canvas');
  canvas.addEventListener('wheel', (e) => {
    if (control !== 'granted') return;
    e.preventDefault();
    turn(gauge, (e.deltaY < 0 ? 1 : -1) * (e.shiftKey ? 10 : 1));
  }, { passive: false });
  // Degrees clockwise on the screen (y grows downwards) around the tile's middle.
  const angle = (e) => {
    const r = canvas.getBoundingClientRect();
    return Math.atan2(e.clientY - (r.top + r.height / 2), e.clientX - (r.left + r.width / 2)) * 180 / Math.PI;
  };
  canvas.addEventListener('pointerdown', (down) => {
    if (control !== 'granted' || down.button !== 0) return;
    canvas.setPointerCapture(down.pointerId);
    let last = angle(down);
    let gathered = 0;
    let dragged = false;
    const move = (e) => {
      dragged = dragged || Math.hypot(e.clientX - down.clientX, e.clientY - down.clientY) > 8;
      if (!dragged) return;
      let d = angle(e) - last;
      d -= 360 * Math.round(d / 360);
      last += d;
      gathered += d;
      const notches = Math.trunc(gathered / DEGREES_A_NOTCH);
      gathered -= notches * DEGREES_A_NOTCH;
      turn(gauge, notches);
    };
    const end = () => {
      canvas.removeEventListener('pointermove', move);
      canvas.removeEventListener('pointerup', end);
      canvas.removeEventListener('pointercancel', end);
      // A drag is not a tap: the tile does not zoom for it.
      if (dragged) tile.dataset.turnedAt = String(Date.now());
    };
    canvas.addEventListener('pointermove', move);
    canvas.addEventListener('pointerup', end);
    canvas.addEventListener('pointercancel', end);
  });
}

// Reordering by dragging a tile's handle onto another tile, with a mouse, a pen or a finger.
function enableDragging(tile, handle) {
  handle.addEventListener('pointerdown', (down) => {
    if (down.button !== 0) return;  // the main button, a pen or a finger
    down.preventDefault();
    handle.setPointerCapture(down.pointerId);
    tile.classList.add('dragging');
    let target = null;
    const move = (e) => {
      const over = document.elementFromPoint(e.clientX, e.clientY);
      const next = over && over.closest('.tile');
      if (target && target !== next) target.classList.remove('target');
      target = next && next !== tile ? next : null;
      if (target) target.classList.add('target');
    };
    const end = (dropped) => {
      handle.removeEventListener('pointermove', move);
      handle.removeEventListener('pointerup', up);
      handle.removeEventListener('pointercancel', cancel);
      tile.classList.remove('dragging');
      if (target) target.classList.remove('target');
      // A drag the system took over (a call, a gesture) moves nothing.
      if (dropped && target) {
        const from = Number(tile.dataset.index);
        const to = Number(target.dataset.index);
        const [moved] = arrangement.tiles.splice(from, 1);
        arrangement.tiles.splice(to, 0, moved);
        saveArrangement();
        buildGrid();
      }
    };
    const up = () => end(true);
    const cancel = () => end(false);
    handle.addEventListener('pointermove', move);
    handle.addEventListener('pointerup', up);
    handle.addEventListener('pointercancel', cancel);
  });
}

function showNotes() {
  const open = socket && socket.readyState === WebSocket.OPEN;
  const quiet = open && Date.now() - lastHeard > QUIET_MS;
  const note = !open ? (refusal ? `reconnecting (${refusal})` : 'reconnecting')
    : quiet ? 'no news from the panel server' : (linkUp ? '' : 'no simulator');
  stateText.textContent = note || settingsNote;
  for (const tile of grid.children) {
    tile.querySelector('.note').textContent = note;
    tile.classList.toggle('stale', note !== '' || !tile.dataset.drawn);
  }
  window.skyvane.link = !open ? 'reconnecting' : quiet ? 'quiet' : (linkUp ? 'up' : 'down');
}

function buildGrid() {
  grid.replaceChildren(...arrangement.tiles.map(makeTile));
  subscribe();
  showNotes();
}

function subscribe() {
  const sizes = layoutGrid();
  if (!socket || socket.readyState !== WebSocket.OPEN) return;
  // A hidden page (another app in front, the screen off) watches nothing: no pictures are drawn or sent for it.
  const hidden = document.visibilityState === 'hidden';
  const message = {
    subscribe: hidden ? [] : arrangement.tiles.map((t) => ({ gauge: t.gauge, size: sizes[t.gauge], turn: t.turns })),
  };
  if (drawing) {
    message.draw = 'scene';
    // The scenes this browser has already: the server then sends only how each gauge differs from it now.
    for (const item of message.subscribe) {
      const id = drawing.kept(Number(item.gauge.slice(5)) - 2);
      if (id) item.have = id;
    }
    // The fonts it has: their glyphs are not sent again.
    const fonts = drawing.fontKeys();
    if (fonts.length) message.fonts = fonts;
    // New sizes and turns are this browser's own business: every tile is drawn again from what it has.
    for (const t of arrangement.tiles) dirty.add(t.gauge);
    drawSoon();
  }
  socket.send(JSON.stringify(message));
  window.skyvane.watching = hidden ? 0 : arrangement.tiles.length;
}

// A tile has been drawn: counted, and undimmed at its first picture.
function shown(tile, gauge, at = performance.now()) {
  const first = !tile.dataset.drawn;
  tile.dataset.drawn = '1';
  window.skyvane.frames++;
  window.skyvane.framesByGauge[gauge] = (window.skyvane.framesByGauge[gauge] || 0) + 1;
  // When the last few pictures were drawn, in ms of the wall clock: what tells a moving tile (asDraft), and
  // what measures the way from a value's change to its picture.
  const times = (window.skyvane.drawnAt[gauge] = window.skyvane.drawnAt[gauge] || []);
  times.push(performance.timeOrigin + at);
  if (times.length > 64) times.shift();
  if (first) showNotes();  // a tile's first picture ends its dimming; later ones change no note
}

let drawPending = false;

// Where the device cannot draw its moving tiles multisampled as fast as the tick brings changes (a software
// renderer), a tile that keeps changing is drawn as a draft, without multisampling (about half the work), and
// drawn whole once it has been still a moment. A device that keeps up never drafts.
const DRAFT_BUDGET_MS = 16;   // display frames costing more than this, on average, fall behind the 30 ms tick
const MOVING_MS = 150;        // a tile drawn again within this long is moving
const FINAL_AFTER_MS = 250;   // a draft still this long is drawn whole
let frameMs = 0;              // the display frames' cost, a moving average
const drafted = new Map();    // gauge → performance.now() of its last draft
let finalsPending = false;

function drawFinalsLater() {
  if (finalsPending || drafted.size === 0) return;
  finalsPending = true;
  setTimeout(() => {
    finalsPending = false;
    const now = performance.now();
    for (const [gauge, at] of drafted) if (now - at >= FINAL_AFTER_MS) dirty.add(gauge);
    drawSoon();
    drawFinalsLater();
  }, FINAL_AFTER_MS / 2);
}

// Whether this display frame draws `gauge` as a draft: only while behind, and only a tile in motion.
function asDraft(gauge, now) {
  if (!drawing.drafts || frameMs <= DRAFT_BUDGET_MS) return false;
  const times = window.skyvane.drawnAt[gauge];
  return !!times && times.length > 0 && performance.timeOrigin + now - times[times.length - 1] < MOVING_MS;
}

function drawSoon() {
  if (drawPending || dirty.size === 0) return;
  drawPending = true;
  requestAnimationFrame(drawDirty);
}

// Each tile whose scene changed, drawn once per display frame however many changes came.
function drawDirty() {
  drawPending = false;
  const started = performance.now();
  const before = window.skyvane.frames;
  const drawn = [];
  for (const gauge of dirty) {
    const tile = grid.querySelector(`.tile[data-gauge="${gauge}"]`);
    const entry = arrangement.tiles.find((t) => t.gauge === gauge);
    if (!tile || !entry) {
      dirty.delete(gauge);
      continue;
    }
    const canvas = tile.querySelector('canvas');
    const draft = asDraft(gauge, started);
    if (drawing.draw(Number(gauge.slice(5)) - 2, canvas.width, entry.turns, canvas, draft)) {
      dirty.delete(gauge);
      drawn.push([tile, gauge]);
      if (draft) {
        drafted.set(gauge, started);
        tile.dataset.draft = '1';
        window.skyvane.drafts = (window.skyvane.drafts || 0) + 1;
      } else {
        drafted.delete(gauge);
        delete tile.dataset.draft;
      }
    }
  }
  // The display frame shows its tiles together: each counts as drawn when the last of them is.
  const ended = performance.now();
  for (const [tile, gauge] of drawn) shown(tile, gauge, ended);
  drawFinalsLater();
  frameMs = 0.7 * frameMs + 0.3 * (ended - started);
  window.skyvane.pageCost = drawing.cost;
  // A display frame's whole cost, every tile it drew together.
  const cost = (window.skyvane.frameCost = window.skyvane.frameCost || { frames: 0, tiles: 0, ms: 0 });
  cost.frames++;
  cost.tiles += window.skyvane.frames - before;
  cost.ms += performance.now() - started;
}

function takeScene(data) {
  const index = drawing.take(data);
  const kindByte = new DataView(data).getUint8(0);
  const kind = kindByte === SceneDrawing.SCENE_KIND ? 'scenes' : 'changes';
  if (kindByte === SceneDrawing.FONT_KIND) {
    window.skyvane.fonts = (window.skyvane.fonts || 0) + 1;
    window.skyvane.fontBytes = (window.skyvane.fontBytes || 0) + data.byteLength;
    return;
  }
  if (kindByte === SceneDrawing.CATCH_UP_KIND) {
    window.skyvane.catchUpBytes = (window.skyvane.catchUpBytes || 0) + data.byteLength;
  }
  window.skyvane[index < 0 ? 'ignored' : kind] = (window.skyvane[index < 0 ? 'ignored' : kind] || 0) + 1;
  if (index < 0) return;
  const gauge = `TForm${index + 2}`;
  if (kindByte === SceneDrawing.DELTA_KIND) {
    window.skyvane.changesByGauge[gauge] = (window.skyvane.changesByGauge[gauge] || 0) + 1;
  }
  dirty.add(gauge);
  drawSoon();
}

function drawFrame(data) {
  const view = new DataView(data);
  if (data.byteLength < HEADER_BYTES || view.getUint8(0) !== FRAME_KIND) return;
  const index = view.getUint8(1);
  const size = view.getUint16(2, true);
  const turns = view.getUint8(4);
  const gauge = `TForm${index + 2}`;
  const tile = grid.querySelector(`.tile[data-gauge="${gauge}"]`);
  const entry = arrangement.tiles.find((t) => t.gauge === gauge);
  if (!tile || !entry || entry.turns !== turns) return;
  const canvas = tile.querySelector('canvas');
  if (canvas.width !== size) return;  // from before a resize: the next one comes at the new size
  // Pictures decode in any order: one older than the last drawn is dropped, never drawn over it.
  const order = (Number(tile.dataset.arrived) || 0) + 1;
  tile.dataset.arrived = order;
  const show = (picture, done) => {
    if (order >= (Number(tile.dataset.shown) || 0)) {
      tile.dataset.shown = order;
      canvas.getContext('2d').drawImage(picture, 0, 0, canvas.width, canvas.height);
      shown(tile, gauge);
    }
    done();
  };
  const jpeg = new Blob([data.slice(HEADER_BYTES)], { type: 'image/jpeg' });
  if (typeof window.createImageBitmap === 'function') {
    createImageBitmap(jpeg).then((picture) => show(picture, () => picture.close()));
    return;
  }
  // Browsers without createImageBitmap (iPads before iOS 15): decoded by an image element.
  const url = URL.createObjectURL(jpeg);
  const image = new Image();
  image.onload = () => show(image, () => URL.revokeObjectURL(url));
  image.onerror = () => URL.revokeObjectURL(url);
  image.src = url;
  window.skyvane.drawnBy = 'img';
}

function connect() {
  lastHeard = Date.now();
  socket = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/ws`);
  socket.binaryType = 'arraybuffer';
  socket.onopen = () => { lastHeard = Date.now(); subscribe(); showNotes(); askControl(); };
  socket.onmessage = (event) => {
    // Only a server that answers resets the wait: one that accepts and then refuses (too many clients) is
    // asked again less and less often.
    lastHeard = Date.now();
    retryMs = 1000;
    refusal = '';
    if (typeof event.data === 'string') {
      let said = {};
      try { said = JSON.parse(event.data) || {}; } catch (e) { /* read as the link down */ }
      if (typeof said.control === 'string') {
        controlAnswer(said.control);
        return;
      }
      if (Number.isFinite(said.silence)) silenceMs = Math.max(said.silence, QUIET_MS + 2000);
      const wasUp = linkUp;
      linkUp = said.link === 'up';
      // Repeated every second: the notes change only when the link does, or when news comes back.
      if (linkUp !== wasUp || stateText.textContent === 'no news from the panel server') showNotes();
      return;
    }
    window.skyvane.bytes = (window.skyvane.bytes || 0) + event.data.byteLength;
    if (drawing && new DataView(event.data).getUint8(0) !== FRAME_KIND) {
      takeScene(event.data);
    } else {
      drawFrame(event.data);
    }
  };
  socket.onclose = (event) => {
    refusal = event.reason || '';
    showNotes();
    setTimeout(connect, retryMs);
    retryMs = Math.min(5000, retryMs * 2);
  };
}

// A connection that has carried nothing for silenceMs, or that has not opened within it, is given up for a new
// one: its far end is gone without a word (the browser itself may not notice for minutes), and the tiles must
// not look live meanwhile.
function checkAlive() {
  if (!socket || socket.readyState > WebSocket.OPEN || Date.now() - lastHeard < silenceMs) return;
  const gone = socket;
  gone.onopen = null;
  gone.onclose = null;
  gone.onmessage = null;
  gone.close();
  socket = null;
  showNotes();
  connect();
}

function buildPicker() {
  const choices = document.getElementById('choices');
  choices.replaceChildren(...gauges.map((g) => {
    const label = document.createElement('label');
    label.className = g.on ? '' : 'off';
    label.innerHTML = '<input type="checkbox"> ';
    label.append(g.caption);
    const box = label.querySelector('input');
    box.checked = arrangement.tiles.some((t) => t.gauge === g.gauge);
    box.disabled = !g.on;
    box.addEventListener('change', () => {
      if (box.checked) {
        arrangement.tiles.push({ gauge: g.gauge, turns: 0 });
      } else {
        arrangement.tiles = arrangement.tiles.filter((t) => t.gauge !== g.gauge);
      }
      saveArrangement();
      buildGrid();
    });
    return label;
  }));
  const picker = document.getElementById('picker');
  if (typeof picker.showModal === 'function') {
    picker.showModal();
  } else {
    // Browsers without <dialog> (iPads before iOS 15.4): shown as a panel of the page, closed by its button.
    picker.setAttribute('open', '');
    picker.classList.add('shown');
    picker.querySelector('form').onsubmit = (e) => { e.preventDefault(); picker.removeAttribute('open'); };
  }
}

function applyLockAndNight() {
  document.body.classList.toggle('locked', locked);
  const lock = document.getElementById('lock');
  lock.setAttribute('aria-pressed', String(locked));
  lock.textContent = locked ? 'Unlock' : 'Lock';
  grid.style.filter = BRIGHTNESS[brightness] === 1 ? '' : `brightness(${BRIGHTNESS[brightness]})`;
  window.skyvane.brightness = BRIGHTNESS[brightness];
  window.skyvane.locked = locked;
}

let sleepSaid = false;

async function keepAwake() {
  // Where the browser allows it; it is given up when the page is hidden and taken again when shown. Where it
  // cannot (a page not served over HTTPS or from this machine has no wake lock), it is said once.
  const sayOnce = () => {
    if (sleepSaid) return;
    sleepSaid = true;
    settingsNote = 'this browser may let the screen sleep (keeping it awake needs HTTPS or localhost)';
    showNotes();
    setTimeout(() => { settingsNote = ''; showNotes(); }, 8000);
  };
  if (!('wakeLock' in navigator) || !window.isSecureContext) {
    sayOnce();
    return;
  }
  try {
    if (document.visibilityState === 'visible') await navigator.wakeLock.request('screen');
  } catch (e) { sayOnce(); }
}

// What this browser cannot do at all, in words: the gauges need a canvas to be drawn on.
function cannotDraw() {
  const probe = document.createElement('canvas');
  if (probe.getContext && probe.getContext('2d')) return false;
  document.body.innerHTML = '<p class="cannot">This browser cannot draw the gauges: it has no canvas. ' +
    'Open this address in a current browser (Chrome, Firefox, Safari or Edge).</p>';
  return true;
}

// The gauge list, asked again every 2 s while the server cannot give it (restarting, not yet listening).
async function fetchGauges() {
  for (;;) {
    try {
      const reply = await fetch('/api/gauges');
      if (reply.ok) return await reply.json();
      stateText.textContent = `the panel server refused the gauge list (${reply.status})`;
    } catch (e) {
      stateText.textContent = 'the panel server does not answer';
    }
    await new Promise((resolve) => { setTimeout(resolve, 2000); });
  }
}

async function start() {
  if (cannotDraw()) return;
  // WebGL where the browser has it: the gauges are then drawn here, from their scenes; else the server
  // draws pictures. ?draw=pictures asks for pictures anyway.
  if (new URLSearchParams(location.search).get('draw') !== 'pictures') drawing = SceneDrawing.create();
  if (drawing) {
    window.skyvane.drawnBy = `webgl${drawing.version}`;
    await drawing.takeKept();
  }
  else window.skyvane.whyPictures = SceneDrawing.problem() || 'asked for';
  gauges = await fetchGauges();
  stateText.textContent = '';
  setUpControl();
  arrangement = loadArrangement();
  applyLockAndNight();
  document.getElementById('lock').addEventListener('click', () => {
    locked = !locked;
    applyLockAndNight();
    if (!arrangement.unsaved) saveArrangement();
  });
  document.getElementById('night').addEventListener('click', () => {
    brightness = (brightness + 1) % BRIGHTNESS.length;
    applyLockAndNight();
    if (!arrangement.unsaved) saveArrangement();
  });
  for (let c = 0; c <= 8; c++) {
    colsSelect.add(new Option(c === 0 ? 'auto' : String(c), String(c)));
  }
  colsSelect.value = String(arrangement.cols);
  colsSelect.addEventListener('change', () => {
    arrangement.cols = Number(colsSelect.value);
    saveArrangement();
    subscribe();
  });
  document.getElementById('pick').addEventListener('click', buildPicker);
  document.getElementById('full').addEventListener('click', () => {
    document.body.classList.add('full');
    if (document.documentElement.requestFullscreen) {
      document.documentElement.requestFullscreen().catch(() => {});
    }
    setTimeout(subscribe, 300);
  });
  document.addEventListener('fullscreenchange', () => {
    if (!document.fullscreenElement) document.body.classList.remove('full');
    setTimeout(subscribe, 300);
  });
  // Without the browser's full screen (some phones), a double tap leaves the bar-less view.
  grid.addEventListener('dblclick', (e) => {
    if (e.target === grid) document.body.classList.remove('full');
    setTimeout(subscribe, 300);
  });
  document.addEventListener('visibilitychange', () => { keepAwake(); checkAlive(); subscribe(); });
  setInterval(() => { checkAlive(); showNotes(); }, 1000);
  let resizing = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizing);
    resizing = setTimeout(subscribe, 200);
  });
  if (!arrangement.unsaved) saveArrangement();
  buildGrid();
  keepAwake();
  connect();
}

start();
