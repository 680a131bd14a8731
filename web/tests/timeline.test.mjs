// Time travel in a real browser: a program that reads the deck, prints and
// changes memory runs to its halt; the timeline is dragged and typed to
// several steps, and every panel must show what a fresh run to that step
// shows. "Back to change" and "Run back" must land where a step-by-step scan
// of a second machine (through the C interface) says they should.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { openWorkbench, status, steps, run, press, waitIdle, setField, typeDocument, openExample, openComputeWorkload } from './browser.mjs';

let w, page;
before(async () => { w = await openWorkbench(); page = w.page; });
after(async () => { await w?.close(); });

// The upper-case copier, also keeping each character in a buffer at 0070
// and a count of them.
const PROGRAM = `        .INCLUDE "../k16/k16.inc"
        .ORG    0x0000
        .WORD   LDI + D1 + 'a'
        .WORD   LDI + D2 + 0x70
loop:   .WORD   IN
        .WORD   LDI + D0 + '#'
        .WORD   XOR + D0 + S3
        .WORD   JZ + D0 + done
        .WORD   STX + D3 + S2
        .WORD   ADDI + D2 + 1
        .WORD   LD + D0 + count
        .WORD   ADDI + D0 + 1
        .WORD   ST + D0 + count
        .WORD   LDI + D0 + 'z'
        .WORD   SUB + D0 + S3
        .WORD   JN + D0 + print
        .WORD   MOV + D0 + S3
        .WORD   SUB + D0 + S1
        .WORD   JN + D0 + print
        .WORD   LDI + D0 + 0xDF
        .WORD   AND + D3 + S0
print:  .WORD   OUT
        .WORD   JMP + loop
done:   .WORD   HALT
count:  .WORD   0
`;

// Everything the page shows of the machine at the present step.
const panels = () => page.evaluate(() => {
  const text = (selector) => document.querySelector(selector).textContent;
  const registers = {}, changed = [];
  for (const input of document.querySelectorAll('input[data-register]')) {
    registers[input.dataset.register] = input.value;
    if (input.classList.contains('changed')) changed.push(input.dataset.register);
  }
  const memory = [...document.querySelectorAll('#memory input')].map((e) => `${e.dataset.mm}=${e.value}`).join(' ');
  return {
    steps: Number(text('#steps')), registers, changed, memory,
    printer: text('#printer'), cards: text('#cards-position'), word: text('#next-word'), fields: text('#fields'),
    picture: document.querySelector('#datapath svg').textContent.replace(/\s+/g, ' '),
    current: document.querySelector('#listing tr.current')?.dataset.address ?? null,
  };
});

async function assemble() {
  await page.click('#assemble');
  assert.match(await status(page), /^assembled and loaded/);
}

// A fresh machine (assembled anew) run for `n` steps: Run to one before, then
// Step, so the picture shows the last step from registers read before it.
async function freshRun(n) {
  await assemble();
  if (n > 1) {
    await page.$eval('#limit', (e, limit) => { e.value = String(limit); }, n - 1);
    await run(page);
  }
  if (n > 0) await page.click('#step');
  assert.equal(await steps(page), n);
  return panels();
}

async function drag(n) {
  await setField(page, '#timeline', String(n), 'input');
  await page.waitForFunction((n) => document.querySelector('#status').textContent === `at step ${n} of the history`, {}, n);
}

async function type(n) {
  await setField(page, '#at-step', String(n));
  assert.equal(await status(page), `at step ${n} of the history`);
}

// A second machine in the page, stepped one step at a time from power on
// with the same load files and deck: after each step t, CMAR, the registers
// and the memory words asked about.
async function scan(words) {
  return page.evaluate(async (words) => {
    const { loadMachine, STOP } = await import('./machine.mjs');
    const k = await loadMachine();
    const { exports } = window.workbench;
    k.powerOn();
    k.loadText(exports.cm());
    k.loadText(exports.mm());
    k.cardsSet(exports.cards());
    const look = () => ({ CMAR: k.get('CMAR'), R2: k.get('R2'), words: words.map((a) => k.mmGet(a)) });
    const states = [look()];
    for (let r = k.run(1, false); r.stop === STOP.LIMIT && r.steps === 1; r = k.run(1, false)) states.push(look());
    states.push(look());   // the halt's step
    return states;
  }, words);
}

