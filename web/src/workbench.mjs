// The workbench page: editor, control-memory listing, data path, registers,
// memory, card reader and printer around the one machine in WebAssembly.
import { loadMachine, STOP } from './machine.mjs';
import { Editor } from './editor.mjs';
import { DataPath } from './datapath.mjs';
import { EXAMPLES, INCLUDES } from './examples.mjs';

const $ = (id) => document.getElementById(id);
const hex = (value, digits) => (value >>> 0).toString(16).toUpperCase().padStart(digits, '0');
const STORAGE_KEY = 'kalvo3.workbench';
const PRINTER_LIMIT = 1 << 20;      // a run stops when the printer holds more
const SLICE_MS = 20;                // one slice of a run, then the page breathes
const REPLAY_SECONDS = 0.25;        // a shorter run is replayed to light up its last step
const CM_LIMIT = 0xFFF;

// Hex digits shown of a register: as many as its width needs.
let digits = {};
const digitsOf = (name) => digits[name] ?? 4;

let machine, editor, datapath;
const docs = { cm: { name: 'program.masm', text: '' }, mm: { name: 'data.mdat', text: '' } };
let active = 'cm';
const breaks = new Set();
let labels = new Map();          // address -> label
let sourceLines = new Map();     // address -> source text shown in the listing
let listed = [];                 // addresses in the listing
let totalSteps = 0;              // since the last assembly or reset
const history = [];              // steps of each checkpoint, for Step back
let before = null;               // registers before the last single step
let marksFrom = null;            // registers before the last step or run
let running = false, stopRequested = false;
let lastRunSpeed = 0;

// ---- Messages ----

function say(text, kind = 'info') {
  const status = $('status');
  status.textContent = text;
  status.className = kind;
}

function logConsole(text) {
  if (!text) return;
  const log = $('console');
  log.textContent += `[step ${totalSteps}]${text.startsWith('\n') ? '' : ' '}${text.replace(/\n+$/, '')}\n`;
  log.scrollTop = log.scrollHeight;
}

function takeConsole() {
  const text = machine.consoleText();
  machine.consoleClear();
  logConsole(text);
}

// ---- Machine state to the page ----

function readRegisters() {
  const values = {};
  for (const name of machine.registerNames) values[name] = machine.get(name);
  return values;
}

function lastWord() {
  const fields = {};
  const values = readRegisters();
  for (const f of machine.fields) fields[f.name] = values[f.name];
  return fields;
}

// One panel per group that the machine reports, in its order; a group the
// page has no place for gets a panel of its own at the end.
function buildRegisters() {
  digits = Object.fromEntries(machine.registers.map((r) => [r.name, Math.ceil(r.width / 4)]));
  for (const box of document.querySelectorAll('.regs')) box.innerHTML = '';
  for (const { name, group, writable } of machine.registers) {
    let box = $(`reg-${group}`);
    if (!box) {
      const title = document.createElement('h2');
      title.textContent = group;
      box = document.createElement('div');
      box.id = `reg-${group}`;
      box.className = 'regs';
      $('reg-stack').parentElement.append(title, box);
    }
    const label = document.createElement('label');
    label.innerHTML = `<span>${name}</span><input data-register="${name}" size="${Math.max(digitsOf(name), 3)}" spellcheck="false"${writable ? '' : ' readonly'}>`;
    box.append(label);
  }
  for (const input of document.querySelectorAll('input[data-register]:not([readonly])'))
    input.addEventListener('change', () => changeRegister(input));
}

function changeRegister(input) {
  const name = input.dataset.register;
  if (running) {
    say(`${name}: stop the run first to change it`, 'error');
    return;
  }
  const typed = input.value.trim();
  if (!/^(0x)?[0-9a-f]{1,8}$/i.test(typed)) {
    say(`${name}: "${typed}" is no hexadecimal number`, 'error');
    refresh();
    return;
  }
  const value = parseInt(typed, 16) >>> 0;
  const old = machine.get(name);
  machine.checkpoint();
  remember(0);
  machine.set(name, value);
  if (machine.get(name) !== value) {
    machine.set(name, old);
    machine.undo();
    history.pop();
    say(`${name} cannot hold ${hex(value, 1)}`, 'error');
  } else {
    say(`${name} = ${hex(value, digitsOf(name))}`);
    if (name === 'CMAR') before = null;
  }
  refresh();
}

