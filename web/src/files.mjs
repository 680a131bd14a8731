// The project on the page: the file list, the editor's file, files opened
// by the picker or dropped on the page, files saved, the card deck as
// bytes, the undo of actions that replace files, examples, disassembly and
// keeping it all in the browser.
import { state, $, say } from './state.mjs';
import * as P from './project.mjs';
import { bytesToText, textToBytes, editableAsText } from './bytes.mjs';
import { EXAMPLES } from './examples.mjs';
import { assemble } from './assembly.mjs';
import { showDevices } from './view.mjs';

const STORAGE_KEY = 'kalvo3.project';
const OLD_STORAGE_KEY = 'kalvo3.workbench';   // the two documents of earlier pages
const UNDO_KEPT = 8;

export const assembleProject = () => { saveEditor(); return assemble(showPlace); };

// The editor's text into its file.
export function saveEditor() {
  const file = P.fileOf(state.project, state.project.active);
  if (file) file.text = state.editor.text;
}

export function showFiles() {
  const { project } = state;
  const list = $('files');
  list.innerHTML = '';
  for (const file of project.files) {
    const role = file.name === project.cm ? ' — CM' : file.name === project.mm ? ' — MM' : '';
    list.add(new Option(file.name + role, file.name, false, file.name === project.active));
  }
  for (const kind of ['cm', 'mm']) {
    $(`tab-${kind}`).classList.toggle('active', project.active !== '' && project[kind] === project.active);
    $(`use-${kind}`).setAttribute('aria-pressed', String(project.active !== '' && project[kind] === project.active));
  }
  $('doc-name').value = project.active;
  showVersions();
  $('undo-action').disabled = state.running || state.undo.length === 0;
  $('undo-action').title = state.undo.length ? `take back: ${state.undo.at(-1).label} (Alt+U)` : 'nothing to take back';
  showCards();
}

// Shows a file in the editor; `keep` false when the editor's text is stale
// (the files were just replaced).
export function selectFile(name, keep = true) {
  if (keep) saveEditor();
  const file = P.fileOf(state.project, name);
  state.project.active = file?.name ?? '';
  state.editor.text = file?.text ?? '';
  if (file) state.editor.setErrors(state.marks.get(file.name) ?? new Map());
  showFiles();
  store();
}

// A message's place: its file in the editor, at its line.
export function showPlace(name, line) {
  if (!P.fileOf(state.project, name)) return;
  selectFile(name);
  state.editor.goToLine(line);
}

// The CM or MM file in the editor; a new empty one when the project has none.
export function selectRole(kind) {
  saveEditor();
  const { project } = state;
  if (!project[kind]) project[kind] = P.addFile(project, kind === 'cm' ? 'program.masm' : 'data.mdat');
  selectFile(project[kind], false);
}

// The file in the editor goes into CM or MM at the next assembly.
export function useFor(kind) {
  saveEditor();
  state.project[kind] = state.project.active;
  for (const other of ['cm', 'mm']) if (other !== kind && state.project[other] === state.project.active) state.project[other] = '';
  showFiles();
  store();
  say(`${state.project.active} goes into ${kind === 'cm' ? 'control' : 'main'} memory at the next assembly`);
}

// The active file's kept versions, the latest first.
function showVersions() {
  const list = $('versions');
  const file = P.fileOf(state.project, state.project.active);
  const versions = file?.versions ?? [];
  list.innerHTML = '';
  list.add(new Option(versions.length ? `earlier versions (${versions.length})…` : 'no earlier versions', ''));
  versions.forEach((text, i) => {
    const lines = text.split('\n').length - (text.endsWith('\n') ? 1 : 0);
    list.add(new Option(`${versions.length - i}: ${lines} line${lines === 1 ? '' : 's'} — ${text.slice(0, 40).replace(/\s+/g, ' ')}`, String(i)), 1);
  });
  list.disabled = versions.length === 0;
}

