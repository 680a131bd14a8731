// The workbench as a student lives in it: a project of files opened by the
// picker, includes found among them, nothing replaced without a way back,
// the deck and the printer as exact bytes, Run refused after a failed
// assembly, keys for every action, Step back showing each step as it was
// shown, the layout on a laptop and a phone, and the site as served.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openWorkbench, status, printer, register, steps, run, reload, press, typeDocument, waitIdle, openExample, exampleFile,
         ARTEFACTS } from './browser.mjs';

const DATA = new URL('./data/', import.meta.url).pathname;
let w, page;
before(async () => { w = await openWorkbench(); page = w.page; });
after(async () => { await w?.close(); });

const shown = () => page.$$eval('#messages li', (items) => items.map((i) => ({ severity: i.className, text: i.textContent })));
const files = () => page.$$eval('#files option', (options) => options.map((o) => o.value));
const editorText = () => page.$eval('#editor textarea', (e) => e.value);

// Opens files through the page's own file picker.
async function pick(named) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kalvo3-pick-'));
  const paths = Object.entries(named).map(([name, contents]) => {
    fs.writeFileSync(path.join(dir, name), contents);
    return path.join(dir, name);
  });
  // Done when the status changes to what the opening says (the status before may say "opened" too).
  const before = await status(page);
  const input = await page.$('#open-input');
  await input.uploadFile(...paths);
  await page.waitForFunction((before) => {
    const said = document.querySelector('#status');
    return said.textContent !== before && (/^opened /.test(said.textContent) || said.className === 'error');
  }, {}, before);
  fs.rmSync(dir, { recursive: true, force: true });
}

test('opened files make a project: a source finds its include by name, and no message names the page\'s own files', async () => {
  await pick({
    'sum.masm': '        .INCLUDE "regs.inc"\nstart:  L=R1 R=#ONE ALU=ADD TO=R1\n        EX=HALT JUMP start\n',
    'regs.inc': '        .EQU ONE 5\n',
    'empty.mdat': '',
  });
  assert.deepEqual((await files()).slice(-3), ['sum.masm', 'regs.inc', 'empty.mdat']);
  assert.match(await page.$eval('#files option[value="sum.masm"]', (o) => o.textContent), /CM$/);
  assert.match(await page.$eval('#files option[value="empty.mdat"]', (o) => o.textContent), /MM$/);
  assert.match(await status(page), /^opened sum\.masm; regs\.inc; empty\.mdat/);
  assert.deepEqual(await shown(), []);
  await run(page);
  assert.equal(await register(page, 'R1'), 5);

  // A missing include: one message, by the project's name of the file.
  await page.select('#files', 'sum.masm');
  await typeDocument(page, { text: (await editorText()).replace('regs.inc', 'sub/none.inc') });
  await page.click('#assemble');
  const messages = await shown();
  assert.equal(messages[0].text, "sum.masm:1:18: error: cannot open 'sub/none.inc'");
  assert.ok(messages.every((m) => !m.text.includes('/project')), JSON.stringify(messages));
  assert.deepEqual(w.problems, []);
});

test('Run and Step are refused after a failed assembly; warnings and errors look different', async () => {
  await pick({ 'broken.masm': 'a:      L=R9 TO=R1\n        L=MEM TO=R2\n' });
  assert.equal(await page.$$eval('#messages li.error', (items) => items.length), 1);
  for (const [button, verb] of [['#run', 'Run'], ['#step', 'Step']]) {
    await page.click(button);
    await waitIdle(page);
    assert.match(await status(page), new RegExp(`^${verb}: the last assembly failed \\(1 error\\)`));
    assert.equal(await steps(page), 0);
  }
  // An error, a warning: in line order, told apart by colour and sign.
  await typeDocument(page, { text: 'a:      L=R1 TO=R2\n        L=MEM TO=R2\n        L=R9 TO=R1\n' });
  await page.click('#assemble');
  const looks = await page.$$eval('#messages li', (items) => items.map((i) => ({
    severity: i.className, line: Number(i.textContent.split(':')[1]),
    color: getComputedStyle(i).color, sign: getComputedStyle(i, '::before').content })));
  assert.deepEqual(looks.map((l) => [l.line, l.severity]), [[2, 'warning'], [3, 'error']]);
  assert.notEqual(looks[0].color, looks[1].color);
  assert.notEqual(looks[0].sign, looks[1].sign);
});