function showRegisters(values) {
  for (const input of document.querySelectorAll('input[data-register]')) {
    const name = input.dataset.register;
    if (document.activeElement !== input) input.value = hex(values[name], digitsOf(name));
    input.classList.toggle('changed', marksFrom !== null && marksFrom[name] !== values[name]);
  }
}

function showWordAt(values) {
  const cmar = values.CMAR;
  const inside = cmar <= CM_LIMIT;
  $('next-word').textContent = inside
    ? `${hex(cmar, 3)}${labels.has(cmar) ? ' ' + labels.get(cmar) : ''}: ${hex(machine.cmHigh(cmar), 2)}${hex(machine.cmLow(cmar), 8)}  ${statement(cmar)}`
    : `CMAR ${hex(cmar, 3)} is beyond control memory`;
  const rows = machine.fields.map((f, i) => {
    const code = inside ? machine.cmField(cmar, i) : 0;
    const name = f.mnemonics[code] ?? '';
    return `<tr><th>${f.name}</th><td>${hex(code, Math.ceil(f.width / 4))}</td><td>${name}</td>` +
           `<td class="bits">${f.lowBit + f.width - 1}..${f.lowBit}</td></tr>`;
  });
  $('fields').innerHTML = rows.join('');
}

function showMemory(values) {
  const follow = $('mm-follow').checked;
  const centre = follow ? values.MAR & 0xFFFF : parseInt($('mm-address').value, 16) || 0;
  if (follow) $('mm-address').value = hex(centre, 4);
  const first = Math.max(0, Math.min(0xFFFF - 63, (centre & ~7) - 16));
  const rows = [];
  for (let row = first; row < first + 64; row += 8) {
    let cells = `<th>${hex(row, 4)}</th>`;
    for (let a = row; a < row + 8; a++)
      cells += `<td><input data-mm="${a}" value="${hex(machine.mmGet(a), 4)}" size="4" spellcheck="false"` +
               `${a === (values.MAR & 0xFFFF) ? ' class="mar"' : ''}></td>`;
    rows.push(`<tr>${cells}</tr>`);
  }
  $('memory').innerHTML = rows.join('');
}

function showPrinter() {
  const text = machine.printerText();
  $('printer').textContent = text.length > 65536 ? '…' + text.slice(-65536) : text;
  $('printer').scrollTop = $('printer').scrollHeight;
  $('cards-position').textContent = `read ${machine.cardsPosition()} of ${new TextEncoder().encode($('cards').value).length} bytes`;
}

function showListing(values) {
  const current = values.CMAR;
  for (const row of $('listing').rows) {
    const address = Number(row.dataset.address);
    row.classList.toggle('current', address === current);
    row.classList.toggle('break', breaks.has(address));
    const count = machine.profile(address);
    row.cells[5].textContent = count ? String(count) : '';
  }
  const row = $('listing').querySelector('tr.current');
  if (row) {
    const box = $('listing-box');
    if (row.offsetTop < box.scrollTop + 20 || row.offsetTop > box.scrollTop + box.clientHeight - 40)
      box.scrollTop = row.offsetTop - box.clientHeight / 3;
  }
}

function refresh() {
  const values = readRegisters();
  showRegisters(values);
  showWordAt(values);
  showMemory(values);
  showPrinter();
  showListing(values);
  const fields = lastWord();
  const word = { hex: '', text: '' };
  if (before && before.CMAR <= CM_LIMIT) {
    word.hex = hex(machine.cmHigh(before.CMAR), 2) + hex(machine.cmLow(before.CMAR), 8);
    word.text = `${hex(before.CMAR, 3)}: ${statement(before.CMAR)}`;
  }
  datapath.update(values, before ? machine.stepParts(before) : null, fields, word, digits);
  $('steps').textContent = String(totalSteps);
  $('back').disabled = running || history.length === 0;
}

// ---- The listing ----