// Brings back a kept version of the active file; the text it replaces is
// kept in its turn.
export function restoreVersion(index) {
  saveEditor();
  const file = P.fileOf(state.project, state.project.active);
  const text = file?.versions[index];
  if (text === undefined) return;
  P.replaceText(state.project, file.name, text);
  selectFile(file.name, false);
  say(`${file.name}: an earlier version is back; the text it replaced is the latest of its versions`);
}

export function renameActive() {
  saveEditor();
  const why = P.renameFile(state.project, state.project.active, $('doc-name').value);
  if (why) say(why, 'error');
  const marks = state.marks.get(state.project.active);
  state.editor.setErrors(marks ?? new Map());
  showFiles();
  store();
}

export function newFile() {
  saveEditor();
  const name = P.addFile(state.project, 'new.masm');
  selectFile(name, false);
  $('doc-name').focus();
  $('doc-name').select();
  say(`${name} added to the project: give it its name`);
}

// ---- Undo of actions that replace files ----

export function pushUndo(label) {
  saveEditor();
  state.undo.push({ label, project: P.copyProject(state.project), breaks: [...state.breaks] });
  while (state.undo.length > UNDO_KEPT) state.undo.shift();
}

export function undoAction() {
  if (state.running) return;
  const last = state.undo.pop();
  if (!last) {
    say('nothing to take back');
    return;
  }
  state.project = last.project;
  state.breaks = new Set(last.breaks);
  selectFile(state.project.active, false);
  assembleProject();
  say(`taken back: ${last.label}`);
}

// ---- The card deck: bytes ----

// The deck in its box: as text while a text box can give the bytes back
// unchanged; otherwise shown, not edited (Clear empties it for typing).
export function showCards() {
  const box = $('cards');
  const bytes = state.project.cards;
  const editable = editableAsText(bytes);
  if (document.activeElement !== box) box.value = bytesToText(bytes);
  box.readOnly = !editable;
  box.title = editable ? 'the card deck: each character is one byte (00-FF)'
    : 'this deck holds CR or NUL bytes, kept exactly: it is shown, not edited here (Clear, then type a new one)';
}

export function cardsTyped() {
  const { bytes, unfit } = textToBytes($('cards').value);
  state.project.cards = bytes;
  state.machine.cardsSet(bytes);
  if (unfit) say(`card deck: ${unfit} character${unfit > 1 ? 's' : ''} beyond FF, each read as '?'`, 'error');
  store();
  showDevices();
}

export function clearCards() {
  pushUndo('clear the card deck');
  state.project.cards = new Uint8Array(0);
  state.machine.cardsSet(state.project.cards);
  showFiles();
  store();
  showDevices();
  say('card deck cleared (Alt+U brings it back)');
}

// ---- Files in and out ----

// Text of an opened source: UTF-8 when it is, else one character per byte.
function sourceText(bytes) {
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    return bytesToText(bytes);
  }
}

// Opens files ({ name, bytes }): a deck becomes the card deck; any other
// file joins the project, replacing (with a way back) one of the same name;
// the first CM or MM file of them goes into that memory.
export function openFiles(opened) {
  if (!opened.length || state.running) return;
  pushUndo(`open ${opened.map((f) => f.name).join(', ')}`);
  const { project } = state;
  const said = [];
  let show = '';
  const taken = new Set();
  for (const { name, bytes } of opened) {
    const role = P.roleOf(name);
    if (role === 'cards') {
      project.cards = bytes;
      said.push(`${name} as the card deck (${bytes.length} bytes)`);
      continue;
    }
    const kept = P.normalName(name) ?? 'file';
    if (!P.replaceText(project, kept, sourceText(bytes))) P.addFile(project, kept, sourceText(bytes));
    if ((role === 'cm' || role === 'mm') && !taken.has(role)) {
      project[role] = kept;
      taken.add(role);
    }
    show ||= kept;
    said.push(kept);
  }
  if (show) selectFile(show, false);
  else {
    showFiles();
    store();
  }
  assembleProject();
  say(`opened ${said.join('; ')}`);
}

