// The source editor: a plain textarea over a highlighted copy of its text,
// with a gutter of line numbers that marks the lines with errors, warnings
// and notes.
import { escapeHtml as escape } from './format.mjs';
import { SEVERITIES } from './messages.mjs';

// One line of micro-assembly or data source, as HTML: comment, label,
// directive, clauses (KEY=VALUE), words of the sequence clause, numbers and
// strings each in their own colour.
function highlightLine(line) {
  let code = line, comment = '';
  let inString = null;
  for (let i = 0; i < line.length; i++) {
    const c = line[i];
    if (inString) {
      if (c === '\\') i++;
      else if (c === inString) inString = null;
    } else if (c === '"' || c === "'") inString = c;
    else if (c === ';') { code = line.slice(0, i); comment = line.slice(i); break; }
  }
  const html = code.replace(/("(?:[^"\\]|\\.)*"?|'(?:[^'\\]|\\.)*'?)|^(\s*[A-Za-z_.$][\w.$]*:)|(\.[A-Za-z]+\b)|\b([A-Za-z]+)=([^\s]*)|\b(0x[0-9A-Fa-f]+|\d+)\b|([^"'.\w]+|[\w.$]+)/g,
    (all, string, label, directive, key, value, number, other) => {
      if (string) return `<span class="t-string">${escape(string)}</span>`;
      if (label) return `<span class="t-label">${escape(label)}</span>`;
      if (directive) return `<span class="t-directive">${escape(directive)}</span>`;
      if (key) return `<span class="t-key">${escape(key)}=</span><span class="t-value">${escape(value)}</span>`;
      if (number) return `<span class="t-number">${escape(number)}</span>`;
      return escape(other ?? all);
    });
  return html + (comment ? `<span class="t-comment">${escape(comment)}</span>` : '');
}

// The most severe of a line's messages: 'error', 'warning' or 'note'.
const worst = (messages) => SEVERITIES.find((level) => messages.some((m) => m.severity === level)) ?? 'error';

export class Editor {
  // `onKey(event)` decides what Tab does: 'indent' (eight spaces) or
  // 'leave' (the focus goes on, as everywhere else).
  constructor(root, onChange, onKey = () => 'indent') {
    this.root = root;
    root.classList.add('editor');
    root.innerHTML = '<div class="gutter" aria-hidden="true"></div>' +
      '<div class="code"><pre class="paint" aria-hidden="true"></pre>' +
      '<textarea spellcheck="false" autocomplete="off" wrap="off" aria-label="source"></textarea></div>';
    this.gutter = root.querySelector('.gutter');
    this.paint = root.querySelector('.paint');
    this.area = root.querySelector('textarea');
    this.errors = new Map();   // line (from 1) -> messages: { severity, text }
    this.area.addEventListener('input', () => { this.render(); onChange?.(); });
    this.area.addEventListener('scroll', () => this.syncScroll());
    this.area.addEventListener('keydown', (event) => {
      if (onKey(event) === 'indent') {
        event.preventDefault();
        document.execCommand('insertText', false, '        ');
      }
    });
    this.render();
  }

  get text() { return this.area.value; }
  set text(value) { this.area.value = value; this.errors.clear(); this.render(); this.area.scrollTop = 0; }

  setErrors(errors) { this.errors = errors; this.render(); }

  render() {
    const lines = this.area.value.split('\n');
    this.paint.innerHTML = lines.map((line, i) => {
      const html = highlightLine(line) || ' ';
      const marked = this.errors.get(i + 1);
      return marked ? `<span class="${worst(marked)}-line">${html}</span>` : html;
    }).join('\n') + '\n';
    this.gutter.innerHTML = lines.map((_, i) => {
      const marked = this.errors.get(i + 1);
      return marked ? `<div class="${worst(marked)}" title="${escape(marked.map((m) => m.text).join('\n'))}">${i + 1}</div>` : `<div>${i + 1}</div>`;
    }).join('');
    this.syncScroll();
  }

  syncScroll() {
    this.paint.style.transform = `translate(${-this.area.scrollLeft}px, ${-this.area.scrollTop}px)`;
    this.gutter.scrollTop = this.area.scrollTop;
  }

  // Puts the caret at the start of `line` and scrolls to it.
  goToLine(line) {
    const lines = this.area.value.split('\n');
    const at = lines.slice(0, line - 1).reduce((sum, l) => sum + l.length + 1, 0);
    this.area.focus();
    this.area.setSelectionRange(at, at);
    const lineHeight = parseFloat(getComputedStyle(this.area).lineHeight) || 16;
    this.area.scrollTop = Math.max(0, (line - 5) * lineHeight);
    this.syncScroll();
  }
}
