// Time travel: the machine keeps a history of every run since the last change
// made from outside, and the page goes to any step of it (the timeline, Step
// back), asks when a register or a memory word last changed, and runs back
// to the previous break point. Questions replay the history in bounded calls
// and show their progress; Esc or Stop ends them.
import { FIND } from './machine.mjs';
import { state, $, say, breathe, paint } from './state.mjs';
import { parseStep } from './format.mjs';
import { readRegisters, refresh, memoryName, wordName as cmName, askControlOf } from './view.mjs';
import { busy } from './run.mjs';

const QUESTION_STEPS = 4_000_000;   // replayed per call of a question, then the page breathes

// The registers after step `at - 1` of the history, the present put back at
// step `at`; null at the history's start.
export function registersBefore(at) {
  const { machine } = state;
  if (at === 0) return null;
  machine.seek(at - 1);
  const before = readRegisters();
  machine.seek(at);
  machine.consoleClear();   // said once already, when the step was first made
  return before;
}

// Puts the machine at step `target` of the history, every panel showing
// that step as Step showed it. Returns false beyond the history's end.
export function showStep(target) {
  const { machine } = state;
  const from = machine.position();
  if (!machine.seek(target)) return false;
  state.totalSteps += target - from;
  state.before = state.marksFrom = registersBefore(target);
  refresh();
  return true;
}

export function typedStep() {
  if (state.running) return;
  const parsed = parseStep($('at-step').value, state.machine.historyEnd());
  if (parsed.error) {
    say(parsed.error, 'error');
    refresh();
    return;
  }
  showStep(parsed.step);
  say(`at step ${parsed.step} of the history`);
}

// Dragging seeks once per frame at most, to the latest place dragged to.
let dragged = null;
export function draggedStep() {
  if (state.running) return;
  const pending = dragged !== null;
  dragged = Number($('timeline').value);
  if (pending) return;
  requestAnimationFrame(() => {
    const step = dragged;
    dragged = null;
    if (showStep(step)) say(`at step ${step} of the history`);
  });
}

// What the page asks about: the register or memory word of `element`, its
// field or its own Back to change control. Returns { kind, what, name } or
// null.
export function askedAbout(element) {
  if (element?.classList?.contains('ask')) element = element.closest('.item')?.querySelector('input');
  if (!element) return null;
  const name = element.dataset?.register;
  if (name !== undefined) {
    const number = state.machine.registerNames.indexOf(name);
    return number < 0 || !state.machine.registers[number].askable ? null : { kind: FIND.REGISTER, what: number, name };
  }
  if (element.dataset?.mm !== undefined) {
    const address = Number(element.dataset.mm);
    return { kind: FIND.MM_WORD, what: address, name: memoryName(address) };
  }
  return null;
}

// Runs one question to its end, showing `what` and its progress; stops
// early when the page asks to or when `enough(progress)` says so. Returns
// the status (FIND.*), or null when stopped.
async function ask(kind, what, title, enough = () => false) {
  const { machine } = state;
  if (!machine.findStart(kind, what)) return FIND.NONE;
  let lastPaint = performance.now();
  for (;;) {
    const status = machine.findContinue(QUESTION_STEPS);
    if (status !== FIND.RUNNING) return status;
    const progress = machine.findProgress();
    if (state.stopRequested || enough(progress)) return null;
    const now = performance.now();
    if (now - lastPaint > 100) {
      say(`${title}: searched ${progress.searched} of ${progress.span} steps… (Esc stops)`);
      lastPaint = now;
      await paint();
    } else {
      await breathe();
    }
  }
}

async function question(body) {
  if (state.running) return;
  try {
    await busy(body);
  } finally {
    refresh();
  }
}

const wordName = (address) => address === FIND.UNKNOWN ? 'a word before the history began' : cmName(address);

// Back to the step at which `asked` (a register or memory word) last
// changed, naming the word that did it. The answer may be the present step
// (it changed in the step just made); asked again there, the question goes
// on from the step before, further back.
export function changedBack(asked) {
  if (!asked) {
    say('Back to change: first click (focus) a register or a memory word to ask about', 'error');
    return Promise.resolve();
  }
  return question(async () => {
    const { machine } = state;
    const title = `when did ${asked.name} last change`;
    const present = machine.position(), end = machine.historyEnd();
    const last = state.answered;
    const again = present > 0 && last !== null && last.kind === asked.kind && last.what === asked.what &&
                  last.step === present && last.end === end;
    let status;
    if (again) machine.seek(present - 1);
    try {
      status = await ask(asked.kind, asked.what, title);
    } finally {
      if (again) {
        machine.seek(present);
        machine.consoleClear();   // said once already
      }
    }
    state.answered = null;
    if (status === null) say(`${title}: stopped by you`);
    else if (status !== FIND.FOUND) say(`${asked.name} did not change in the history (${present - (again ? 1 : 0)} steps back)`);
    else {
      const found = machine.findResult();
      showStep(found.step);
      state.answered = { kind: asked.kind, what: asked.what, step: found.step, end };
      const starter = asked.kind === FIND.MM_WORD ? `, the write started by ${wordName(found.starter)}` : '';
      say(`${asked.name} changed in step ${state.totalSteps}, by the word at ${wordName(found.word)}${starter}`);
    }
  });
}

// The Back to change control of one register or memory word: asks about its
// item, which becomes the one Alt+C asks about too; the focus comes back to
// the control (the memory view is drawn anew), to ask again from there.
export async function changedBackFrom(control) {
  const asked = askedAbout(control);
  if (!asked || state.running) return;
  state.asked = asked;
  await changedBack(asked);
  if (!document.activeElement || document.activeElement === document.body) askControlOf(asked)?.focus();
}

// Back to the latest step before the present at which CMAR held one of the
// break points: one question per break point, each ended once it searches
// older steps than an answer already found.
export function runBack() {
  const points = [...state.breaks].sort((a, b) => a - b);
  if (points.length === 0) {
    say('Run back: set a break point first (click a listing line or F9)', 'error');
    return Promise.resolve();
  }
  return question(async () => {
    const { machine } = state;
    const present = machine.position();
    let best = null;
    for (const address of points) {
      const status = await ask(FIND.ADDRESS, address, 'running back',
                               (progress) => best !== null && progress.span - progress.searched < best.step);
      if (status === null && state.stopRequested) {
        say('running back: stopped by you');
        return;
      }
      if (status === FIND.FOUND) {
        const step = machine.findResult().step;
        if (best === null || step > best.step) best = { step, address };
      }
    }
    if (best === null) {
      say(`running back: no break point was reached in the history (${present} steps back)`);
      return;
    }
    showStep(best.step);
    say(`ran back to the break point at ${wordName(best.address)}: step ${state.totalSteps}`);
  });
}