test('no action replaces a file without a way back: Disassemble adds a file, an example is taken back, versions are kept', async () => {
  await openExample(page, 'greeting');
  const before = await files();
  await page.click('#disassemble');
  assert.deepEqual(await files(), [...before, 'greeting/greeting.masm']);
  assert.match(await editorText(), /^; disassembled from greeting\/greeting\.cm/);
  assert.match(await status(page), /a new file; greeting\/greeting\.cm is kept/);
  await page.click('#disassemble');   // again: yet another file
  assert.deepEqual(await files(), [...before, 'greeting/greeting.masm', 'greeting/greeting-2.masm']);

  // Mine, then an example over it: Alt+U brings mine back, even after a reload.
  await page.click('#new-file');
  await typeDocument(page, { name: 'mine.masm', text: 'mine:   EX=HALT JUMP mine\n' });
  await page.click('#use-cm');
  await page.click('#assemble');
  await openExample(page, 'digits');
  assert.deepEqual(await files(), ['digits/digits.masm']);
  await new Promise((resolve) => setTimeout(resolve, 400));
  await reload(page);
  assert.deepEqual(await files(), ['digits/digits.masm']);
  await press(page, 'u', 'Alt');
  assert.match(await status(page), /^taken back: open example digits/);
  assert.ok((await files()).includes('mine.masm'));
  assert.equal(await editorText(), 'mine:   EX=HALT JUMP mine\n');

  // Opening a file of a name the project has keeps the text it replaces.
  await pick({ 'mine.masm': 'again:  EX=HALT JUMP again\n' });
  const versions = await page.evaluate(() => window.workbench.state.project.files.find((f) => f.name === 'mine.masm').versions);
  assert.deepEqual(versions, ['mine:   EX=HALT JUMP mine\n']);
  assert.equal(await editorText(), 'again:  EX=HALT JUMP again\n');
  // The file's versions list brings it back, keeping the text it replaces.
  assert.deepEqual(await page.$$eval('#versions option', (os) => os.map((o) => o.value)), ['', '0']);
  await page.select('#versions', '0');
  assert.equal(await editorText(), 'mine:   EX=HALT JUMP mine\n');
  assert.deepEqual(await page.$$eval('#versions option', (os) => os.map((o) => o.textContent.slice(0, 12))),
                   ['earlier vers', '1: 1 line — ', '2: 1 line — ']);
  assert.match(await page.$eval('#versions option:nth-child(2)', (o) => o.textContent), /again:/);
});

test('the work an earlier page kept (two documents and a typed deck) comes back as a project', async () => {
  await page.evaluate(() => {
    localStorage.clear();
    localStorage.setItem('kalvo3.workbench', JSON.stringify({
      docs: { cm: { name: 'old.masm', text: 'old:    L=R2 R=#3 ALU=ADD TO=R2\n        EX=HALT JUMP old\n' }, mm: { name: 'data.mdat', text: '' } },
      active: 'cm', cards: 'AB\n', breaks: [0], limit: '50', counts: false }));
  });
  await reload(page);
  assert.deepEqual(await files(), ['old.masm']);
  assert.equal(await editorText(), 'old:    L=R2 R=#3 ALU=ADD TO=R2\n        EX=HALT JUMP old\n');
  assert.match(await status(page), /^your work is back/);
  assert.deepEqual(await page.evaluate(() => [...window.workbench.exports.cards()]), [0x41, 0x42, 0x0A]);
  assert.equal(await page.$eval('#listing tr.break', (e) => e.dataset.address), '0');
  assert.equal(await page.$eval('#limit', (e) => e.value), '50');
  assert.equal(await page.$eval('#counts', (e) => e.checked), false);
  await page.$eval('#limit', (e) => { e.value = ''; });
  await page.click('#counts');
});

test('the deck and the printer are the console\'s bytes: CR LF and 80..FF as they are, saved exactly', async () => {
  const deck = fs.readFileSync(`${DATA}bytes.crd`);
  const lpt = fs.readFileSync(`${DATA}bytes.lpt`);   // KALV.LPT of the console's run of this deck
  await openExample(page, 'k16_upper');
  await pick({ 'KALV.CRD': deck });
  assert.ok(await page.$eval('#cards', (e) => e.readOnly), 'a deck with CR is not edited as text');
  await run(page);
  assert.match(await status(page), /^halted/);
  assert.equal(await steps(page), 2907);   // as the console's run of this deck reported: 2907 STEPS USED
  assert.deepEqual(Buffer.from(await page.evaluate(() => [...window.workbench.exports.printer()])), lpt);
  assert.deepEqual(Buffer.from(await page.evaluate(() => [...window.workbench.exports.cards()])), deck);
  assert.equal(await printer(page), lpt.toString('latin1'));

  // The Save buttons give the same bytes as files.
  const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'kalvo3-saved-'));
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.select('#files', 'k16_upper/upper.mdat');
  const source = Buffer.from(await editorText(), 'utf8');
  for (const [button, name, bytes] of [['#save-printer', 'KALV.LPT', lpt], ['#save-cards', 'KALV.CRD', deck],
                                       ['#save-source', 'upper.mdat', source]]) {
    await page.evaluate((b) => document.querySelector(b).click(), button);
    const file = path.join(downloads, name);
    for (let i = 0; i < 100 && !fs.existsSync(file); i++) await new Promise((resolve) => setTimeout(resolve, 50));
    assert.deepEqual(fs.readFileSync(file), bytes, name);
  }
  fs.rmSync(downloads, { recursive: true, force: true });
  // The deck survives a reload byte for byte.
  await new Promise((resolve) => setTimeout(resolve, 100));
  await reload(page);
  assert.deepEqual(Buffer.from(await page.evaluate(() => [...window.workbench.exports.cards()])), deck);
  assert.deepEqual(w.problems, []);
});