export async function openChosen(fileList) {
  const opened = [];
  for (const file of fileList) opened.push({ name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) });
  openFiles(opened);
}

// Gives a file to the browser to save, as the exact bytes or text given.
export function download(name, contents) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([contents], { type: 'application/octet-stream' }));
  link.download = name.slice(name.lastIndexOf('/') + 1);
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// ---- Examples and disassembly ----

async function fetchBytes(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url.replace(/^examples\//, '')}: not found (${response.status})`);
  return new Uint8Array(await response.arrayBuffer());
}

// An example opens as a new project; the work before it comes back with Alt+U.
export async function openExample(id) {
  const example = EXAMPLES.find((e) => e.id === id);
  if (!example) {
    say(`there is no example "${id}"`, 'error');
    return;
  }
  const name = (path) => path.replace(/^examples\//, '');
  const files = [];
  for (const path of [example.cm, example.mm, ...(example.includes ?? [])].filter(Boolean))
    files.push({ name: name(path), text: sourceText(await fetchBytes(path)) });
  const cards = example.cards ? await fetchBytes(example.cards) : new Uint8Array(0);
  if (state.project.files.length) pushUndo(`open example ${id}`);
  state.project = P.newProject(files, { cm: name(example.cm), mm: example.mm ? name(example.mm) : '', cards });
  state.breaks.clear();
  selectFile(state.project.cm, false);
  assembleProject();
  say(`opened ${example.id}`);
}

// Turns the loaded control memory into source, in a new file of the project.
export function disassemble() {
  saveEditor();
  const { project } = state;
  const from = project.cm || 'program';
  const name = P.addFile(project, from.replace(/\.[^./]*$/, '') + '.masm',
                         `; disassembled from ${from}\n` + state.machine.disassemble());
  project.cm = name;
  selectFile(name, false);
  assembleProject();
  say(`disassembled into ${name}, a new file; ${from} is kept`);
}

// ---- Keeping the work in the browser ----

export function store() {
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify({
      project: P.toStored(state.project), breaks: [...state.breaks], limit: $('limit').value, counts: $('counts').checked,
      undo: state.undo.slice(-3).map((u) => ({ label: u.label, project: P.toStored(u.project), breaks: u.breaks })),
    }));
  } catch (error) {
    say(`the work could not be kept in this browser: ${error.message}`, 'error');
  }
}

// The kept work, or the two documents an earlier page kept; false if none.
export function restore() {
  try {
    let kept = JSON.parse(localStorage.getItem(STORAGE_KEY) ?? 'null');
    if (!kept) {
      const old = JSON.parse(localStorage.getItem(OLD_STORAGE_KEY) ?? 'null');
      if (!old?.docs?.cm) return false;
      const files = ['cm', 'mm'].filter((k) => old.docs[k]?.text).map((k) => ({ name: String(old.docs[k].name), text: String(old.docs[k].text) }));
      const project = P.newProject(files, { cm: files[0]?.name, mm: files[1]?.name, cards: textToBytes(String(old.cards ?? '')).bytes });
      kept = { ...old, project: P.toStored(project) };
    }
    const project = P.fromStored(kept.project);
    if (!project) return false;
    state.project = project;
    state.undo = (Array.isArray(kept.undo) ? kept.undo : []).map((u) => ({ label: String(u.label), project: P.fromStored(u.project), breaks: u.breaks ?? [] }))
      .filter((u) => u.project);
    $('limit').value = String(kept.limit ?? '');
    $('counts').checked = kept.counts !== false;
    for (const address of kept.breaks ?? []) if (Number.isInteger(address) && address >= 0 && address <= 0xFFF) state.breaks.add(address);
    selectFile(state.project.active, false);
    return true;
  } catch {
    return false;
  }
}

