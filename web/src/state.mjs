// The page's one state: everything the workbench knows besides what the
// machine itself holds. Every module reads and changes this object; nothing
// else is kept at module level.
import { newProject } from './project.mjs';

export const PRINTER_LIMIT = 1 << 20;   // a run stops when the printer holds more
export const CM_LIMIT = 0xFFF;

export const state = {
  machine: null, editor: null, datapath: null,
  digits: {},                 // register -> hex digits shown
  project: newProject(),      // the files (project.mjs)
  undo: [],                   // { label, project, breaks }: actions that replaced files, the last first out
  breaks: new Set(),          // CM addresses with a break point
  labels: new Map(),          // CM address -> label
  dataLabels: new Map(),      // MM address -> label
  sourceLines: new Map(),     // CM address -> source text shown in the listing
  marks: new Map(),           // file name -> Map(line -> [{ severity, text }]) for the editor's gutter
  assembly: { errors: 0, done: false },   // the last assembly: failed ones refuse Run and Step
  totalSteps: 0,              // since the last assembly or reset
  // One entry per machine checkpoint (a change made from outside), for Step
  // back at the start of the machine's history of runs: the step count and
  // what the picture showed before it (the registers before the last step,
  // and those the changed marks compare with).
  history: [],
  before: null,               // registers before the last step (the picture shows that step)
  marksFrom: null,            // registers before the last step or run (the changed marks)
  running: false, stopRequested: false, lastRunSpeed: 0,
  asked: null,                // the register or memory word Back to change asks about (timeline.mjs)
  answered: null,             // its last answer: { kind, what, step, end of the history }
  escaped: false,             // the last key in the editor was Esc: Tab leaves it
};

export const $ = (id) => document.getElementById(id);

export function say(text, kind = 'info') {
  const status = $('status');
  status.textContent = text;
  status.className = kind;
}

// Long work gives the page its turn between slices: breathe() lets events
// (a click on Stop, a key) in at once, without the 4 ms a timer may wait;
// paint() waits for a timer, so the browser draws what changed first.
const channel = new MessageChannel();
const waiting = [];
channel.port1.onmessage = () => waiting.shift()?.();
export const breathe = () => new Promise((resolve) => { waiting.push(resolve); channel.port2.postMessage(0); });
export const paint = () => new Promise((resolve) => setTimeout(resolve, 0));