function buildListing() {
  let last = -1;
  for (let a = CM_LIMIT; a >= 0; a--)
    if (machine.cmHigh(a) || machine.cmLow(a)) { last = a; break; }
  for (const a of labels.keys()) last = Math.max(last, a);
  listed = [];
  for (let a = 0; a <= last; a++) listed.push(a);
  const rows = listed.map((a) => {
    const label = labels.get(a) ?? '';
    const source = sourceLines.get(a) ?? '';
    // A zero word that nothing placed is a gap in the microprogram.
    if (!label && !source && !machine.cmHigh(a) && !machine.cmLow(a))
      return `<tr data-address="${a}" class="gap"><td class="bp">●</td><td>${hex(a, 3)}</td><td></td>` +
             `<td class="word" title="click: change the word">0000000000</td><td></td><td class="count"></td><td></td></tr>`;
    return `<tr data-address="${a}"><td class="bp" title="click: break point">●</td><td>${hex(a, 3)}</td>` +
           `<td class="label">${escapeHtml(label)}</td><td class="word" title="click: change the word">${hex(machine.cmHigh(a), 2)}${hex(machine.cmLow(a), 8)}</td>` +
           `<td class="stmt">${escapeHtml(statement(a))}</td><td class="count"></td>` +
           `<td class="src">${escapeHtml(source)}</td></tr>`;
  });
  $('listing').innerHTML = rows.join('');
}

// A click on a word in the listing opens it for typing over; Enter or
// leaving the field stores it, Esc leaves it as it was.
function editWord(cell, address) {
  if (running) {
    say(`${hex(address, 3)}: stop the run first to change it`, 'error');
    return;
  }
  const input = document.createElement('input');
  input.value = cell.textContent;
  input.size = 12;
  input.spellcheck = false;
  cell.textContent = '';
  cell.append(input);
  input.focus();
  input.select();
  let done = false;
  const finish = (store) => {
    if (done) return;
    done = true;
    const typed = input.value.trim();
    if (store && !/^(0x)?[0-9a-f]{1,10}$/i.test(typed)) {
      say(`CM ${hex(address, 3)}: "${typed}" is no 40-bit hexadecimal word (10 digits at most)`, 'error');
    } else if (store) {
      const word = BigInt('0x' + typed.replace(/^0x/i, ''));
      machine.checkpoint();
      remember(0);
      machine.cmSet(address, Number(word >> 32n), Number(word & 0xFFFFFFFFn));
      sourceLines.delete(address);
      say(`CM ${hex(address, 3)} = ${hex(Number(word >> 32n), 2)}${hex(Number(word & 0xFFFFFFFFn), 8)}`);
    }
    buildListing();
    refresh();
  };
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') finish(true);
    if (event.key === 'Escape') { event.stopPropagation(); finish(false); }
  });
  input.addEventListener('blur', () => finish(true));
}

// A word's statement with its jump target named by the program's label.
function statement(address) {
  return machine.wordText(address).replace(/(JUMP|CALL|ELSE|DISPATCH \w+) (?:L_|0x)([0-9A-F]{3})$/, (all, verb, target) => {
    const label = labels.get(parseInt(target, 16));
    return label ? `${verb} ${label}` : `${verb} 0x${target}`;
  });
}

const escapeHtml = (text) => text.replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);

function toggleBreak(address) {
  if (breaks.has(address)) {
    breaks.delete(address);
    machine.breakClear(address);
    say(`break point at ${hex(address, 3)} cleared`);
  } else if (machine.breakSet(address)) {
    breaks.add(address);
    say(`break point at ${hex(address, 3)}${labels.has(address) ? ' (' + labels.get(address) + ')' : ''} set`);
  } else {
    takeConsole();   // error 15: the table is full
    say('all 32 break points are in use', 'error');
  }
  store();
  refresh();
}

// ---- Assembling and loading ----

const isLoadFile = (name) => /\.(cm|mm)$/i.test(name);

