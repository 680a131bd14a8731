// The assembler in WebAssembly gives what it gives natively: a source nested
// far too deep is an error record, call after call, and the machine's
// memories stay as they were; the timing analysis's records reach the page.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { openWorkbench, exampleFile } from './browser.mjs';

let w, page;
before(async () => { w = await openWorkbench(); page = w.page; });
after(async () => { await w?.close(); });

test('a million nested parentheses are an error record and leave the memories alone', async () => {
  const result = await page.evaluate(async (cm, mm) => {
    const { loadMachine } = await import('./machine.mjs');
    const k = await loadMachine();
    k.powerOn();
    k.loadText(cm);
    k.loadText(mm);
    const before = [k.cmLoadFile(), k.mmLoadFile()];
    const deep = 'R=#' + '('.repeat(1000000) + '1' + ')'.repeat(1000000) + '\n';
    const signs = '.WORD ' + '-'.repeat(1000000) + '1\n';
    const calls = [];
    for (let call = 0; call < 3; call++) {
      calls.push(k.assemble('deep.masm', deep, false));
      calls.push(k.assemble('deep.mdat', signs, true));
    }
    return { calls, same: before[0] === k.cmLoadFile() && before[1] === k.mmLoadFile(), cmWords: before[0].split('\n').length };
  }, exampleFile('greeting/greeting.cm'), exampleFile('greeting/greeting.mm'));
  assert.ok(result.cmWords > 5);
  for (const call of result.calls) {
    assert.equal(call.errors, 1);
    assert.match(call.messages, /^deep\.m(asm|dat):1:\d+: error: the expression nests more than 64 levels/);
  }
  assert.ok(result.same, 'control and main memory unchanged');
  assert.deepEqual(w.problems, []);
});

test('the timing analysis reaches the page: a note and a warning, each at its line', async () => {
  const messages = await page.evaluate(async () => {
    const { loadMachine } = await import('./machine.mjs');
    const k = await loadMachine();
    return k.assemble('t.masm', 'R=#3 TO=R1\nloop: L=R1 R=R3 ALU=SUB TO=R1 IF NOT ZER JUMP loop\nL=MEM TO=R2\n', false).messages;
  });
  assert.match(messages, /^t\.masm:2:7: note: the test of ZER sees the value from before/m);
  assert.match(messages, /^t\.masm:3:1: warning: L=MEM without MEM=READ .*\(line 2\)/m);
});