test('files dropped on the page open as by the picker', async () => {
  await openExample(page, 'greeting');
  await page.evaluate(() => {
    const dropped = new DataTransfer();
    dropped.items.add(new File(['        .EQU SEVEN 7\n'], 'seven.inc'));
    dropped.items.add(new File(['        .INCLUDE "seven.inc"\n        R=#SEVEN TO=R3 EX=HALT\n'], 'drop.masm'));
    dropped.items.add(new File([new Uint8Array([0x41, 0x0D, 0x0A, 0xFF])], 'deck.crd'));
    document.querySelector('#listing').dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
  });
  await page.waitForFunction(() => /^opened /.test(document.querySelector('#status').textContent));
  assert.match(await status(page), /^opened seven\.inc; drop\.masm; deck\.crd as the card deck \(4 bytes\)/);
  assert.deepEqual(await files(), ['greeting/greeting.cm', 'greeting/greeting.mm', 'seven.inc', 'drop.masm']);
  assert.deepEqual(await page.evaluate(() => [...window.workbench.exports.cards()]), [0x41, 0x0D, 0x0A, 0xFF]);
  await page.click('#step');
  assert.equal(await register(page, 'R3'), 7);
});

test('keys: assemble, step, step back, run, stop, a break point at the focused row, leaving the editor, help', async () => {
  await openExample(page, 'greeting');
  const key = (name, modifier) => press(page, name, modifier);
  await page.focus('#editor textarea');
  await key('F10');
  await key('F10');
  assert.equal(await steps(page), 2);
  await key('F10', 'Shift');
  assert.equal(await steps(page), 1);
  await key('F7');
  assert.equal(await steps(page), 0);
  assert.match(await status(page), /^assembled and loaded/);
  // Tab indents in the editor; Esc, then Tab, goes on to the next control.
  await page.evaluate(() => { const a = document.querySelector('#editor textarea'); a.setSelectionRange(0, 0); });
  const text = await editorText();
  await key('Tab');
  assert.equal(await editorText(), '        ' + text);
  assert.equal(await page.evaluate(() => document.activeElement.tagName), 'TEXTAREA');
  await key('Escape');
  await key('Tab');
  assert.notEqual(await page.evaluate(() => document.activeElement.tagName), 'TEXTAREA');
  await typeDocument(page, { text });
  await key('F7');
  // F9 at a focused listing row: ↓ moves the focus row by row.
  await page.focus('#listing tr[data-address="0"]');
  for (let i = 0; i < 7; i++) await key('ArrowDown');
  assert.equal(await page.evaluate(() => document.activeElement.dataset.address), '7');
  assert.notEqual(await page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle), 'none', 'the focus is seen');
  await key('F9');
  assert.equal(await page.$eval('#listing tr.break', (e) => e.dataset.address), '7');
  await key('F5');
  await waitIdle(page);
  assert.match(await status(page), /^break point at 007/);
  await key('F9');   // cleared
  assert.equal(await page.$('#listing tr.break'), null);
  // A never-ending run: Esc stops it.
  await pick({ 'spin.masm': 'spin:   L=R1 ALU=ADD EX=ONEIN TO=R1 JUMP spin\n' });
  await key('F5');
  await new Promise((resolve) => setTimeout(resolve, 300));
  await key('Escape');
  await waitIdle(page, 2000);
  assert.match(await status(page), /^stopped by you/);
  // F1: the help lists every key and links the manual.
  await key('F1');
  assert.ok(await page.$eval('#help', (e) => e.open));
  const help = await page.$eval('#help', (e) => e.textContent);
  for (const piece of ['F7', 'F5', 'F10', 'Shift+F10', 'Esc', 'F9', 'Alt+u', '11. The workbench in the browser'])
    assert.ok(help.includes(piece), piece);
  // Each chapter's link finds its heading, once, in the manual the site serves.
  const manual = fs.readFileSync(new URL('../../docs/manual.md', import.meta.url), 'utf8');
  const links = await page.$$eval('#help-manual a', (as) => as.map((a) => ({ href: a.href, text: a.textContent })));
  assert.equal(await (await fetch(links[0].href)).text(), manual);
  const chapters = links.filter((l) => l.href.includes('#:~:text='));
  assert.ok(chapters.length >= 8);
  for (const { href, text } of chapters) {
    const heading = decodeURIComponent(href.split('#:~:text=')[1]);
    assert.equal(heading, `## ${text}`);
    assert.equal(manual.split('\n').filter((line) => line === heading).length, 1, heading);
  }
  await key('Escape');
  assert.ok(!(await page.$eval('#help', (e) => e.open)));
  assert.deepEqual(w.problems, []);
});