// Assembles or loads one document; returns the error count, and fills
// `messages` and the editor marks for the document.
function loadDocument(kind, messages, marks) {
  const doc = docs[kind];
  if (!doc.text.trim()) return 0;
  const path = doc.name.startsWith('/') ? doc.name : `/work/${doc.name}`;
  if (isLoadFile(doc.name)) {
    const loaded = machine.loadText(doc.text);
    const failed = machine.lastError();
    machine.consoleClear();   // said here instead
    const expected = kind === 'cm' ? 1 : 2;
    const report = (severity, line, text) => {
      messages.push({ kind, line, text: `${doc.name}:${line}: ${text}`, severity });
      marks[kind].set(line, [...(marks[kind].get(line) ?? []), { severity, text }]);
      return severity === 'error' ? 1 : 0;
    };
    if (loaded !== expected) {
      if (loaded) return report('error', 1, `this is a ${loaded === 1 ? 'CM' : 'MM'} load file, not ${kind.toUpperCase()}`);
      return report('error', 1, failed.number ? `ERROR ${failed.number}: ${failed.text}` : 'not a load file');
    }
    // An address beyond the memory: the Load command skips the line and
    // goes on, and so does the page, saying where.
    if (failed.number) report('warning', failed.line, `ERROR ${failed.number}: ${failed.text}`);
    if (kind === 'cm') {
      // A load file's comment after the value is its source text.
      for (const line of doc.text.split('\n').slice(1)) {
        const address = parseInt(line.slice(0, 5), 16);
        if (Number.isNaN(address) || address > CM_LIMIT) continue;
        sourceLines.set(address, line.slice(5).trim().replace(/^\S+\s*/, ''));
      }
    }
    return 0;
  }
  const result = machine.assemble(path, doc.text, kind === 'mm');
  for (const record of result.records) {
    const ownFile = record.file === path;
    const where = record.line ? `:${record.line}:${record.column}` : '';
    const shown = `${ownFile ? doc.name : record.file}${where}: ${record.severity}: ${record.message}`;
    const line = ownFile ? record.line : 0;
    messages.push({ kind, line, text: shown, severity: record.severity });
    if (line) marks[kind].set(line, [...(marks[kind].get(line) ?? []), { severity: record.severity, text: `${record.severity}: ${record.message}` }]);
  }
  if (result.errors) return result.errors;
  const sourceText = doc.text.split('\n');
  if (kind === 'cm') {
    for (const entry of result.labels.trim().split('\n').filter(line => line && !line.startsWith(';'))) {
      const [name, address] = entry.split(' ');
      if (!labels.has(parseInt(address, 16))) labels.set(parseInt(address, 16), name);
    }
  }
  machine.loadText(result.loadFile);
  if (kind === 'cm')
    for (let a = 0; a <= CM_LIMIT; a++) {
      const line = machine.assemblyLine(a);
      if (line) sourceLines.set(a, sourceText[line - 1].trim());
    }
  return 0;
}

function assemble() {
  if (running) return;
  saveEditor();
  machine.powerOn();
  labels = new Map();
  sourceLines = new Map();
  const messages = [];
  const marks = { cm: new Map(), mm: new Map() };
  let errors = loadDocument('cm', messages, marks);
  errors += loadDocument('mm', messages, marks);
  setCards();
  for (const address of breaks) machine.breakSet(address);
  machine.consoleClear();
  totalSteps = 0;
  history.length = 0;
  before = marksFrom = null;
  $('console').textContent = '';
  editorMarks = marks;
  editor.setErrors(marks[active]);
  const list = $('messages');
  list.innerHTML = '';
  for (const message of messages) {
    const item = document.createElement('li');
    item.textContent = message.text;
    item.className = message.severity;
    if (message.line) item.addEventListener('click', () => { selectDocument(message.kind); editor.goToLine(message.line); });
    list.append(item);
  }
  buildListing();
  refresh();
  if (errors) say(`${errors} error${errors > 1 ? 's' : ''}: nothing is loaded where there are errors`, 'error');
  else say(`assembled and loaded: ${listed.length} CM words listed, ${labels.size} labels`);
  return errors;
}
let editorMarks = { cm: new Map(), mm: new Map() };

function setCards() {
  machine.cardsSet(new TextEncoder().encode($('cards').value));
}

// ---- Running ----

function readLimit() {
  const typed = $('limit').value.trim();
  if (typed === '') return Infinity;
  if (!/^\d{1,12}$/.test(typed)) {
    say(`step limit: "${typed}" is not a whole number of steps (empty: no limit)`, 'error');
    return null;
  }
  return Number(typed);
}

function runningButtons() {
  for (const id of ['assemble', 'step', 'back', 'run', 'reset', 'examples', 'disassemble'])
    $(id).disabled = running;
  $('stop').disabled = !running;
  document.body.classList.toggle('running', running);
}

