// The page's messages are the assembler's and the machine's records: the
// same errors and warnings as kalvo3-asm, at their lines, for the same
// source; load errors at the load file's line; a run's error with the
// machine's own message.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { openWorkbench, status, waitIdle } from './browser.mjs';

const DATA = new URL('../../tests/asm/data/', import.meta.url).pathname;

let w, page;
before(async () => { w = await openWorkbench(); page = w.page; });
after(async () => { await w?.close(); });

async function typeDocument(tab, name, text) {
  await page.click(`#tab-${tab}`);
  await page.evaluate((name, text) => {
    const field = document.querySelector('#doc-name');
    field.value = name;
    field.dispatchEvent(new Event('change'));
    const area = document.querySelector('#editor textarea');
    area.value = text;
    area.dispatchEvent(new Event('input'));
  }, name, text);
}

const shown = () => page.$$eval('#messages li', (items) => items.map((i) => ({ severity: i.className, text: i.textContent })));
// The gutter's marked lines by severity.
const gutter = () => page.$$eval('#editor .gutter div[class]', (lines) => lines.map((l) => ({ severity: l.className, line: Number(l.textContent), title: l.title })));

test('the messages of a source are kalvo3-asm\'s, each at its line with its severity', async () => {
  // timing_warnings.messages is what kalvo3-asm prints for this source (a test
  // of the assembler holds it to that).
  const source = fs.readFileSync(`${DATA}timing_warnings.masm`, 'latin1');
  // The page lists them in line order.
  const line = (message) => Number(message.split(':')[1]);
  const expected = fs.readFileSync(`${DATA}timing_warnings.messages`, 'latin1').trimEnd().split('\n')
    .sort((a, b) => line(a) - line(b));
  await typeDocument('mm', 'none.mdat', '');
  await typeDocument('cm', 'timing_warnings.masm', source);
  await page.click('#assemble');

  const messages = await shown();
  assert.deepEqual(messages.map((m) => m.text), expected);
  const cases = [   // line, severity, a piece of the message
    [4, 'warning', 'L=MEM without MEM=READ in the micro-instruction before it (line 3)'],
    [6, 'warning', 'L=MEM in the data cycle of the MEM=WRITE of line 5'],
    [8, 'warning', 'MEM=READ while the word of the MEM=READ of line 7 is not taken'],
    [10, 'error', "unknown left bus source 'R9'"],
  ];
  assert.deepEqual(messages.map((m) => m.severity), cases.map(([, severity]) => severity));
  const marked = await gutter();
  assert.deepEqual(marked.map((m) => [m.line, m.severity]).sort((a, b) => a[0] - b[0]),
                   cases.map(([line, severity]) => [line, severity]).sort((a, b) => a[0] - b[0]));
  for (const [line, severity, piece] of cases) {
    const mark = marked.find((m) => m.line === line);
    assert.ok(mark.title.startsWith(`${severity}: `) && mark.title.includes(piece), `line ${line}: ${mark.title}`);
  }
  assert.match(await status(page), /^1 error: nothing is loaded/);

  // Without the error the warnings stay, and the program loads and runs
  // into the error they foretell, named with the machine's message.
  await typeDocument('cm', 'timing_warnings.masm', source.replace(/^\s+L=R9 .*\n/m, ''));
  await page.click('#assemble');
  assert.deepEqual((await shown()).map((m) => m.severity), ['warning', 'warning', 'warning']);
  assert.match(await status(page), /^assembled and loaded/);
  await page.click('#run');
  await waitIdle(page);
  assert.equal(await status(page), 'error 18 after 2 steps; CMAR 002: MEMORY CYCLE IS NOT READY TO READ');
  assert.deepEqual(w.problems, []);
});

test('load errors are shown at the load file\'s line', async () => {
  const cases = [   // file, text, message, severity: a bad header loads nothing, an address beyond is skipped
    ['bad.cm', 'XX\n000  0000000000\n', 'bad.cm:1: ERROR 5: INVALID LOAD FILE FOMAT !', 'error'],
    ['far.cm', 'CM\n000  FFFFF01A00\n\n1000  FFFFFFFFFF\n', 'far.cm:4: ERROR 4: OUT OF CM ADDRESS LIMIT (0-FFF) !', 'warning'],
    ['far.mm', 'MM\n10000  0001\n20000  0001\n', 'far.mm:2: ERROR 3: OUT OF MM ADDRESS LIMIT (0-FFFF) !', 'warning'],
  ];
  for (const [name, text, message, severity] of cases) {
    const kind = name.slice(-2);
    await typeDocument(kind === 'cm' ? 'mm' : 'cm', kind === 'cm' ? 'none.mdat' : 'none.masm', '');
    await typeDocument(kind, name, text);
    await page.click('#assemble');
    assert.deepEqual(await shown(), [{ severity, text: message }], name);
    const line = Number(message.split(':')[1]);
    assert.deepEqual((await gutter()).map((m) => [m.line, m.severity]), [[line, severity]], name);
  }
  assert.deepEqual(w.problems, []);
});
