// What the page shows of the machine: registers, the word at CMAR, main
// memory, the listing of control memory, the devices and the picture.
import { state, $, CM_LIMIT } from './state.mjs';
import { hex, escapeHtml, shownChar } from './format.mjs';
import { bytesToText } from './bytes.mjs';
import { FIND } from './machine.mjs';

const digitsOf = (name) => state.digits[name] ?? 4;

export function readRegisters() {
  const values = {};
  for (const name of state.machine.registerNames) values[name] = state.machine.get(name);
  return values;
}

// The console's messages, each with the step it came at; at an earlier
// step of the history those said after it are shown as not said yet.
export function logConsole(text) {
  if (!text) return;
  const log = $('console');
  const said = document.createElement('span');
  said.dataset.step = String(state.totalSteps);
  said.textContent = `[step ${state.totalSteps}]${text.startsWith('\n') ? '' : ' '}${text.replace(/\n+$/, '')}\n`;
  log.append(said);
  log.scrollTop = log.scrollHeight;
}

function showConsoleAt(step) {
  for (const said of $('console').children) said.classList.toggle('later', Number(said.dataset.step) > step);
}

// A control-memory word as the page names it: its address and its label.
export function wordName(address) {
  const { labels } = state;
  return `${hex(address, 3)}${labels.has(address) ? ' (' + labels.get(address) + ')' : ''}`;
}

// A main-memory word as the page names it: its address and its label.
export function memoryName(address) {
  const label = state.dataLabels.get(address);
  return `MM ${hex(address, 4)}${label ? ' (' + label + ')' : ''}`;
}

// The control of a register or memory word that goes back to where it last
// changed (timeline.mjs asks the question for the item it is in).
const askControl = (name) => {
  const text = escapeHtml(`back to where ${name} last changed`);
  return `<button type="button" class="ask" title="${text}" aria-label="${text}"${state.running ? ' disabled' : ''}>↶</button>`;
};

// Marks the register or memory word that Back to change asks about: its
// control stays shown.
export function markAsked() {
  const { asked } = state;
  for (const item of document.querySelectorAll('#machine-panel .item')) {
    const input = item.querySelector('input');
    const mine = asked !== null && (asked.kind === FIND.REGISTER ? input.dataset.register === asked.name
      : input.dataset.mm !== undefined && Number(input.dataset.mm) === asked.what);
    item.classList.toggle('asked', mine);
  }
}

// The control of the item `asked` is about, if the page shows it.
export function askControlOf(asked) {
  const input = asked.kind === FIND.REGISTER ? document.querySelector(`input[data-register="${asked.name}"]`)
    : $('memory').querySelector(`input[data-mm="${asked.what}"]`);
  return input?.closest('.item')?.querySelector('button.ask') ?? null;
}

export function takeConsole() {
  const text = state.machine.consoleText();
  state.machine.consoleClear();
  logConsole(text);
}

// One panel per group that the machine reports, in its order; a group the
// page has no place for gets a panel of its own at the end. Each register
// the machine answers questions about has its own Back to change control.
export function buildRegisters(onChange) {
  const { machine } = state;
  state.digits = Object.fromEntries(machine.registers.map((r) => [r.name, Math.ceil(r.width / 4)]));
  for (const box of document.querySelectorAll('.regs')) box.innerHTML = '';
  for (const { name, group, writable, askable } of machine.registers) {
    let box = $(`reg-${group}`);
    if (!box) {
      const title = document.createElement('h2');
      title.textContent = group;
      box = document.createElement('div');
      box.id = `reg-${group}`;
      box.className = 'regs';
      $('reg-stack').parentElement.append(title, box);
    }
    const item = document.createElement('span');
    item.className = 'item';
    item.innerHTML = `<label><span>${name}</span><input data-register="${name}" size="${Math.max(digitsOf(name), 3)}" spellcheck="false"${writable ? '' : ' readonly'}></label>` +
                     (askable ? askControl(name) : '');
    box.append(item);
  }
  for (const input of document.querySelectorAll('input[data-register]:not([readonly])'))
    input.addEventListener('change', () => onChange(input));
}

