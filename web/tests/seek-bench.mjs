// A bench figure, not a test: the K16 workload of bench/run.sh (the K16
// microprogram running bench/compute.mdat, which never halts and keeps
// changing its table) runs KALVO3_SEEK_STEPS steps (10^9) in the workbench,
// then goes to random steps of that history: the C interface's seek alone,
// and the page's whole move (the seek, the step before it for the picture,
// every panel redrawn). Prints the times; run it on an idle machine:
//   KALVO3_SITE=build/web/site node web/tests/seek-bench.mjs
import { openWorkbench, openComputeWorkload, run, status } from './browser.mjs';

const STEPS = Number(process.env.KALVO3_SEEK_STEPS ?? 1_000_000_000);
const SEEKS = Number(process.env.KALVO3_SEEKS ?? 40);

const w = await openWorkbench();
try {
  const page = w.page;
  await openComputeWorkload(page);
  await page.click('#assemble');
  if (await page.$eval('#counts', (e) => e.checked)) await page.click('#counts');
  await page.$eval('#limit', (e, steps) => { e.value = String(steps); }, STEPS);
  const started = Date.now();
  await run(page, 1_800_000);
  console.log(`${await status(page)} (${((Date.now() - started) / 1000).toFixed(1)} s)`);

  const figures = await page.evaluate((seeks) => {
    const { machine } = window.workbench.state;
    const end = machine.historyEnd();
    let seed = 12345;
    const random = () => { seed = (seed * 1103515245 + 12345) % 2 ** 31; return seed / 2 ** 31; };
    const targets = Array.from({ length: seeks }, () => Math.floor(random() * end));
    const time = (move) => targets.map((t) => { const t0 = performance.now(); move(t); return performance.now() - t0; });
    const raw = time((t) => machine.seek(t));
    const whole = time((t) => window.workbench.showStep(t));
    const memory = machine.historyMemory();
    const stats = (list) => {
      const sorted = [...list].sort((a, b) => a - b);
      return { median: sorted[Math.floor(sorted.length / 2)], longest: sorted[sorted.length - 1] };
    };
    return { end, raw: stats(raw), whole: stats(whole), memory };
  }, SEEKS);
  const ms = (x) => `${x.toFixed(1)} ms`;
  console.log(`history of ${figures.end} steps (${(figures.memory / 2 ** 20).toFixed(2)} MiB); ${SEEKS} random steps:`);
  console.log(`  k3_seek: median ${ms(figures.raw.median)}, longest ${ms(figures.raw.longest)}`);
  console.log(`  the page's move (two seeks, every panel): median ${ms(figures.whole.median)}, longest ${ms(figures.whole.longest)}`);
  if (w.problems.length) console.log('page problems:', w.problems);
} finally {
  await w.close();
}
