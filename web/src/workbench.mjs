// The workbench page: editor, control-memory listing, data path, registers,
// memory, card reader and printer around the one machine in WebAssembly.
// This module starts the page and ties its controls and keys to the
// modules that do the work; the page's state is the one object of state.mjs.
import { loadMachine } from './machine.mjs';
import { Editor } from './editor.mjs';
import { DataPath } from './datapath.mjs';
import { EXAMPLES } from './examples.mjs';
import { KEYS, actionFor } from './keys.mjs';
import { state, $, say } from './state.mjs';
import { hex } from './format.mjs';
import { buildRegisters, buildListing, refresh, takeConsole, moveListingFocus, showDevices, markAsked, wordName, wordHex } from './view.mjs';
import { run, step, stepBack, reset, checkpoint, dropCheckpoint } from './run.mjs';
import * as F from './files.mjs';
import { typedStep, draggedStep, askedAbout, changedBack, changedBackFrom, runBack, showStep } from './timeline.mjs';

function changeRegister(input) {
  const { machine } = state;
  const name = input.dataset.register;
  if (state.running) {
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
  checkpoint();
  machine.set(name, value);
  if (machine.get(name) !== value) {
    machine.set(name, old);
    machine.undo();
    dropCheckpoint();
    say(`${name} cannot hold ${hex(value, 1)}`, 'error');
  } else {
    say(`${name} = ${hex(value, state.digits[name] ?? 4)}`);
    if (name === 'CMAR') state.before = null;
  }
  refresh();
}

function changeMemory(input) {
  const address = Number(input.dataset.mm);
  if (state.running) {
    say(`MM ${hex(address, 4)}: stop the run first to change it`, 'error');
    return;
  }
  const typed = input.value.trim();
  if (!/^(0x)?[0-9a-f]{1,4}$/i.test(typed)) {
    say(`MM ${hex(address, 4)}: "${typed}" is no 16-bit hexadecimal number`, 'error');
  } else {
    checkpoint();
    state.machine.mmSet(address, parseInt(typed, 16));
    say(`MM ${hex(address, 4)} = ${hex(parseInt(typed, 16), 4)}`);
  }
  refresh();
}

// A click on a word in the listing opens it for typing over; Enter or
// leaving the field stores it, Esc leaves it as it was.
function editWord(cell, address) {
  if (state.running) {
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
      checkpoint();
      state.machine.cmSet(address, Number(word >> 32n), Number(word & 0xFFFFFFFFn));
      state.sourceLines.delete(address);
      say(`CM ${hex(address, 3)} = ${wordHex(address)}`);
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

function toggleBreak(address) {
  const { machine, breaks } = state;
  if (breaks.has(address)) {
    breaks.delete(address);
    machine.breakClear(address);
    say(`break point at ${hex(address, 3)} cleared`);
  } else if (machine.breakSet(address)) {
    breaks.add(address);
    say(`break point at ${wordName(address)} set`);
  } else {
    takeConsole();   // error 15: the table is full
    say('all 32 break points are in use', 'error');
  }
  F.store();
  refresh();
}

// ---- Keys and help ----

const ACTIONS = {
  assemble: () => F.assembleProject(),
  run: () => run(),
  step: () => step(),
  back: () => stepBack(),
  stop: () => { state.stopRequested = true; },
  undo: () => F.undoAction(),
  help: () => toggleHelp(),
  runBack: () => runBack(),
  changedBack: () => changedBack(state.asked),
  goTo: () => { $('at-step').focus(); $('at-step').select(); },
  break: () => {
    const row = document.activeElement?.closest?.('#listing tr[data-address]');
    if (row) toggleBreak(Number(row.dataset.address));
    else say('F9 sets a break point at the listing row that has the focus: Tab to the listing, ↑ ↓ to the row', 'error');
  },
};

function onKey(event) {
  const action = actionFor(event, state.running);
  if (action) {
    event.preventDefault();
    ACTIONS[action]();
  }
}

function buildHelp() {
  const rows = KEYS.map((k) => `<tr><td>${k.keys.map((key) => `<kbd>${key.replace('Escape', 'Esc')}</kbd>`).join(' or ')}</td><td>${k.text}</td></tr>`);
  rows.push('<tr><td><kbd>Esc</kbd> <kbd>Tab</kbd></td><td>In the editor (Tab indents there): leave it for the next control</td></tr>');
  $('help-keys').innerHTML = rows.join('');
}

function toggleHelp() {
  const help = $('help');
  if (help.open) help.close();
  else help.showModal();
}

// ---- Panels and the picture's size ----

// Shows a panel in its pane (a wide window shows them all anyway).
export function showPanel(id) {
  const pane = $(id).closest('.pane');
  for (const panel of pane.querySelectorAll('.panel')) panel.classList.toggle('shown', panel.id === id);
  for (const tab of pane.querySelectorAll('.pane-tabs [data-panel]')) tab.setAttribute('aria-selected', String(tab.dataset.panel === id));
}

// The picture drawn at a zoom of its own size (1: its text as the manual's
// picture has it), or fitted to the width of its panel.
function zoomPicture() {
  const zoom = $('zoom').value;
  const box = $('datapath');
  box.classList.toggle('fit', zoom === 'fit');
  const svg = box.querySelector('svg');
  if (svg) svg.style.width = zoom === 'fit' ? '' : `${Number(zoom) * svg.viewBox.baseVal.width}px`;
}

// ---- Start ----

async function start() {
  state.machine = await loadMachine();
  state.editor = new Editor($('editor'), () => editorDirty(), (event) => {
    // Esc, then Tab, leaves the editor; while a run goes Esc stops it.
    if (event.key === 'Tab' && !event.ctrlKey && !event.altKey) {
      const leave = state.escaped;
      state.escaped = false;
      return leave ? 'leave' : 'indent';
    }
    state.escaped = event.key === 'Escape' && !state.running;
    return '';
  });
  state.datapath = new DataPath($('datapath'));
  await state.datapath.load('datapath.svg');
  buildRegisters(changeRegister);
  buildHelp();
  for (const tab of document.querySelectorAll('.pane-tabs [data-panel]'))
    tab.addEventListener('click', () => showPanel(tab.dataset.panel));
  showPanel('source-panel');
  showPanel('picture-panel');
  if (matchMedia('(max-width: 799px)').matches) $('zoom').value = 'fit';
  $('zoom').addEventListener('change', zoomPicture);
  zoomPicture();

  const select = $('examples');
  for (const example of EXAMPLES) select.add(new Option(example.title, example.id));
  select.addEventListener('change', () => { if (select.value) F.openExample(select.value); select.value = ''; });
  $('assemble').addEventListener('click', F.assembleProject);
  $('disassemble').addEventListener('click', F.disassemble);
  $('run').addEventListener('click', run);
  $('stop').addEventListener('click', () => { state.stopRequested = true; });
  $('step').addEventListener('click', step);
  $('back').addEventListener('click', stepBack);
  $('reset').addEventListener('click', reset);
  $('changed-back').addEventListener('click', () => changedBack(state.asked));
  $('run-back').addEventListener('click', runBack);
  $('timeline').addEventListener('input', draggedStep);
  $('at-step').addEventListener('change', typedStep);
  // Back to change asks about the register or memory word clicked last;
  // the ↶ control of each asks about its own.
  $('machine-panel').addEventListener('focusin', (event) => {
    const asked = askedAbout(event.target);
    if (asked) {
      state.asked = asked;
      markAsked();
    }
  });
  $('machine-panel').addEventListener('click', (event) => {
    const control = event.target.closest('button.ask');
    if (control) changedBackFrom(control);
  });
  $('undo-action').addEventListener('click', F.undoAction);
  $('help-button').addEventListener('click', toggleHelp);
  $('help-close').addEventListener('click', toggleHelp);
  $('tab-cm').addEventListener('click', () => F.selectRole('cm'));
  $('tab-mm').addEventListener('click', () => F.selectRole('mm'));
  $('use-cm').addEventListener('click', () => F.useFor('cm'));
  $('use-mm').addEventListener('click', () => F.useFor('mm'));
  $('files').addEventListener('change', () => F.selectFile($('files').value));
  $('new-file').addEventListener('click', F.newFile);
  $('versions').addEventListener('change', () => { if ($('versions').value) F.restoreVersion(Number($('versions').value)); });
  $('doc-name').addEventListener('change', F.renameActive);
  $('open').addEventListener('click', () => $('open-input').click());
  $('open-input').addEventListener('change', async () => { await F.openChosen($('open-input').files); $('open-input').value = ''; });
  $('limit').addEventListener('change', F.store);
  $('counts').addEventListener('change', F.store);
  $('cards').addEventListener('input', F.cardsTyped);
  $('clear-cards').addEventListener('click', F.clearCards);
  $('rewind').addEventListener('click', () => { state.machine.cardsRewind(); showDevices(); say('card reader rewound'); });
  $('clear-printer').addEventListener('click', () => { state.machine.printerClear(); showDevices(); });
  const base = (name) => name.slice(name.lastIndexOf('/') + 1).replace(/\.[^.]*$/, '') || 'program';
  $('save-cm').addEventListener('click', () => F.download(base(state.project.cm) + '.cm', exports.cm()));
  $('save-mm').addEventListener('click', () => F.download(base(state.project.mm || 'data') + '.mm', exports.mm()));
  $('save-source').addEventListener('click', () => F.download(state.project.active || 'program.masm', exports.source()));
  $('save-printer').addEventListener('click', () => F.download('KALV.LPT', exports.printer()));
  $('save-cards').addEventListener('click', () => F.download('KALV.CRD', exports.cards()));
  $('listing').addEventListener('click', (event) => {
    const row = event.target.closest('tr[data-address]');
    if (!row || event.target.closest('input')) return;
    if (event.target.closest('td.word')) editWord(row.querySelector('td.word'), Number(row.dataset.address));
    else toggleBreak(Number(row.dataset.address));
  });
  $('listing').addEventListener('keydown', (event) => {
    const row = event.target.closest('tr[data-address]');
    if (!row || event.target !== row) return;
    const moves = { ArrowUp: -1, ArrowDown: 1, PageUp: -20, PageDown: 20 };
    if (event.key in moves) { event.preventDefault(); moveListingFocus(row, moves[event.key]); }
    if (event.key === 'Enter') { event.preventDefault(); editWord(row.querySelector('td.word'), Number(row.dataset.address)); }
  });
  $('memory').addEventListener('change', (event) => { if (event.target.dataset.mm) changeMemory(event.target); });
  $('mm-address').addEventListener('change', () => { $('mm-follow').checked = false; refresh(); });
  $('mm-follow').addEventListener('change', refresh);
  document.addEventListener('keydown', onKey);
  // Files dropped anywhere on the page open as by the picker.
  document.addEventListener('dragover', (event) => { event.preventDefault(); document.body.classList.add('dropping'); });
  document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dropping');
    if (event.dataTransfer?.files?.length) F.openChosen(event.dataTransfer.files);
  });

  // A link names an example (?example=k16_fib): it opens as a new project,
  // and the work kept before comes back with Alt+U.
  const asked = new URLSearchParams(location.search).get('example');
  const restored = F.restore();
  if (asked) await F.openExample(asked);
  else if (restored) {
    F.assembleProject();
    say('your work is back as you left it; assembled afresh');
  } else {
    await F.openExample('greeting');
  }
  document.body.classList.add('ready');
}

let storeTimer = 0;
function editorDirty() {
  clearTimeout(storeTimer);
  storeTimer = setTimeout(() => { F.saveEditor(); F.store(); }, 300);
}

// What the Save buttons give, for the tests too: load files as text, the
// printer and the deck as bytes.
const exports = {
  cm: () => state.machine.cmLoadFile(),
  mm: () => state.machine.mmLoadFile(),
  source: () => { F.saveEditor(); return state.editor.text; },
  printer: () => state.machine.printerBytes(),
  cards: () => state.project.cards,
};

window.addEventListener('error', (event) => say(`internal error: ${event.message}`, 'error'));
window.addEventListener('unhandledrejection', (event) => say(`internal error: ${event.reason?.message ?? event.reason}`, 'error'));
window.workbench = {
  run, step, stepBack, reset, changedBack, runBack, showStep, assemble: F.assembleProject, exports, speed: () => state.lastRunSpeed,
  openExample: F.openExample, openFiles: F.openFiles, state,
};
start().catch((error) => say(`the workbench could not start: ${error.message}`, 'error'));