// Executes the micro-instruction at CMAR even when it is a break point: a run
// or a step from a break point goes past it.
function stepOver(counts) {
  const at = machine.get('CMAR');
  const wasBreak = breaks.has(at);
  if (wasBreak) machine.breakClear(at);
  const result = machine.run(1, counts);
  if (wasBreak) machine.breakSet(at);
  return result;
}

const channel = new MessageChannel();
const waiting = [];
channel.port1.onmessage = () => waiting.shift()?.();
const breathe = () => new Promise((resolve) => { waiting.push(resolve); channel.port2.postMessage(0); });
const paint = () => new Promise((resolve) => setTimeout(resolve, 0));

function describeStop(result, steps) {
  const cmar = hex(machine.get('CMAR'), 3);
  switch (result.stop) {
    case STOP.HALT: return [`halted after ${steps} steps; CMAR ${cmar}`, 'info'];
    case STOP.ERROR: return [`error ${result.error} after ${steps} steps; CMAR ${cmar}: ${machine.errorText(result.error)}`, 'error'];
    case STOP.BREAK: {
      const at = machine.get('CMAR');
      return [`break point at ${cmar}${labels.has(at) ? ' (' + labels.get(at) + ')' : ''} after ${steps} steps`, 'info'];
    }
    default: return [`step limit used up: ${steps} steps; CMAR ${cmar}`, 'info'];
  }
}

async function run() {
  if (running) return;
  const limit = readLimit();
  if (limit === null) return;
  const counts = $('counts').checked;
  running = true;
  stopRequested = false;
  runningButtons();
  machine.checkpoint();
  const startSteps = totalSteps;
  marksFrom = readRegisters();
  before = null;
  const started = performance.now();
  let steps = 0, result = { stop: STOP.LIMIT, steps: 0 };
  let slice = 100000, lastPaint = started;
  say('running…');
  while (steps < limit) {
    const n = steps === 0 ? 1 : Math.min(slice, limit - steps);
    const t0 = performance.now();
    result = steps === 0 ? stepOver(counts) : machine.run(n, counts);
    steps += result.steps;
    totalSteps += result.steps;
    takeConsole();
    if (result.stop !== STOP.LIMIT) break;
    if (machine.printerLength() > PRINTER_LIMIT) {
      result = { stop: -1 };
      break;
    }
    const spent = performance.now() - t0;
    if (n === slice) slice = Math.max(1000, Math.min(50_000_000, Math.round(slice * SLICE_MS / Math.max(spent, 0.5))));
    const now = performance.now();
    if (now - lastPaint > 100) {
      $('steps').textContent = String(totalSteps);
      $('speed').textContent = `${(steps / (now - started) / 1000).toFixed(1)} M steps/s`;
      lastPaint = now;
      await paint();
    } else {
      await breathe();
    }
    if (stopRequested) break;
  }
  const seconds = (performance.now() - started) / 1000;
  lastRunSpeed = steps / seconds;
  if (steps > 0 && seconds < REPLAY_SECONDS) before = replayToLastStep(steps, marksFrom);
  remember(totalSteps - startSteps);
  running = false;
  runningButtons();
  $('speed').textContent = steps > 100000 ? `${(lastRunSpeed / 1e6).toFixed(1)} M steps/s` : '';
  if (result.stop === -1) say(`stopped: the printer holds over ${PRINTER_LIMIT} bytes after ${steps} steps`, 'error');
  else if (stopRequested && result.stop === STOP.LIMIT) say(`stopped by you after ${steps} steps; CMAR ${hex(machine.get('CMAR'), 3)}`);
  else say(...describeStop(result, steps));
  refresh();
  return result;
}

// The machine is deterministic: a short run is made again from its start
// (the checkpoint taken then), all but its last step at full speed, so that
// the data path can show what the last micro-instruction did. Returns the
// registers before that step, or null when the replay does not end where
// the run did (it always should).
function replayToLastStep(steps, start) {
  const end = readRegisters();
  if (!machine.undo()) return null;
  machine.checkpoint();                       // the run's start, for Step back
  if (steps > 1) stepOver(false);
  if (steps > 2) machine.run(steps - 2, false);
  const last = readRegisters();
  machine.run(1, false);
  machine.consoleClear();                     // said once already, during the run
  const again = readRegisters();
  const same = machine.registerNames.every((name) => again[name] === end[name]);
  return same && start ? last : null;
}

