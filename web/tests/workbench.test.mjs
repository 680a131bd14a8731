// The workbench in a real browser: examples give the console's printer text
// and step counts, break points set by clicking stop where the console
// stops, stepping shows its changes, Stop ends a runaway run at once, and
// errors in any input are shown, never fatal.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { openWorkbench, status, printer, register, waitIdle, openExample, exampleFile, ARTEFACTS, EXAMPLES, reload,
         steps as stepsShown, run as runToIdle, typeDocument as typeInto } from './browser.mjs';

let w, page;
before(async () => { w = await openWorkbench(); page = w.page; });
after(async () => { await w?.close(); });

// The steps the console reports in an example's transcript.
const consoleSteps = (example) => Number(/(\d+) STEPS USED/.exec(exampleFile(`${example}/expected.out`))[1]);
const steps = () => stepsShown(page);
const run = () => runToIdle(page);
// Replaces the document in the editor: its file name and text.
const typeDocument = (tab, name, text) => typeInto(page, { tab, name, text });

test('the greeting example prints its greeting in the console\'s steps', async () => {
  await openExample(page, 'greeting');
  await page.click('#assemble');
  await run();
  assert.equal(await printer(page), exampleFile('greeting/expected.lpt'));
  assert.equal(await steps(), consoleSteps('greeting'));
  assert.match(await status(page), /^halted after \d+ steps; CMAR 007$/);
  assert.deepEqual(w.problems, []);
});

test('a break point set by clicking a labelled word stops the run where the console stops', async () => {
  await openExample(page, 'greeting');
  await page.click('#disassemble');    // labels for the jump targets
  const row = await page.waitForSelector('xpath/.//td[@class="label" and text()="L_007"]');
  await row.click();
  assert.equal(await page.$eval('#listing tr.break td.label', (e) => e.textContent), 'L_007');
  await run();
  // The console stops on arrival at the break point, before the word runs:
  // one step short of the whole greeting.
  assert.equal(await steps(), consoleSteps('greeting') - 1);
  assert.equal(await register(page, 'CMAR'), 0x007);
  assert.match(await status(page), /break point at 007 \(L_007\)/);
  assert.match(await page.$eval('#console', (e) => e.textContent), /BREAK !! AT 007/);
  // The data path shows the run's last word, 005, which tested ZER.
  assert.match(await page.$eval('#datapath #mir-text1', (e) => e.textContent), /^005: .*IF ZER JUMP L_007/);
  assert.ok(await page.$('#datapath #w-tests.on'));
  // Step back goes one step back in the run's history, to the word 005
  // about to run; running again comes back to the same place.
  await page.click('#back');
  assert.equal(await steps(), consoleSteps('greeting') - 2);
  assert.equal(await register(page, 'CMAR'), 0x005);
  await run();
  assert.equal(await steps(), consoleSteps('greeting') - 1);
  // Run again goes past the break point and halts there.
  await run();
  assert.equal(await steps(), consoleSteps('greeting'));
  assert.match(await status(page), /^halted/);
  await row.click();   // cleared again
  assert.equal(await page.$('#listing tr.break'), null);
});

test('Step changes the registers shown and the data path; Step back undoes it', async () => {
  await openExample(page, 'greeting');
  await page.click('#step');           // 000: R1 = ED01 through RBUS and SBUS
  assert.equal(await register(page, 'R1'), 0xED01);
  assert.equal(await register(page, 'CMAR'), 1);
  const changed = await page.$$eval('input.changed', (inputs) => inputs.map((i) => i.dataset.register));
  assert.ok(changed.includes('R1') && changed.includes('CMAR') && !changed.includes('R2'), changed.join(' '));
  const lit = await page.$$eval('#datapath .on', (parts) => parts.map((p) => p.id));
  for (const id of ['w-const', 'bus-RBUS', 'bus-SBUS', 'w-to-R1', 'box-R1', 'w-c-load'])
    assert.ok(lit.includes(id), `${id} not highlighted: ${lit.join(' ')}`);
  assert.ok(!lit.includes('bus-LBUS') && !lit.includes('w-to-R2'), lit.join(' '));
  assert.equal(await page.$eval('#datapath #val-R1', (e) => e.textContent), 'ED01');

  await page.click('#step');           // 001: IR = R1 over LBUS
  await page.click('#step');           // 002: R2 = 0100
  fs.mkdirSync(ARTEFACTS, { recursive: true });
  const picture = await page.$('#datapath');
  await picture.screenshot({ path: path.join(ARTEFACTS, 'datapath.png') });
  assert.equal(await register(page, 'R2'), 0x0100);

  await page.click('#back');
  await page.click('#back');
  assert.equal(await register(page, 'R2'), 0);
  assert.equal(await register(page, 'IR'), 0);
  assert.equal(await register(page, 'CMAR'), 1);
  assert.equal(await steps(), 1);
});