test('the timeline shows every panel as a fresh run to that step shows it', async () => {
  await openExample(page, 'k16_upper');
  await typeDocument(page, { tab: 'mm', text: PROGRAM });
  await assemble();
  await page.$eval('#limit', (e) => { e.value = ''; });
  await run(page);
  assert.match(await status(page), /^halted after \d+ steps/);
  const end = await steps(page);
  assert.ok(end > 5000, `the program runs some thousands of steps (${end})`);
  assert.equal(await page.$eval('#timeline', (e) => Number(e.max)), end);
  const atEnd = await panels();

  // Dragged and typed, back and forth, to the start and the end.
  const targets = [Math.floor(end / 2), 1, 137, end - 1, Math.floor(end / 3) + 1, 0, end];
  const seen = new Map();
  for (const [i, n] of targets.entries()) {
    if (i % 2) await type(n); else await drag(n);
    assert.equal(await page.$eval('#timeline', (e) => Number(e.value)), n);
    seen.set(n, await panels());
  }
  // After a run the changed marks compare with the run's start; at a step
  // of the history, with the step before, as after Step.
  assert.deepEqual({ ...seen.get(end), changed: [] }, { ...atEnd, changed: [] });
  assert.notEqual(seen.get(137).printer, atEnd.printer);   // the printer went back too
  // The console's closing lines of the run, said at its end, are not said yet
  // at an earlier step.
  for (const [n, later] of [[137, true], [end - 1, true], [end, false]]) {
    await type(n);
    const marks = await page.$$eval('#console span', (spans) => spans.map((s) => [Number(s.dataset.step), s.classList.contains('later')]));
    assert.ok(marks.some(([step]) => step === end), 'the run\'s closing lines');
    for (const [step, marked] of marks) assert.equal(marked, step > n, `said at ${step}, shown at ${n}`);
    assert.equal(marks.some(([, marked]) => marked), later);
  }

  // Beyond the end, or not a number: refused, nothing moves.
  for (const typed of [String(end + 1), '12x']) {
    await setField(page, '#at-step', typed);
    assert.match(await status(page), /^step/);
    assert.equal(await steps(page), end);
  }

  for (const n of targets.slice(0, -1)) {
    const fresh = await freshRun(n);
    assert.deepEqual(seen.get(n), fresh, `step ${n}`);
  }
  assert.deepEqual(w.problems, []);
});

