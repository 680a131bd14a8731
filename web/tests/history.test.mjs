// The C interface's history from the page's JavaScript: 64-bit steps pass
// as BigInt both ways (the module is built with WASM_BIGINT), on a module of
// its own beside the workbench's, running the greeting example.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { openWorkbench, exampleFile } from './browser.mjs';

let w;
after(async () => { await w?.close(); });

test('seeks and questions take and give steps as BigInt', async () => {
  w = await openWorkbench();
  const result = await w.page.evaluate(async (cm, mm) => {
    const { default: createKalvo3 } = await import('./kalvo3.mjs');
    const m = await createKalvo3();
    const load = (text) => {
      const size = m.lengthBytesUTF8(text) + 1, at = m._malloc(size);
      m.stringToUTF8(text, at, size);
      const kind = m._k3_load_text(at);
      m._free(at);
      return kind;
    };
    const printed = () => m.UTF8ToString(m._k3_printer_text(), m._k3_printer_length());
    m._k3_power_on();
    const loaded = [load(cm), load(mm)];
    const stop = m._k3_run(1000, 0);
    const out = { loaded, stop, steps: m._k3_steps(), end: m._k3_history_end(), full: printed() };
    out.seekMiddle = m._k3_seek(30n);
    out.position = m._k3_position();
    out.middle = printed();
    out.beyond = m._k3_seek(out.end + 1n);
    out.seekEnd = m._k3_seek(out.end);
    out.again = printed();
    // When did CMAR last hold 002, looking back from the end?
    out.started = m._k3_find_start(2, 2);
    out.status = m._k3_find_continue(1000000n);
    out.found = m._k3_find_step();
    out.searched = m._k3_find_searched();
    return Object.fromEntries(Object.entries(out).map(([k, v]) => [k, typeof v === 'bigint' ? `${v}n` : v]));
  }, exampleFile('greeting/greeting.cm'), exampleFile('greeting/greeting.mm'));

  assert.deepEqual(w.problems, []);
  assert.deepEqual(result.loaded, [1, 2]);
  assert.equal(result.stop, 1);                 // the greeting halts
  assert.equal(result.end, `${result.steps}n`); // 64-bit results are BigInt
  assert.equal(result.full, exampleFile('greeting/expected.lpt'));
  assert.equal(result.seekMiddle, 1);
  assert.equal(result.position, '30n');
  assert.ok(result.full.startsWith(result.middle) && result.middle.length < result.full.length);
  assert.equal(result.beyond, 0);
  assert.equal(result.seekEnd, 1);
  assert.equal(result.again, result.full);
  assert.equal(result.started, 1);
  assert.equal(result.status, 1);               // found
  assert.match(result.found, /^\d+n$/);
  assert.ok(BigInt(result.found.slice(0, -1)) < BigInt(result.end.slice(0, -1)));
  assert.match(result.searched, /^[1-9]\d*n$/);
});