test('Stop ends a never-halting microprogram within a second, and the page answers during the run', async () => {
  await typeDocument('cm', 'spin.masm', 'spin:   L=R1 ALU=ADD EX=ONEIN TO=R1 JUMP spin\n');
  await typeDocument('mm', 'none.mdat', '');
  await page.click('#assemble');
  await page.click('#run');
  await new Promise((resolve) => setTimeout(resolve, 700));
  // The page still answers: the step counter moves.
  const during = await steps();
  assert.ok(during > 0, `no steps shown during the run: ${during}`);
  const asked = Date.now();
  await page.click('#stop');
  await waitIdle(page, 1000);
  assert.ok(Date.now() - asked < 1000, `the run stopped ${Date.now() - asked} ms after Stop`);
  assert.match(await status(page), /^stopped by you after \d+ steps/);
  assert.ok(await steps() >= during);
  assert.equal(await register(page, 'R1'), (await steps()) & 0xFFFF);
});

test('an assembly error is shown at its line; bad load files and bad numbers give messages', async () => {
  await typeDocument('cm', 'bad.masm', 'start:  L=R1 TO=R2\n        NOP\n        L=R9 TO=R1\n');
  await page.click('#assemble');
  assert.deepEqual(await page.$$eval('#editor .gutter .error', (lines) => lines.map((l) => l.textContent)), ['3']);
  const messages = await page.$$eval('#messages li.error', (items) => items.map((i) => i.textContent));
  assert.equal(messages.length, 1);
  assert.match(messages[0], /^bad\.masm:3:\d+: error: /);
  assert.match(await status(page), /1 error/);

  await typeDocument('cm', 'junk.cm', 'this is no load file\n000  12\n');
  await page.click('#assemble');
  assert.match(await page.$eval('#messages', (e) => e.textContent), /junk\.cm:1: ERROR 5: INVALID LOAD FILE FOMAT !/);

  await typeDocument('mm', 'swapped.mm', 'CM\n000  FFFFFFFFFF\n');
  await page.click('#assemble');
  assert.match(await page.$eval('#messages', (e) => e.textContent), /a CM load file, not MM/);

  await page.$eval('input[data-register="R3"]', (e) => { e.value = 'xyz'; e.dispatchEvent(new Event('change', { bubbles: true })); });
  assert.match(await status(page), /R3: "xyz" is no hexadecimal number/);
  await page.$eval('input[data-register="C"]', (e) => { e.value = '1FF'; e.dispatchEvent(new Event('change', { bubbles: true })); });
  assert.match(await status(page), /C cannot hold 1FF/);
  assert.equal(await register(page, 'C'), 0);
  await page.$eval('input[data-register="R3"]', (e) => { e.value = 'beef'; e.dispatchEvent(new Event('change', { bubbles: true })); });
  assert.equal(await register(page, 'R3'), 0xBEEF);
  await page.$eval('input[data-mm="16"]', (e) => { e.value = '12345'; e.dispatchEvent(new Event('change', { bubbles: true })); });
  assert.match(await status(page), /MM 0010: "12345" is no 16-bit hexadecimal number/);
  await page.$eval('input[data-mm="16"]', (e) => { e.value = 'abcd'; e.dispatchEvent(new Event('change', { bubbles: true })); });
  assert.equal(await page.$eval('input[data-mm="16"]', (e) => e.value), 'ABCD');
  await page.$eval('#limit', (e) => { e.value = '-5'; });
  await page.click('#run');
  assert.match(await status(page), /step limit: "-5" is not a whole number/);
  await page.$eval('#limit', (e) => { e.value = ''; });
  assert.deepEqual(w.problems, []);
});

