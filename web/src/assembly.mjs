// Assembling and loading the project: the CM file and the MM file go into a
// fresh machine; every project file is in the module's file system, so that
// a source's .INCLUDE finds its neighbours by the names the project gives
// them.
import { state, $, say, CM_LIMIT } from './state.mjs';
import { fileOf, isLoadFile } from './project.mjs';
import { PROJECT_ROOT, inLineOrder, messageText, projectName, withoutRoot } from './messages.mjs';
import { buildListing, refresh } from './view.mjs';

// Writes the project's files to the module's file system, anew.
function writeProject() {
  const { machine, project } = state;
  machine.removeTree(PROJECT_ROOT.slice(0, -1));
  for (const file of project.files) machine.writeFile(PROJECT_ROOT + file.name, file.text);
}

function mark(file, line, severity, text) {
  if (!state.marks.has(file)) state.marks.set(file, new Map());
  const lines = state.marks.get(file);
  lines.set(line, [...(lines.get(line) ?? []), { severity, text }]);
}

// Assembles or loads one of the project's CM and MM files; returns its
// error count, and adds its messages ({ file, line, text, severity }).
function loadDocument(kind, messages) {
  const { machine, project } = state;
  const doc = fileOf(project, project[kind]);
  if (!doc || !doc.text.trim()) return 0;
  if (isLoadFile(doc.name)) {
    const loaded = machine.loadText(doc.text);
    const failed = machine.lastError();
    machine.consoleClear();   // said here instead
    const expected = kind === 'cm' ? 1 : 2;
    const report = (severity, line, text) => {
      messages.push({ file: doc.name, line, text: `${doc.name}:${line}: ${text}`, severity });
      mark(doc.name, line, severity, text);
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
        state.sourceLines.set(address, line.slice(5).trim().replace(/^\S+\s*/, ''));
      }
    }
    return 0;
  }
  const path = PROJECT_ROOT + doc.name;
  const result = machine.assemble(path, doc.text, kind === 'mm');
  for (const record of inLineOrder(result.records, path)) {
    const file = projectName(record.file);
    messages.push({ file, line: record.line, text: messageText(record), severity: record.severity });
    if (record.line) mark(file, record.line, record.severity, `${record.severity}: ${withoutRoot(record.message)}`);
  }
  if (result.errors) return result.errors;
  const labels = kind === 'cm' ? state.labels : state.dataLabels;
  for (const entry of result.labels.trim().split('\n').filter((line) => line && !line.startsWith(';'))) {
    const [name, address] = entry.split(' ');
    if (!labels.has(parseInt(address, 16))) labels.set(parseInt(address, 16), name);
  }
  machine.loadText(result.loadFile);
  if (kind === 'cm') {
    const sourceText = doc.text.split('\n');
    for (let a = 0; a <= CM_LIMIT; a++) {
      const line = machine.assemblyLine(a);
      if (line) state.sourceLines.set(a, sourceText[line - 1].trim());
    }
  }
  return 0;
}

// `open(file, line)` shows a message's place in the editor.
export function assemble(open) {
  if (state.running) return 0;
  const { machine } = state;
  machine.powerOn();
  writeProject();
  state.labels = new Map();
  state.dataLabels = new Map();
  state.sourceLines = new Map();
  state.marks = new Map();
  const messages = [];
  let errors = loadDocument('cm', messages);
  errors += loadDocument('mm', messages);
  machine.cardsSet(state.project.cards);
  for (const address of state.breaks) machine.breakSet(address);
  machine.consoleClear();
  state.totalSteps = 0;
  state.history.length = 0;
  state.before = state.marksFrom = null;
  state.assembly = { errors, done: true };
  $('console').textContent = '';
  state.editor.setErrors(state.marks.get(state.project.active) ?? new Map());
  const list = $('messages');
  list.innerHTML = '';
  for (const message of messages) {
    const item = document.createElement('li');
    item.textContent = message.text;
    item.className = message.severity;
    item.tabIndex = 0;
    if (message.line) {
      const go = () => open(message.file, message.line);
      item.addEventListener('click', go);
      item.addEventListener('keydown', (event) => { if (event.key === 'Enter') go(); });
    }
    list.append(item);
  }
  buildListing();
  refresh();
  if (errors) say(`${errors} error${errors > 1 ? 's' : ''}: nothing is loaded where there are errors; Run and Step wait for an assembly without errors`, 'error');
  else say(`assembled and loaded: ${$('listing').rows.length} CM words listed, ${state.labels.size} labels`);
  return errors;
}