function showRegisters(values) {
  for (const input of document.querySelectorAll('input[data-register]')) {
    const name = input.dataset.register;
    if (document.activeElement !== input) input.value = hex(values[name], digitsOf(name));
    input.classList.toggle('changed', state.marksFrom !== null && state.marksFrom[name] !== values[name]);
  }
}

// A control-memory word in hexadecimal, its 40 bits in 10 digits.
export const wordHex = (address) => hex(state.machine.cmHigh(address), 2) + hex(state.machine.cmLow(address), 8);

// A word's statement with its jump target named by the program's label.
export function statement(address) {
  return state.machine.wordText(address).replace(/(JUMP|CALL|ELSE|DISPATCH \w+) (?:L_|0x)([0-9A-F]{3})$/, (all, verb, target) => {
    const label = state.labels.get(parseInt(target, 16));
    return label ? `${verb} ${label}` : `${verb} 0x${target}`;
  });
}

function showWordAt(values) {
  const { machine, labels } = state;
  const cmar = values.CMAR;
  const inside = cmar <= CM_LIMIT;
  $('next-word').textContent = inside
    ? `${hex(cmar, 3)}${labels.has(cmar) ? ' ' + labels.get(cmar) : ''}: ${wordHex(cmar)}  ${statement(cmar)}`
    : `CMAR ${hex(cmar, 3)} is beyond control memory`;
  const rows = machine.fields.map((f, i) => {
    const code = inside ? machine.cmField(cmar, i) : 0;
    const name = f.mnemonics[code] ?? '';
    return `<tr><th>${f.name}</th><td>${hex(code, Math.ceil(f.width / 4))}</td><td>${name}</td>` +
           `<td class="bits">${f.lowBit + f.width - 1}..${f.lowBit}</td></tr>`;
  });
  $('fields').innerHTML = rows.join('');
}

// Eight rows of eight words around MAR (or the address typed), each row
// with its words as characters (high byte, then low byte) and each word
// that the MM source labelled under its label; each word with its Back to
// change control.
function showMemory(values) {
  const { machine, dataLabels } = state;
  const follow = $('mm-follow').checked;
  const centre = follow ? values.MAR & 0xFFFF : parseInt($('mm-address').value, 16) || 0;
  if (follow) $('mm-address').value = hex(centre, 4);
  const first = Math.max(0, Math.min(0xFFFF - 63, (centre & ~7) - 16));
  const rows = [];
  for (let row = first; row < first + 64; row += 8) {
    let cells = `<th>${hex(row, 4)}</th>`, chars = '';
    const names = [];
    for (let a = row; a < row + 8; a++) {
      const word = machine.mmGet(a);
      const label = dataLabels.get(a);
      if (label) names.push(`${hex(a, 4)} ${label}`);
      cells += `<td class="item"><input data-mm="${a}" value="${hex(word, 4)}" size="4" spellcheck="false"` +
               `${label ? ` title="${escapeHtml(label)}"` : ''}` +
               `${a === (values.MAR & 0xFFFF) ? ' class="mar"' : ''}${label ? ' data-label=""' : ''}>${askControl(memoryName(a))}</td>`;
      chars += shownChar(word >> 8) + shownChar(word & 0xFF);
    }
    cells += `<td class="chars">${escapeHtml(chars)}</td><td class="mm-labels">${escapeHtml(names.map((n) => n.slice(5)).join(' '))}</td>`;
    rows.push(`<tr>${cells}</tr>`);
  }
  $('memory').innerHTML = rows.join('');
}

export function showDevices() {
  const printed = state.machine.printerBytes();
  $('printer').textContent = printed.length > 65536 ? '…' + bytesToText(printed.subarray(-65536)) : bytesToText(printed);
  $('printer').scrollTop = $('printer').scrollHeight;
  $('cards-position').textContent = `read ${state.machine.cardsPosition()} of ${state.project.cards.length} bytes`;
}

