// The project: the files a student works on, kept in the browser. Sources
// (.masm, .mdat and the files they include), load files (.cm, .mm) and the
// card deck. One file goes into control memory and one into main memory
// (`cm`, `mm`: file names, or '' for none); `active` is the file in the
// editor. Every file keeps its last replaced texts (`versions`), so that no
// action loses a text for good. Plain data, no page: the tests run it in node.
import { bytesToBase64, base64ToBytes } from './bytes.mjs';

export const VERSIONS_KEPT = 10;
export const NAME_LIMIT = 200;

export const isLoadFile = (name) => /\.(cm|mm)$/i.test(name);

export function newProject(files = [], { cm = '', mm = '', cards = new Uint8Array(0) } = {}) {
  const project = { files: [], cm: '', mm: '', active: '', cards };
  for (const { name, text } of files) addFile(project, name, text);
  project.cm = cm && fileOf(project, cm) ? normalName(cm) : '';
  project.mm = mm && fileOf(project, mm) ? normalName(mm) : '';
  project.active = firstShown(project);
  return project;
}

// The file the editor shows when none is chosen: the CM file, else the MM
// file, else the first.
const firstShown = (project) => project.cm || project.mm || project.files[0]?.name || '';

// A file name as the project keeps it: '/' between folders, no leading '/',
// no '.' folders; null for a name that leaves the project or says nothing.
export function normalName(name) {
  const parts = [];
  for (const part of String(name).trim().replace(/\\/g, '/').split('/')) {
    if (part === '' || part === '.') continue;
    if (part === '..') {
      if (!parts.length) return null;
      parts.pop();
    } else parts.push(part);
  }
  const joined = parts.join('/');
  return joined && joined.length <= NAME_LIMIT ? joined : null;
}

export const fileOf = (project, name) => project.files.find((f) => f.name === normalName(name));

// `wanted`, or with -2, -3, ... before its extension when that name is taken.
export function freeName(project, wanted) {
  const name = normalName(wanted) ?? 'file';
  if (!fileOf(project, name)) return name;
  const dot = name.lastIndexOf('.');
  const [stem, ext] = dot > name.lastIndexOf('/') + 1 ? [name.slice(0, dot), name.slice(dot)] : [name, ''];
  for (let n = 2; ; n++) if (!fileOf(project, `${stem}-${n}${ext}`)) return `${stem}-${n}${ext}`;
}

// Adds a file under a free name near `name`; returns the name given.
export function addFile(project, name, text = '') {
  const given = freeName(project, name);
  project.files.push({ name: given, text: String(text), versions: [] });
  return given;
}

// Replaces a file's text by an action (not by typing): the text it had is
// kept among its versions. Returns false when there is no such file.
export function replaceText(project, name, text) {
  const file = fileOf(project, name);
  if (!file) return false;
  if (file.text !== text) {
    file.versions.push(file.text);
    if (file.versions.length > VERSIONS_KEPT) file.versions.shift();
    file.text = text;
  }
  return true;
}

// Renames a file, and the CM/MM/editor choices with it; returns '' or why not.
export function renameFile(project, from, to) {
  const file = fileOf(project, from);
  const name = normalName(to);
  if (!file) return `there is no file ${from}`;
  if (name === null) return `"${to}" is no file name in the project`;
  if (name === file.name) return '';
  if (fileOf(project, name)) return `the project has a file ${name} already`;
  for (const role of ['cm', 'mm', 'active']) if (project[role] === file.name) project[role] = name;
  file.name = name;
  return '';
}

export function removeFile(project, name) {
  const file = fileOf(project, name);
  if (!file) return false;
  project.files.splice(project.files.indexOf(file), 1);
  for (const role of ['cm', 'mm']) if (project[role] === file.name) project[role] = '';
  if (project.active === file.name) project.active = firstShown(project);
  return true;
}

// A copy that shares nothing with the project: for the undo of actions.
export function copyProject(project) {
  return { ...project, cards: project.cards.slice(),
           files: project.files.map((f) => ({ name: f.name, text: f.text, versions: [...f.versions] })) };
}

// As kept in the browser's storage (JSON), and back; `fromStored` gives null
// for anything that is not a kept project.
export function toStored(project) {
  return { files: project.files.map(({ name, text, versions }) => ({ name, text, versions })),
           cm: project.cm, mm: project.mm, active: project.active, cards: bytesToBase64(project.cards) };
}

export function fromStored(kept) {
  if (!kept || !Array.isArray(kept.files)) return null;
  const project = newProject();
  for (const f of kept.files) {
    if (typeof f?.name !== 'string' || typeof f.text !== 'string' || normalName(f.name) === null) continue;
    const name = addFile(project, f.name, f.text);
    if (Array.isArray(f.versions))
      fileOf(project, name).versions = f.versions.filter((v) => typeof v === 'string').slice(-VERSIONS_KEPT);
  }
  for (const role of ['cm', 'mm', 'active'])
    project[role] = typeof kept[role] === 'string' && fileOf(project, kept[role]) ? normalName(kept[role]) : '';
  if (!project.active) project.active = firstShown(project);
  try {
    project.cards = typeof kept.cards === 'string' ? base64ToBytes(kept.cards) : new Uint8Array(0);
  } catch {
    project.cards = new Uint8Array(0);
  }
  return project;
}

// The file a dropped or opened file of this name goes to: a load file or
// source of control memory (.cm, .masm) or main memory (.mm, .mdat), the
// card deck (.crd, KALV.CRD), or just a file (an include).
export function roleOf(name) {
  const lower = name.toLowerCase();
  if (/\.(cm|masm)$/.test(lower)) return 'cm';
  if (/\.(mm|mdat)$/.test(lower)) return 'mm';
  if (/\.crd$/.test(lower)) return 'cards';
  return 'file';
}
