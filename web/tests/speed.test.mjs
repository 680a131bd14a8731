// The workbench's speed at full speed, not animating, on the K16 workload
// of bench/run.sh: the K16 microprogram running bench/compute.mdat. Prints
// million micro-cycles per second, with and without execution counts, per
// second of wall-clock time (what the page shows) and per second of CPU time
// of the browser's processes (what the machine's own load does not change;
// the test holds this one to the target), and keeps them in the artefacts
// directory (speed.txt).
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { openWorkbench, openComputeWorkload, run, status, ARTEFACTS } from './browser.mjs';

const STEPS = Number(process.env.KALVO3_SPEED_STEPS ?? 200_000_000);
let w;
after(async () => { await w?.close(); });

test('the K16 workload runs at least 30 million micro-cycles per second', async () => {
  w = await openWorkbench();
  const page = w.page;
  await openComputeWorkload(page);
  await page.$eval('#limit', (e, steps) => { e.value = String(steps); }, STEPS);

  const figures = {};
  for (const counts of [false, true]) {
    await page.click('#assemble');
    assert.match(await status(page), /^assembled and loaded/);
    if ((await page.$eval('#counts', (e) => e.checked)) !== counts) await page.click('#counts');
    const cpu = w.cpuSeconds();
    await run(page, 300000);
    const cpuUsed = w.cpuSeconds() - cpu;
    assert.match(await status(page), new RegExp(`^step limit used up: ${STEPS} steps`));
    figures[counts ? 'with counts' : 'without counts'] = {
      wall: (await page.evaluate(() => window.workbench.speed())) / 1e6,
      cpu: STEPS / cpuUsed / 1e6,
    };
  }
  const line = Object.entries(figures)
    .map(([what, speed]) => `${what}: ${speed.wall.toFixed(1)} M steps/s (${speed.cpu.toFixed(1)} per CPU second)`).join('; ');
  console.log(`K16 compute, ${STEPS} steps, headless Chromium: ${line}`);
  fs.mkdirSync(ARTEFACTS, { recursive: true });
  fs.writeFileSync(path.join(ARTEFACTS, 'speed.txt'), line + '\n');
  assert.ok(figures['without counts'].cpu >= 30, line);
});
