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
    async close() {
      await browser.close();
      server.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Helpers on the page.
export const status = (page) => page.$eval('#status', (e) => e.textContent);
export const printer = (page) => page.$eval('#printer', (e) => e.textContent);
export const register = (page, name) =>
  page.$eval(`input[data-register="${name}"]`, (e) => parseInt(e.value, 16));
export async function waitIdle(page, timeout = 60000) {
  await page.waitForFunction(() => !document.body.classList.contains('running'), { timeout });
}
export async function openExample(page, id) {
  await page.select('#examples', id);
  await page.waitForFunction((id) => document.querySelector('#status').textContent === `opened ${id}`, { timeout: 30000 }, id);
}
