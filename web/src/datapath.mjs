// The live data-path picture: datapath.svg (the manual's picture with ids on
// its parts) with the paths that the last micro-instruction used highlighted
// and the registers and buses showing their values.

const hex = (value, digits) => value.toString(16).toUpperCase().padStart(digits, '0');

export class DataPath {
  constructor(root) {
    this.root = root;
  }

  async load(url) {
    const response = await fetch(url);
    this.root.innerHTML = await response.text();
    this.svg = this.root.querySelector('svg');
    this.svg.removeAttribute('width');
    this.svg.removeAttribute('height');
  }

  #set(id, text) {
    const element = this.svg.getElementById(id);
    if (element) element.textContent = text;
  }

  // `after`: register values now; `before`: the values before the last step
  // (null when the last action was no single step: nothing is highlighted);
  // `fields`: the decoded fields of the last word (by field name);
  // `word`: its hexadecimal text and statement.
  update(after, before, fields, word) {
    if (!this.svg) return;
    for (const r of ['R0', 'R1', 'R2', 'R3', 'R4', 'R5', 'R6', 'R7', 'PC', 'IR', 'LBUS', 'RBUS', 'ABUS', 'SBUS', 'IOBUS'])
      this.#set(`val-${r}`, hex(after[r], 4));
    this.#set('val-FSR', hex(after.FSR, 1));
    this.#set('val-C', hex(after.C, 2));
    this.#set('val-MAR', hex(after.MAR, 4));
    this.#set('val-CMAR', hex(after.CMAR, 3));
    for (const flag of ['ZER', 'NEG', 'CRY', 'OVR', 'CZ', 'T'])
      this.svg.getElementById(`flag-${flag}`)?.classList.toggle('set', after[flag] !== 0);
    for (const [name, value] of Object.entries(fields))
      this.#set(`fv-${name}`, value.toString(16).toUpperCase());
    this.#set('mir-word', word.hex ? `word ${word.hex}` : '');
    const statement = word.text.length > 34 ? word.text.lastIndexOf(' ', 34) : -1;
    this.#set('mir-text1', statement > 0 ? word.text.slice(0, statement) : word.text);
    this.#set('mir-text2', statement > 0 ? word.text.slice(statement + 1) : '');

    for (const element of this.svg.querySelectorAll('.on')) element.classList.remove('on');
    if (!before) return;
    for (const id of usedParts(before, after, fields)) this.svg.getElementById(id)?.classList.add('on');
  }
}

// The ids of the parts of the picture that one micro-cycle used, from its
// fields and the machine before and after it.
export function usedParts(before, after, f) {
  const on = ['box-CMAR', 'box-CM', 'box-MIR', 'box-SEQ', 'w-seq', 'w-next'];
  // IR selects registers: the bus sources by the IR before the cycle, the
  // destination by the IR after a load in the same cycle (EXF 4).
  const irY = (before.IR >> 8) & 3, irX = (before.IR >> 10) & 3;
  const irStore = f.EXF === 4 ? after.IR : before.IR;
  const storeX = (irStore >> 10) & 3, storeY = (irStore >> 8) & 3;

  const left = f.LBF <= 7 ? f.LBF : f.LBF === 8 ? irY : f.LBF === 9 ? (irY + 1) % 4 : -1;
  if (left >= 0) on.push(`box-R${left}`, 'w-reg-l');
  const leftOthers = { 10: ['box-PC', 'w-pc-l'], 11: ['bus-IOBUS', 'w-io-l'], 12: ['box-MM', 'w-mm-read'],
                       13: ['box-IR', 'w-ir-l'], 14: ['box-FSR', 'w-fsr-l'] };
  on.push(...(leftOthers[f.LBF] ?? []));
  if (f.LBF !== 15) on.push('bus-LBUS');

  const right = f.RBF <= 7 ? f.RBF : f.RBF === 8 ? irX : f.RBF === 9 ? (irX + 1) % 4 : -1;
  if (right >= 0) on.push(`box-R${right}`, 'w-reg-r');
  if (f.RBF === 10 || f.RBF === 11) on.push('box-CONST', 'w-const');
  if (f.RBF !== 15) on.push('bus-RBUS');

  const destinations = [0, 1, 2, 3, 4, 5, 6, 7, storeX, (storeX + 1) % 4, storeY, (storeY + 1) % 4];
  if (f.SBF <= 11) on.push(`box-R${destinations[f.SBF]}`, `w-to-R${destinations[f.SBF]}`);
  if (f.SBF === 12) on.push('box-PC', 'w-to-PC');
  const stores = f.SBF <= 12;
  // ALF 0..5 set flags; 7 is the quiet OR. The ALU and shifter feed SBUS.
  if (stores || f.ALF <= 5 || f.LBF !== 15 || f.RBF !== 15) on.push('box-ALU', 'bus-ABUS', 'box-SHIFTER');
  if (f.ALF <= 5) on.push('w-flags', 'box-FLAGS');
  if (f.SHF === 2) on.push('w-shift-flags', 'box-FLAGS');
  if (stores) on.push('bus-SBUS');

  if (f.MMF <= 1) on.push('w-mar', 'box-MAR');
  if (before.MEMCYCLE === 2) on.push('w-mm-write', 'box-MM');
  if (before.IOCYCLE === 1) on.push('w-reader', 'box-READER', 'bus-IOBUS');
  if (before.IOCYCLE === 2) on.push('w-printer', 'box-PRINTER', 'bus-IOBUS');

  const extra = { 0: ['box-C'], 1: ['w-fsr-save', 'box-FSR', 'box-FLAGS'], 4: ['w-ir-load', 'box-IR'],
                  5: ['w-io-out', 'bus-IOBUS'], 6: ['w-c-load', 'box-C'], 7: ['box-IOSTART'],
                  8: ['box-FLAGS'], 9: ['box-FLAGS'], 10: ['box-IR'], 11: ['box-IR'], 12: ['box-IR'] };
  on.push(...(extra[f.EXF] ?? []));

  if (f.SQF === 1 || f.SQF === 2) on.push('box-STACK');
  if (f.SQF === 3 || f.SQF === 4 || f.SQF === 8) on.push('w-tests');
  if (f.SQF >= 5 && f.SQF <= 7) on.push('w-dispatch');
  return [...new Set(on)];
}