function showListing(values) {
  const current = values.CMAR;
  for (const row of $('listing').rows) {
    const address = Number(row.dataset.address);
    row.classList.toggle('current', address === current);
    row.classList.toggle('break', state.breaks.has(address));
    const count = state.machine.profile(address);
    row.cells[5].textContent = count ? String(count) : '';
  }
  const row = $('listing').querySelector('tr.current');
  if (row) {
    const box = $('listing-box');
    if (row.offsetTop < box.scrollTop + 20 || row.offsetTop > box.scrollTop + box.clientHeight - 40)
      box.scrollTop = row.offsetTop - box.clientHeight / 3;
  }
}

export function refresh() {
  const { machine, before } = state;
  const values = readRegisters();
  showRegisters(values);
  showWordAt(values);
  showMemory(values);
  markAsked();
  showDevices();
  showListing(values);
  const fields = {};
  for (const f of machine.fields) fields[f.name] = values[f.name];
  const word = { hex: '', text: '' };
  if (before && before.CMAR <= CM_LIMIT) {
    word.hex = wordHex(before.CMAR);
    word.text = `${hex(before.CMAR, 3)}: ${statement(before.CMAR)}`;
  }
  state.datapath.update(values, before ? machine.stepParts(before) : null, fields, word, state.digits);
  $('steps').textContent = String(state.totalSteps);
  showConsoleAt(state.totalSteps);
  const at = machine.position(), end = machine.historyEnd();
  $('back').disabled = state.running || (at === 0 && state.history.length === 0);
  showTimeline(at, end);
}

// The timeline: the present step of the history and its end.
export function showTimeline(at, end) {
  const bar = $('timeline');
  bar.max = String(end);
  bar.value = String(at);
  if (document.activeElement !== $('at-step')) $('at-step').value = String(at);
  $('timeline-end').textContent = `of ${end}`;
}

// The listing: one row per word up to the last one in use. Rows take focus
// one at a time (↑ ↓ move it), so Tab goes past the listing in one press.
export function buildListing() {
  const { machine, labels, sourceLines } = state;
  let last = -1;
  for (let a = CM_LIMIT; a >= 0; a--)
    if (machine.cmHigh(a) || machine.cmLow(a)) { last = a; break; }
  for (const a of labels.keys()) last = Math.max(last, a);
  const rows = Array.from({ length: last + 1 }, (_, a) => {
    const label = labels.get(a) ?? '';
    const source = sourceLines.get(a) ?? '';
    const focus = a === 0 ? '0' : '-1';
    // A zero word that nothing placed is a gap in the microprogram.
    if (!label && !source && !machine.cmHigh(a) && !machine.cmLow(a))
      return `<tr data-address="${a}" class="gap" tabindex="${focus}"><td class="bp">●</td><td>${hex(a, 3)}</td><td></td>` +
             `<td class="word" title="click: change the word">0000000000</td><td></td><td class="count"></td><td></td></tr>`;
    return `<tr data-address="${a}" tabindex="${focus}"><td class="bp" title="click: break point">●</td><td>${hex(a, 3)}</td>` +
           `<td class="label">${escapeHtml(label)}</td><td class="word" title="click: change the word">${wordHex(a)}</td>` +
           `<td class="stmt">${escapeHtml(statement(a))}</td><td class="count"></td>` +
           `<td class="src">${escapeHtml(source)}</td></tr>`;
  });
  $('listing').innerHTML = rows.join('');
}

// Moves the listing's focus by `by` rows from `row`.
export function moveListingFocus(row, by) {
  const rows = $('listing').rows;
  const next = rows[Math.max(0, Math.min(rows.length - 1, row.sectionRowIndex + by))];
  if (!next || next === row) return;
  row.tabIndex = -1;
  next.tabIndex = 0;
  next.focus();
}