test('the other examples, the K16 programs among them, give their console transcripts\' printer text and steps', async () => {
  for (const example of ['digits', 'k16_fib', 'k16_hello', 'k16_upper']) {
    await openExample(page, example);
    await run();
    const lpt = path.join(EXAMPLES, example, 'expected.lpt');
    assert.equal(await printer(page), fs.existsSync(lpt) ? exampleFile(`${example}/expected.lpt`) : '', example);
    assert.equal(await steps(), consoleSteps(example), example);
    assert.match(await status(page), /^halted/, example);
  }
  // The card reader rewinds: the same deck again after Reset.
  await page.click('#reset');
  await run();
  assert.equal(await printer(page), exampleFile('k16_upper/expected.lpt'));
  // Saved control memory is the load file the console loads.
  const saved = await page.evaluate(() => window.workbench.exports.cm());
  assert.equal(saved, exampleFile('k16_upper/k16.cm'));
});

test('a control-memory word typed over in the listing runs as typed', async () => {
  await openExample(page, 'greeting');
  const word = async (address, typed) => {
    await page.click(`#listing tr[data-address="${address}"] td.word`);
    await page.$eval(`#listing tr[data-address="${address}"] td.word input`, (e, typed) => { e.value = typed; }, typed);
    await page.keyboard.press('Enter');
  };
  await word(2, 'XYZ');
  assert.match(await status(page), /CM 002: "XYZ" is no 40-bit hexadecimal word/);
  assert.equal(await page.$eval('#listing tr[data-address="2"] td.word', (e) => e.textContent), 'FAFCBF1F00');
  await word(2, 'FAFCBF1F07');          // R2 = 0107: the text from its eighth character
  assert.equal(await page.$eval('#listing tr[data-address="2"] td.stmt', (e) => e.textContent), 'R=#0x107 TO=R2 MEM=IDLE');
  assert.equal(await page.$$eval('#listing tr.break', (rows) => rows.length), 0);   // no break point by the way
  await run();
  assert.equal(await printer(page), exampleFile('greeting/expected.lpt').slice(7));
  const saved = await page.evaluate(() => window.workbench.exports.cm());
  assert.match(saved, /^002 {2}FAFCBF1F07$/m);
});

test('the work in progress survives a reload', async () => {
  const source = 'again:  L=R2 R=#3 ALU=ADD TO=R2\n        EX=HALT JUMP again\n';
  await typeDocument('cm', 'mine.masm', source);
  await page.click('#assemble');
  await page.click('#listing tr[data-address="0"]');
  await new Promise((resolve) => setTimeout(resolve, 400));   // the editor keeps its text after a pause
  await reload(page);
  assert.equal(await page.$eval('#editor textarea', (e) => e.value), source);
  assert.equal(await page.$eval('#doc-name', (e) => e.value), 'mine.masm');
  assert.equal(await page.$eval('#listing tr.break', (e) => e.dataset.address), '0');
  await page.click('#step');
  assert.equal(await register(page, 'R2'), 3);
});

