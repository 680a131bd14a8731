// The live data-path picture: datapath.svg (the manual's picture, whose
// elements name the parts of the data path they draw in data-part) with the
// parts that the last micro-instruction used highlighted, as the machine
// reports them, and the registers and buses showing their values.
import { hex } from './format.mjs';

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

  // `after`: register values now; `used`: the names of the parts the last
  // step used, as the machine reports them (null when the last action was no
  // single step: nothing is highlighted); `fields`: the decoded fields of the
  // last word (by field name); `word`: its hexadecimal text and statement;
  // `digits`: the hex digits shown of each register.
  update(after, used, fields, word, digits) {
    if (!this.svg) return;
    for (const [name, value] of Object.entries(after)) {
      this.#set(`val-${name}`, hex(value, digits[name] ?? 4));
      this.svg.getElementById(`flag-${name}`)?.classList.toggle('set', value !== 0);
    }
    for (const [name, value] of Object.entries(fields))
      this.#set(`fv-${name}`, value.toString(16).toUpperCase());
    this.#set('mir-word', word.hex ? `word ${word.hex}` : '');
    const statement = word.text.length > 34 ? word.text.lastIndexOf(' ', 34) : -1;
    this.#set('mir-text1', statement > 0 ? word.text.slice(0, statement) : word.text);
    this.#set('mir-text2', statement > 0 ? word.text.slice(statement + 1) : '');

    for (const element of this.svg.querySelectorAll('.on')) element.classList.remove('on');
    for (const part of used ?? [])
      for (const element of this.partElements(part)) element.classList.add('on');
  }

  // The elements that draw a part of the data path.
  partElements(part) {
    return [...this.svg.querySelectorAll('[data-part]')].filter((e) => e.dataset.part.split(' ').includes(part));
  }
}
