// Running the machine from the page: Run in slices that let the page
// breathe, Step, Step back and Reset. The machine keeps a history of every
// run (timeline.mjs goes to any step of it); every change made from outside
// goes through a checkpoint of the machine, and the page notes with it what
// the picture showed, so that Step back before the history's start shows
// the machine as it was.
import { STOP } from './machine.mjs';
import { state, $, say, PRINTER_LIMIT, breathe, paint } from './state.mjs';
import { hex } from './format.mjs';
import { readRegisters, takeConsole, refresh, wordName } from './view.mjs';
import { showStep, registersBefore } from './timeline.mjs';

const SLICE_MS = 20;                // one slice of a run, then the page breathes

// Takes a checkpoint of the machine before a change made from outside;
// returns its entry, which keeps the step count shown then.
export function checkpoint() {
  state.machine.checkpoint();
  const entry = { total: state.totalSteps, before: state.before, marksFrom: state.marksFrom };
  state.history.push(entry);
  while (state.history.length > state.machine.historySize()) state.history.shift();
  return entry;
}

// Takes back the last checkpoint's entry after an undo of the machine.
export function dropCheckpoint() {
  state.history.pop();
}

// Why Run and Step refuse to start: '' when they may.
function refusal() {
  if (state.running) return 'a run is going';
  if (state.assembly.errors)
    return `the last assembly failed (${state.assembly.errors} error${state.assembly.errors > 1 ? 's' : ''}): ` +
           'nothing runs until it assembles';
  return '';
}

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
  for (const id of ['assemble', 'step', 'back', 'run', 'reset', 'examples', 'disassemble', 'undo-action', 'open',
                    'timeline', 'at-step', 'changed-back', 'run-back'])
    $(id).disabled = state.running;
  for (const control of document.querySelectorAll('button.ask')) control.disabled = state.running;
  if (!state.running) $('undo-action').disabled = state.undo.length === 0;
  $('stop').disabled = !state.running;
  document.body.classList.toggle('running', state.running);
}

// Executes the micro-instruction at CMAR even when it is a break point: a run
// or a step from a break point goes past it.
function stepOver(counts) {
  const { machine, breaks } = state;
  const at = machine.get('CMAR');
  const wasBreak = breaks.has(at);
  if (wasBreak) machine.breakClear(at);
  const result = machine.run(1, counts);
  if (wasBreak) machine.breakSet(at);
  return result;
}

export function describeStop(result, steps) {
  const { machine } = state;
  const cmar = hex(machine.get('CMAR'), 3);
  switch (result.stop) {
    case STOP.HALT: return [`halted after ${steps} steps; CMAR ${cmar}`, 'info'];
    case STOP.ERROR: return [`error ${result.error} after ${steps} steps; CMAR ${cmar}: ${machine.errorText(result.error)}`, 'error'];
    case STOP.BREAK: return [`break point at ${wordName(machine.get('CMAR'))} after ${steps} steps`, 'info'];
    default: return [`step limit used up: ${steps} steps; CMAR ${cmar}`, 'info'];
  }
}

export async function run() {
  if (state.running) return;
  const limit = readLimit();
  if (limit === null) return;
  const refused = refusal();
  if (refused) {
    say(`Run: ${refused}`, 'error');
    return;
  }
  return busy(() => runSlices(limit, $('counts').checked));
}

// Does `work` (a run, a question to the history) with the page busy: the
// controls that would disturb it are off, Stop and Esc end it.
export async function busy(work) {
  state.running = true;
  state.stopRequested = false;
  runningButtons();
  try {
    return await work();
  } finally {
    // Work that failed midway leaves the page usable all the same.
    if (state.running) {
      state.running = false;
      runningButtons();
    }
  }
}

async function runSlices(limit, counts) {
  const { machine } = state;
  state.marksFrom = readRegisters();
  state.before = null;
  const started = performance.now();
  let steps = 0, result = { stop: STOP.LIMIT, steps: 0 };
  let slice = 100000, lastPaint = started;
  say('running…');
  while (steps < limit) {
    const n = steps === 0 ? 1 : Math.min(slice, limit - steps);
    const t0 = performance.now();
    result = steps === 0 ? stepOver(counts) : machine.run(n, counts);
    steps += result.steps;
    state.totalSteps += result.steps;
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
      $('steps').textContent = String(state.totalSteps);
      $('speed').textContent = `${(steps / (now - started) / 1000).toFixed(1)} M steps/s`;
      lastPaint = now;
      await paint();
    } else {
      await breathe();
    }
    if (state.stopRequested) break;
  }
  const seconds = (performance.now() - started) / 1000;
  state.lastRunSpeed = steps / seconds;
  machine.runEnd(steps, limit);   // the console's own closing lines
  takeConsole();
  // The history gives the registers before the last step, for the picture.
  if (steps > 0) state.before = registersBefore(machine.position());
  state.running = false;
  runningButtons();
  $('speed').textContent = steps > 100000 ? `${(state.lastRunSpeed / 1e6).toFixed(1)} M steps/s` : '';
  if (result.stop === -1) say(`stopped: the printer holds over ${PRINTER_LIMIT} bytes after ${steps} steps`, 'error');
  else if (state.stopRequested && result.stop === STOP.LIMIT) say(`stopped by you after ${steps} steps; CMAR ${hex(machine.get('CMAR'), 3)}`);
  else say(...describeStop(result, steps));
  refresh();
  return result;
}

export function step() {
  if (state.running) return;
  const refused = refusal();
  if (refused) {
    say(`Step: ${refused}`, 'error');
    return;
  }
  const { machine } = state;
  state.before = state.marksFrom = readRegisters();
  const result = stepOver($('counts').checked);
  state.totalSteps += result.steps;
  takeConsole();
  if (result.stop === STOP.ERROR) say(...describeStop(result, result.steps));
  else if (result.stop === STOP.HALT) say(`halted; CMAR ${hex(machine.get('CMAR'), 3)}`);
  else say(`stepped ${hex(state.before.CMAR, 3)} → ${hex(machine.get('CMAR'), 3)}`);
  refresh();
}

// One step back in the history of runs; at its start, back to before the
// last change made from outside (the last checkpoint): the machine as it
// was, and the picture, the MIR line and the changed marks as shown then.
export function stepBack() {
  if (state.running) return;
  const at = state.machine.position();
  if (at > 0) {
    showStep(at - 1);
    say(`back to step ${state.totalSteps}`);
    return;
  }
  if (!state.machine.undo()) return;
  const entry = state.history.pop() ?? { total: state.totalSteps, before: null, marksFrom: null };
  state.totalSteps = entry.total;
  state.before = entry.before;
  state.marksFrom = entry.marksFrom;
  say(`back to step ${state.totalSteps}`);
  refresh();
}

export function reset() {
  if (state.running) return;
  const { machine } = state;
  checkpoint();
  machine.reset();
  state.marksFrom = state.before = null;
  for (const address of state.breaks) machine.breakSet(address);
  machine.printerClear();
  machine.cardsRewind();
  machine.profileClear();
  machine.consoleClear();
  state.totalSteps = 0;
  say('registers reset; printer cleared, card reader rewound');
  refresh();
}