test('hostile input gives the console\'s errors or the assembler\'s messages, never a broken page', async () => {
  // Random bytes as source, and as a load file.
  let seed = 12345;
  const random = () => (seed = (seed * 1103515245 + 12345) % 2 ** 31) / 2 ** 31;
  const noise = Array.from({ length: 3000 }, () => String.fromCharCode(1 + Math.floor(random() * 254))).join('');
  await typeDocument('cm', 'noise.masm', noise);
  await typeDocument('mm', 'noise.mm', 'MM\n' + noise);
  await page.click('#assemble');
  assert.ok(await page.$$eval('#messages li.error', (items) => items.length) > 0);
  await page.click('#step');

  // Words beyond control memory are skipped by the loader; CMAR beyond it
  // is the console's error 4 at the fetch.
  await typeDocument('cm', 'far.cm', 'CM\n1000  FFFFFFFFFF\n000  FFFFF01A00\n');
  await typeDocument('mm', 'none.mdat', '');
  await page.click('#assemble');
  assert.match(await status(page), /^assembled and loaded: 1 CM words/);
  await page.$eval('input[data-register="CMAR"]', (e) => { e.value = 'FFFFFFFF'; e.dispatchEvent(new Event('change', { bubbles: true })); });
  await page.click('#step');
  assert.match(await status(page), /^error 4 after 1 steps/);
  assert.match(await page.$eval('#console', (e) => e.textContent), /ERROR 4\n OUT OF CM ADDRESS LIMIT \(0-FFF\)/);

  // Calls without returns overflow the CMAR stack: error 14 on the ninth.
  await typeDocument('cm', 'deep.masm', 'deep:   CALL deep\n');
  await page.click('#assemble');
  for (const row of await page.$$('#listing tr.break')) await row.click();   // break points stay set
  await run();
  assert.match(await status(page), /^error 14 after 9 steps/);
  assert.equal(await register(page, 'SP'), 8);
  assert.deepEqual(w.problems, []);
});

test('the data path follows memory and printer transfers into the next cycle', async () => {
  await openExample(page, 'greeting');
  const lit = () => page.$$eval('#datapath .on', (parts) => parts.map((p) => p.id));
  const stepTo = async (count) => { for (let i = 0; i < count; i++) await page.click('#step'); };
  await stepTo(4);                     // 000..003: 003 starts a read at R2
  let on = await lit();
  assert.ok(on.includes('w-mar') && on.includes('box-R2') && !on.includes('w-mm-read'), on.join(' '));
  await stepTo(1);                     // 004: the word read onto LBUS, and on to IOBUS
  on = await lit();
  for (const id of ['w-mm-read', 'box-MM', 'bus-LBUS', 'w-io-out', 'bus-IOBUS', 'w-flags'])
    assert.ok(on.includes(id), `${id} not highlighted: ${on.join(' ')}`);
  assert.equal(await page.$eval('#datapath #val-IOBUS', (e) => e.textContent), '0048');   // "H"
  await stepTo(2);                     // 005, then 006 starts the output
  assert.ok((await lit()).includes('box-IOSTART'));
  await stepTo(1);                     // 003 again: the printer takes the byte
  on = await lit();
  assert.ok(on.includes('w-printer') && on.includes('box-PRINTER'), on.join(' '));
  assert.equal(await printer(page), 'H');
  // Step back over the printing step takes the byte back.
  await page.click('#back');
  assert.equal(await printer(page), '');
});

