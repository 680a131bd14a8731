// Shared by the browser tests: the site served on 127.0.0.1 and a headless
// Chromium from the system, driven by puppeteer-core.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { serve } from '../serve.mjs';

export const SITE = process.env.KALVO3_SITE ?? new URL('../../build/web/site', import.meta.url).pathname;
export const ARTEFACTS = process.env.KALVO3_ARTEFACTS ?? new URL('../../build/web/artefacts', import.meta.url).pathname;
export const EXAMPLES = new URL('../../examples', import.meta.url).pathname;

export const exampleFile = (name) => fs.readFileSync(path.join(EXAMPLES, name), 'latin1');

// Starts the server and the browser; returns { page, url, close }.
export async function openWorkbench() {
  const server = await serve(SITE, 0);
  const url = `http://127.0.0.1:${server.address().port}/`;
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kalvo3-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           `--user-data-dir=${profile}`],
  });
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
  await page.setViewport({ width: 1700, height: 1300 });
  await page.goto(url);
  await page.waitForSelector('body.ready', { timeout: 30000 });
  return {
    page, url, problems,
    // CPU seconds used so far by the browser and all its processes (the
    // page's renderer among them), from /proc: a figure that other work on
    // a shared machine does not inflate as it does wall-clock time.
    cpuSeconds: () => processTreeCpu(browser.process().pid),
    async close() {
      await browser.close();
      server.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

function processTreeCpu(root) {
  const parent = new Map(), ticks = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');   // from field 3, the state
      parent.set(Number(entry), Number(fields[1]));
      ticks.set(Number(entry), Number(fields[11]) + Number(fields[12]));   // utime + stime
    } catch { /* the process ended meanwhile */ }
  }
  const inTree = (pid) => { for (let p = pid; p > 1; p = parent.get(p) ?? 0) if (p === root) return true; return false; };
  let total = 0;
  for (const [pid, t] of ticks) if (inTree(pid)) total += t;
  return total / CLOCK_TICKS;
}
const CLOCK_TICKS = 100;   // USER_HZ of Linux on every common architecture

// Helpers on the page.
export const status = (page) => page.$eval('#status', (e) => e.textContent);
export const printer = (page) => page.$eval('#printer', (e) => e.textContent);
export const steps = (page) => page.$eval('#steps', (e) => Number(e.textContent));
export const register = (page, name) =>
  page.$eval(`input[data-register="${name}"]`, (e) => parseInt(e.value, 16));
export async function waitIdle(page, timeout = 60000) {
  await page.waitForFunction(() => !document.body.classList.contains('running'), { timeout });
}
export async function run(page, timeout) {
  await page.click('#run');
  await waitIdle(page, timeout);
}
export async function reload(page) {
  await page.reload();
  await page.waitForSelector('body.ready');
}
// A key pressed with a modifier ('Alt', 'Shift') held, or none.
export async function press(page, key, modifier) {
  if (modifier) await page.keyboard.down(modifier);
  await page.keyboard.press(key);
  if (modifier) await page.keyboard.up(modifier);
}
// A field's value set as typed: the page hears of it by `event`.
export function setField(page, selector, value, event = 'change') {
  return page.$eval(selector, (e, value, event) => { e.value = value; e.dispatchEvent(new Event(event)); }, value, event);
}
// Replaces the text in the editor and, given, the document's file name; on
// the tab ('cm' or 'mm') given.
export async function typeDocument(page, { tab, name, text }) {
  if (tab) await page.click(`#tab-${tab}`);
  if (name !== undefined) await setField(page, '#doc-name', name);
  await setField(page, '#editor textarea', text, 'input');
}
export async function openExample(page, id) {
  await page.select('#examples', id);
  await page.waitForFunction((id) => document.querySelector('#status').textContent === `opened ${id}`, { timeout: 30000 }, id);
}

// The K16 workload of bench/run.sh in the page: the K16 microprogram of the
// k16_hello example, and bench/compute.mdat (which never halts and keeps
// changing its table) as the main-memory document; in the example's project
// its include is ../k16/k16.inc. Nothing is assembled yet.
export async function openComputeWorkload(page) {
  const compute = fs.readFileSync(new URL('../../bench/compute.mdat', import.meta.url), 'utf8')
    .replace('"../examples/k16/k16.inc"', '"../k16/k16.inc"');
  await openExample(page, 'k16_hello');
  await typeDocument(page, { tab: 'mm', name: 'bench/compute.mdat', text: compute });
}