test('Step back, Back to change and Run back land where a step-by-step scan says', async () => {
  // The program as the last test left it, run to its halt once more.
  await assemble();
  const count = await page.evaluate(() => [...window.workbench.state.dataLabels].find(([, l]) => l === 'count')[0]);
  const states = await scan([count, 0x75]);   // from the memory as loaded
  await page.$eval('#limit', (e) => { e.value = ''; });
  await run(page);
  const end = await steps(page);
  assert.equal(states.length - 1, end);

  // Step back goes through the history one step at a time.
  await page.click('#back');
  await page.click('#back');
  assert.equal(await steps(page), end - 2);
  assert.equal(await page.$eval('input[data-register="CMAR"]', (e) => parseInt(e.value, 16)), states[end - 2].CMAR);

  // The last step t <= from after which the value differs from before it.
  const lastChange = (from, value) => {
    for (let t = from; t > 0; t--) if (value(states[t]) !== value(states[t - 1])) return t;
    return null;
  };
  const ioStart = await page.evaluate(() => [...window.workbench.state.labels].find(([, l]) => l === 'io_start')[0]);
  const cases = [
    { from: end - 2, ask: 'input[data-register="R2"]', value: (s) => s.R2 },
    { from: Math.floor(end / 2), ask: `input[data-mm="${count}"]`, address: count, value: (s) => s.words[0] },
    { from: Math.floor(end / 2), ask: 'input[data-mm="117"]', address: 0x75, value: (s) => s.words[1] },
  ];
  for (const c of cases) {
    await type(c.from);
    if (c.address !== undefined) await setField(page, '#mm-address', c.address.toString(16));
    await page.focus(c.ask);
    await page.click('#changed-back');
    await waitIdle(page);
    const expected = lastChange(c.from, c.value);
    assert.ok(expected !== null, `${c.ask} changed before step ${c.from}`);
    assert.equal(await steps(page), expected, `${c.ask} from ${c.from}: ${await status(page)}`);
    // The word responsible is the one run in that step: CMAR before it.
    const word = states[expected - 1].CMAR.toString(16).toUpperCase().padStart(3, '0');
    assert.match(await status(page), new RegExp(`changed in step ${expected}, by the word at ${word}\\b`));
  }
  // The ↶ of a register (Tab from its field, Enter) and of a memory word
  // (clicked) ask about their own item and keep the focus; asked again at
  // the answer, they go on further back.
  await setField(page, '#mm-address', count.toString(16));
  for (const [c, key] of [[cases[0], 'Enter'], [cases[1], null]]) {
    await type(c.from);
    await page.focus(c.ask);
    if (key) await page.keyboard.press('Tab');
    const control = `.item:has(${c.ask}) > button.ask`;
    for (let i = 0, expected = lastChange(c.from, c.value); i < 2; i++, expected = lastChange(expected - 1, c.value)) {
      if (key) {
        assert.ok(await page.$eval(control, (e) => e === document.activeElement && getComputedStyle(e).opacity === '1'));
        await page.keyboard.press(key);
      } else await page.click(control);
      await waitIdle(page);
      assert.equal(await steps(page), expected, `${control} from ${c.from}, ${i + 1}: ${await status(page)}`);
    }
  }

  // Run back to the break point at io_start (every IN and OUT): the last step before the present
  // after which CMAR held it, twice over.
  await page.$eval('#mm-follow', (e) => { e.checked = true; });
  const row = await page.waitForSelector(`#listing tr[data-address="${ioStart}"] td.bp`);
  await row.click();
  let from = Math.floor(end * 0.7);
  await type(from);
  for (let i = 0; i < 2; i++) {
    let expected = null;
    for (let t = from - 1; t >= 0 && expected === null; t--) if (states[t].CMAR === ioStart) expected = t;
    await page.click('#run-back');
    await waitIdle(page);
    assert.equal(await steps(page), expected, await status(page));
    assert.match(await status(page), /^ran back to the break point at/);
    from = expected;
  }
  // The break point set after the run kept the history: forward to its end.
  await type(end);
  assert.deepEqual(w.problems, []);
});

test('the new actions have keys, and the help panel lists them', async () => {
  await openExample(page, 'greeting');
  await page.click('#assemble');
  await run(page);
  const end = await steps(page);
  await press(page, 'g', 'Alt');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'at-step');
  await press(page, 'F10', 'Shift');
  assert.equal(await steps(page), end - 1);
  const help = await page.$eval('#help-keys', (e) => e.textContent);
  for (const text of ['Run back', 'Back to change', 'Go to a step']) assert.ok(help.includes(text), text);
});

test('a long search back shows its progress, and Esc stops it with the machine where it was', async () => {
  // The K16 workload, which never halts and stores a table word every few
  // dozen steps: a question about a word it never writes replays the whole
  // history step by step.
  await openComputeWorkload(page);
  await assemble();
  await page.$eval('#limit', (e) => { e.value = '100000000'; });
  await run(page, 120000);
  const end = await steps(page);
  assert.equal(end, 100000000);
  await setField(page, '#mm-address', 'FFF0');
  const shown = await panels();
  await page.focus('input[data-mm="65520"]');
  await page.click('#changed-back');
  await page.waitForFunction(() => /searched [1-9]\d* of 100000000 steps/.test(document.querySelector('#status').textContent),
                             { timeout: 60000 });
  assert.ok(await page.$eval('#back', (e) => e.disabled));   // the page is busy with the search
  await page.keyboard.press('Escape');
  await waitIdle(page, 5000);
  assert.match(await status(page), /stopped by you$/);
  assert.deepEqual(await panels(), shown);
  assert.equal(await page.$eval('#timeline', (e) => Number(e.value)), end);
  assert.deepEqual(w.problems, []);
});