// The page shows what the machine reports, not a list of its own: every
// register in the panel of its group, as many digits as its width needs,
// read-only where it cannot be set; every part of the data path drawn in
// the picture; and a step lights exactly the elements of the parts the
// machine says the step used.
test('every register and data-path part that the machine reports is on the page', async () => {
  await openExample(page, 'greeting');
  const reported = await page.evaluate(async () => {
    const m = await (await import('./kalvo3.mjs')).default();
    const text = (at) => m.UTF8ToString(at);
    const registers = [], parts = [];
    for (let r = 0; r < m._k3_register_count(); r++)
      registers.push({ name: text(m._k3_register_name(r)), group: text(m._k3_register_group(r)),
                       width: m._k3_register_width(r), writable: m._k3_register_writable(r) !== 0 });
    for (let p = 0; p < m._k3_part_count(); p++) parts.push(text(m._k3_part_name(p)));
    return { registers, parts };
  });
  assert.ok(reported.registers.length >= 47 && reported.parts.length > 0);
  for (const { name, group, width, writable } of reported.registers) {
    const shown = await page.$eval(`#reg-${group} input[data-register="${name}"]`,
      (e) => ({ digits: e.value.length, readOnly: e.readOnly })).catch(() => null);
    assert.ok(shown, `${name} is not shown in the ${group} panel`);
    assert.equal(shown.digits, Math.ceil(width / 4), `${name}: digits of ${width} bits`);
    assert.equal(shown.readOnly, !writable, `${name} writable ${writable}`);
  }
  const drawn = await page.$$eval('#datapath [data-part]', (elements) => elements.flatMap((e) => e.dataset.part.split(' ')));
  for (const part of reported.parts) assert.ok(drawn.includes(part), `${part} is not in the picture`);

  await page.click('#step');   // 000: R1 <- constant, C loaded
  const used = await page.evaluate(() => {
    const lit = [...document.querySelectorAll('#datapath .on')];
    return { unmarked: lit.filter((e) => !e.dataset.part).length,
             parts: [...new Set(lit.flatMap((e) => e.dataset.part.split(' ')))].sort() };
  });
  assert.equal(used.unmarked, 0);
  assert.deepEqual(used.parts, ['C', 'CM', 'CMAR', 'CONST', 'CONST-RBUS', 'MIR', 'MIR-SEQ', 'R1', 'RBUS', 'RBUS-C',
                                'SBUS', 'SBUS-R1', 'SEQ', 'SEQ-CMAR', 'ALU', 'ABUS', 'SHIFTER'].sort());
  assert.deepEqual(w.problems, []);
});

test('the page shows kalvo3-asm\'s messages for a source at their lines, load errors at theirs, a run\'s error by its message', async () => {
  // timing_warnings.messages is what kalvo3-asm prints for the source (asm.timing_warnings_messages holds it to that).
  const data = (name) => fs.readFileSync(new URL(`../../tests/asm/data/${name}`, import.meta.url), 'latin1');
  const source = data('timing_warnings.masm');
  const shown = () => page.$$eval('#messages li', (items) => items.map((i) => `${i.className} ${i.textContent}`));
  const gutter = () => page.$$eval('#editor .gutter div[class]', (lines) => lines.map((l) => `${l.className} ${l.textContent}`));
  await typeDocument('mm', 'none.mdat', '');
  await typeDocument('cm', 'timing_warnings.masm', source);
  await page.click('#assemble');
  // The page lists them in line order; kalvo3-asm in the order it finds them.
  const lineOf = (message) => Number(message.split(':')[1]);
  const printed = data('timing_warnings.messages').trimEnd().split('\n').sort((a, b) => lineOf(a) - lineOf(b));
  assert.deepEqual(await shown(), printed.map((line) => `${line.split(': ')[1]} ${line}`));
  assert.deepEqual(await gutter(), ['warning 4', 'warning 6', 'warning 8', 'error 10']);

  // Without the error the warnings stay, and the run meets the error they foretell.
  await typeDocument('cm', 'timing_warnings.masm', source.replace(/^ +L=R9 .*\n/m, ''));
  await page.click('#assemble');
  assert.deepEqual(await gutter(), ['warning 4', 'warning 6', 'warning 8']);
  await run();
  assert.equal(await status(page), 'error 18 after 2 steps; CMAR 002: MEMORY CYCLE IS NOT READY TO READ');

  for (const [name, text, shownAs, line] of [
    ['bad.cm', 'XX\n000  0000000000\n', 'error bad.cm:1: ERROR 5: INVALID LOAD FILE FOMAT !', 'error 1'],
    ['far.mm', 'MM\n0000  0001\n\n10000  0001\n', 'warning far.mm:4: ERROR 3: OUT OF MM ADDRESS LIMIT (0-FFFF) !', 'warning 4'],
  ]) {
    await typeDocument(name.endsWith('.cm') ? 'mm' : 'cm', 'none.masm', '');
    await typeDocument(name.slice(-2), name, text);
    await page.click('#assemble');
    assert.deepEqual([await shown(), await gutter()], [[shownAs], [line]]);
  }
  assert.deepEqual(w.problems, []);
});