test('the memory view names the MM source\'s labels and shows each word\'s bytes as characters', async () => {
  await openExample(page, 'k16_hello');
  const rows = await page.$$eval('#memory tr', (trs) => trs.map((tr) => ({
    address: parseInt(tr.querySelector('th').textContent, 16),
    words: [...tr.querySelectorAll('input')].map((i) => ({ value: i.value, label: i.title })),
    chars: tr.querySelector('td.chars').textContent, labels: tr.querySelector('td.mm-labels').textContent })));
  assert.equal(rows[0].address, 0);
  // loop at 1, done at 6, text at 7: "Hello…" a character a word.
  assert.deepEqual(rows[0].words.map((w) => w.label), ['', 'loop', '', '', '', '', 'done', 'text']);
  assert.equal(rows[0].labels, 'loop done text');
  assert.equal(rows[1].chars, '.e.l.l.o. .f.r.o');
  // Every row's characters are its words' bytes, '.' where no character is printable.
  for (const row of rows) {
    const expected = row.words.map((w) => parseInt(w.value, 16)).flatMap((word) => [word >> 8, word & 0xFF])
      .map((b) => ((b >= 0x20 && b < 0x7F) || b >= 0xA0 ? String.fromCharCode(b) : '.')).join('');
    assert.equal(row.chars, expected, `row ${row.address}`);
  }
});

test('Step back shows the picture, the MIR line and the changed marks as the step first showed them', async () => {
  await openExample(page, 'greeting');
  const view = () => page.evaluate(() => ({
    lit: [...document.querySelectorAll('#datapath .on')].map((e) => e.id).sort().join(' '),
    mir: ['mir-word', 'mir-text1', 'mir-text2'].map((id) => document.getElementById(id)?.textContent ?? '').join('|'),
    changed: [...document.querySelectorAll('input.changed')].map((e) => e.dataset.register).join(' '),
  }));
  const seen = [await view()];
  for (let i = 0; i < 5; i++) {
    await page.click('#step');
    seen.push(await view());
  }
  assert.ok(seen[1].lit && seen[1].mir.startsWith('word ') && seen[1].changed, JSON.stringify(seen[1]));
  for (let i = 4; i >= 0; i--) {
    await page.click('#back');
    assert.deepEqual(await view(), seen[i], `back to step ${i}`);
  }
});

test('the site: the .wasm comes compressed, and a link opens an example', async () => {
  const wasm = await fetch(`${w.url}kalvo3.wasm`, { headers: { 'Accept-Encoding': 'gzip' } });
  assert.equal(wasm.headers.get('content-encoding'), 'gzip');
  assert.equal(wasm.headers.get('content-type'), 'application/wasm');
  const plain = await fetch(`${w.url}kalvo3.wasm`, { headers: { 'Accept-Encoding': 'identity' } });
  const [packed, whole] = [Number(wasm.headers.get('content-length')), (await plain.arrayBuffer()).byteLength];
  assert.ok(packed > 0 && packed < whole / 2, `${packed} of ${whole} bytes`);
  await page.goto(`${w.url}?example=k16_fib`);
  await page.waitForSelector('body.ready');
  assert.equal(await status(page), 'opened k16_fib');
  assert.ok((await files()).includes('k16_fib/fib.mdat'));
  await run(page);
  assert.equal(await steps(page), Number(/(\d+) STEPS USED/.exec(exampleFile('k16_fib/expected.out'))[1]));
  // The console panel ends with the console's own closing lines.
  const closing = /\n( CPU HALTED !\n .*STEPS USED\n)/.exec(exampleFile('k16_fib/expected.out'))[1];
  assert.ok((await page.$eval('#console', (e) => e.textContent)).endsWith(closing),
            await page.$eval('#console', (e) => e.textContent));
});