function step() {
  if (running) return;
  machine.checkpoint();
  before = marksFrom = readRegisters();
  const result = stepOver($('counts').checked);
  totalSteps += result.steps;
  remember(result.steps);
  takeConsole();
  if (result.stop === STOP.ERROR) say(...describeStop(result, result.steps));
  else if (result.stop === STOP.HALT) say(`halted; CMAR ${hex(machine.get('CMAR'), 3)}`);
  else say(`stepped ${hex(before.CMAR, 3)} → ${hex(machine.get('CMAR'), 3)}`);
  refresh();
}

// Notes the steps that the checkpoint just taken covers; the machine keeps a
// bounded history, and so does the page.
function remember(steps) {
  history.push(steps);
  while (history.length > machine.historySize()) history.shift();
}

function stepBack() {
  if (running || !machine.undo()) return;
  totalSteps -= history.pop() ?? 0;
  before = marksFrom = null;
  say(`back to step ${totalSteps}`);
  refresh();
}

function reset() {
  if (running) return;
  machine.checkpoint();
  remember(-totalSteps);
  machine.reset();
  marksFrom = before = null;
  for (const address of breaks) machine.breakSet(address);
  machine.printerClear();
  machine.cardsRewind();
  machine.profileClear();
  machine.consoleClear();
  totalSteps = 0;
  before = null;
  say('registers reset; printer cleared, card reader rewound');
  refresh();
}

// ---- Documents, examples, persistence ----

function saveEditor() {
  docs[active].text = editor.text;
  docs[active].name = $('doc-name').value.trim() || docs[active].name;
}

// Shows a document in the editor; `keep` false when the documents were
// just replaced and the editor's text is stale.
function selectDocument(kind, keep = true) {
  if (keep) saveEditor();
  active = kind;
  editor.text = docs[kind].text;
  editor.setErrors(editorMarks[kind]);
  $('doc-name').value = docs[kind].name;
  for (const k of ['cm', 'mm']) $(`tab-${k}`).classList.toggle('active', k === kind);
  store();
}

async function fetchText(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: ${response.status}`);
  return response.text();
}

async function openExample(id) {
  const example = EXAMPLES.find((e) => e.id === id);
  if (!example) return;
  docs.cm = { name: '/' + example.cm, text: await fetchText(example.cm) };
  docs.mm = example.mm ? { name: '/' + example.mm, text: await fetchText(example.mm) } : { name: 'data.mdat', text: '' };
  $('cards').value = example.cards ? await fetchText(example.cards) : '';
  breaks.clear();
  selectDocument('cm', false);
  assemble();
  say(`opened ${example.id}`);
}

// Turns the loaded control memory into source: labels for jump targets.
function disassemble() {
  saveEditor();
  const name = docs.cm.name.replace(/\.[^./]*$/, '') + '.masm';
  docs.cm = { name, text: `; disassembled from ${docs.cm.name}\n` + machine.disassemble() };
  selectDocument('cm', false);
  assemble();
}

function store() {
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify({
      docs, active, cards: $('cards').value, breaks: [...breaks], limit: $('limit').value,
      counts: $('counts').checked,
    }));
  } catch (error) {
    say(`the work could not be kept in this browser: ${error.message}`, 'error');
  }
}

function restore() {
  try {
    const kept = JSON.parse(localStorage.getItem(STORAGE_KEY) ?? 'null');
    if (!kept?.docs?.cm || typeof kept.docs.cm.text !== 'string') return false;
    for (const kind of ['cm', 'mm'])
      docs[kind] = { name: String(kept.docs[kind]?.name ?? docs[kind].name), text: String(kept.docs[kind]?.text ?? '') };
    $('cards').value = String(kept.cards ?? '');
    $('limit').value = String(kept.limit ?? '');
    $('counts').checked = kept.counts !== false;
    for (const address of kept.breaks ?? []) if (Number.isInteger(address) && address >= 0 && address <= CM_LIMIT) breaks.add(address);
    selectDocument(kept.active === 'mm' ? 'mm' : 'cm', false);
    return true;
  } catch {
    return false;
  }
}

function download(name, text) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
  link.download = name.slice(name.lastIndexOf('/') + 1);
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

const baseName = (name) => name.slice(name.lastIndexOf('/') + 1).replace(/\.[^.]*$/, '');

// What the Save buttons give, for the tests too.
export const exports = {
  cm: () => machine.cmLoadFile(),
  mm: () => machine.mmLoadFile(),
  source: () => { saveEditor(); return docs[active].text; },
};

function changeMemory(input) {
  const address = Number(input.dataset.mm);
  if (running) {
    say(`MM ${hex(address, 4)}: stop the run first to change it`, 'error');
    return;
  }
  const typed = input.value.trim();
  if (!/^(0x)?[0-9a-f]{1,4}$/i.test(typed)) {
    say(`MM ${hex(address, 4)}: "${typed}" is no 16-bit hexadecimal number`, 'error');
  } else {
    machine.checkpoint();
    remember(0);
    machine.mmSet(address, parseInt(typed, 16));
    say(`MM ${hex(address, 4)} = ${hex(parseInt(typed, 16), 4)}`);
  }
  refresh();
}

// ---- Start ----

async function start() {
  machine = await loadMachine();
  for (const path of INCLUDES) machine.writeFile('/' + path, await fetchText(path));
  editor = new Editor($('editor'), () => { editorDirty(); });
  datapath = new DataPath($('datapath'));
  await datapath.load('datapath.svg');
  buildRegisters();

  const select = $('examples');
  for (const example of EXAMPLES) select.add(new Option(example.title, example.id));
  select.addEventListener('change', () => { if (select.value) openExample(select.value); select.value = ''; });
  $('assemble').addEventListener('click', assemble);
  $('disassemble').addEventListener('click', disassemble);
  $('run').addEventListener('click', run);
  $('stop').addEventListener('click', () => { stopRequested = true; });
  $('step').addEventListener('click', step);
  $('back').addEventListener('click', stepBack);
  $('reset').addEventListener('click', reset);
  $('tab-cm').addEventListener('click', () => selectDocument('cm'));
  $('tab-mm').addEventListener('click', () => selectDocument('mm'));
  $('doc-name').addEventListener('change', () => { saveEditor(); store(); });
  $('limit').addEventListener('change', store);
  $('counts').addEventListener('change', store);
  $('cards').addEventListener('input', () => { setCards(); store(); showPrinter(); });
  $('rewind').addEventListener('click', () => { machine.cardsRewind(); showPrinter(); say('card reader rewound'); });
  $('clear-printer').addEventListener('click', () => { machine.printerClear(); showPrinter(); });
  $('save-cm').addEventListener('click', () => download(baseName(docs.cm.name) + '.cm', exports.cm()));
  $('save-mm').addEventListener('click', () => download(baseName(docs.mm.name) + '.mm', exports.mm()));
  $('save-source').addEventListener('click', () => download(docs[active].name, exports.source()));
  $('listing').addEventListener('click', (event) => {
    const row = event.target.closest('tr[data-address]');
    if (!row || event.target.closest('input')) return;
    if (event.target.closest('td.word')) editWord(row.querySelector('td.word'), Number(row.dataset.address));
    else toggleBreak(Number(row.dataset.address));
  });
  $('memory').addEventListener('change', (event) => { if (event.target.dataset.mm) changeMemory(event.target); });
  $('mm-address').addEventListener('change', () => { $('mm-follow').checked = false; refresh(); });
  $('mm-follow').addEventListener('change', refresh);
  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape' && running) stopRequested = true;
    if (event.key === 'F10') { event.preventDefault(); step(); }
  });

  if (restore()) {
    assemble();
    say('your work is back as you left it; assembled afresh');
  } else {
    await openExample('greeting');
  }
  document.body.classList.add('ready');
}

let storeTimer = 0;
function editorDirty() {
  clearTimeout(storeTimer);
  storeTimer = setTimeout(() => { saveEditor(); store(); }, 300);
}

window.addEventListener('error', (event) => say(`internal error: ${event.message}`, 'error'));
window.addEventListener('unhandledrejection', (event) => say(`internal error: ${event.reason?.message ?? event.reason}`, 'error'));
window.workbench = { run, step, stepBack, reset, assemble, exports, speed: () => lastRunSpeed, openExample };
start().catch((error) => say(`the workbench could not start: ${error.message}`, 'error'));
