// The page on a laptop (1366x768) and a phone (390x844): everything
// reachable without scrolling the page sideways or, on the laptop, down; the
// picture's text big enough to read; screenshots of both in the artefacts
// directory (docs/ keeps copies).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { openWorkbench, openExample, reload, ARTEFACTS } from './browser.mjs';

let w, page;
before(async () => { w = await openWorkbench(); page = w.page; });
after(async () => { await w?.close(); });

async function at(width, height) {
  await page.setViewport({ width, height });
  await reload(page);
  await openExample(page, 'k16_hello');
  for (let i = 0; i < 3; i++) await page.click('#step');
}

// Whether an element is drawn inside the window, not hidden.
const inWindow = (selector) => page.$eval(selector, (e) => {
  const r = e.getBoundingClientRect();
  return r.width > 0 && r.height > 0 && r.left >= 0 && r.top >= 0 && r.right <= innerWidth + 0.5 && r.bottom <= innerHeight + 0.5;
});
const pageSize = () => page.evaluate(() => ({ width: document.documentElement.scrollWidth, height: document.documentElement.scrollHeight }));
// The smallest height of the picture's texts on the screen, in pixels.
const pictureText = () => page.$$eval('#datapath svg text', (texts) =>
  Math.min(...texts.filter((t) => t.textContent.trim()).map((t) => parseFloat(getComputedStyle(t).fontSize) * t.getScreenCTM().d)));

test('at 1366x768 the page fits the window; each panel is a tab away; the picture\'s text is at least 10 px', async () => {
  await at(1366, 768);
  const size = await pageSize();
  assert.ok(size.width <= 1366 && size.height <= 768, JSON.stringify(size));
  assert.ok(await pictureText() >= 10, `picture text ${await pictureText()} px`);
  fs.mkdirSync(ARTEFACTS, { recursive: true });
  await page.screenshot({ path: path.join(ARTEFACTS, 'workbench-1366x768.png') });
  // Source, listing, devices on the left; picture, registers on the right.
  const panels = [['source-panel', '#editor'], ['listing-panel', '#listing tr.current'], ['devices-panel', '#printer'],
                  ['devices-panel', '#console'], ['machine-panel', 'input[data-register="R1"]'], ['picture-panel', '#picture-box']];
  for (const [panel, inside] of panels) {
    await page.click(`.pane-tabs [data-panel="${panel}"]`);
    assert.ok(await inWindow(inside), `${inside} in ${panel}`);
    assert.ok(await inWindow(`.pane-tabs [data-panel="${panel}"]`));
  }
  assert.ok(await inWindow('#status') && await inWindow('#run') && await inWindow('#save-mm'));
  assert.deepEqual(await pageSize(), size);
});

test('at 390x844 one column, nothing wider than the window, the picture as wide as its panel', async () => {
  await at(390, 844);
  const size = await pageSize();
  assert.ok(size.width <= 390, JSON.stringify(size));
  const widths = await page.evaluate(() => ({
    picture: document.querySelector('#datapath svg').getBoundingClientRect().width,
    panel: document.querySelector('#picture-box').clientWidth,
    left: { bottom: document.querySelector('#left-pane').getBoundingClientRect().bottom },
    right: { top: document.querySelector('#right-pane').getBoundingClientRect().top },
  }));
  assert.ok(Math.abs(widths.picture - widths.panel) <= 4, JSON.stringify(widths));
  assert.ok(widths.right.top >= widths.left.bottom, `the panes one above the other: ${JSON.stringify(widths)}`);
  for (const panel of ['source-panel', 'listing-panel', 'devices-panel', 'machine-panel', 'picture-panel']) {
    await page.click(`.pane-tabs [data-panel="${panel}"]`);
    assert.ok((await pageSize()).width <= 390, panel);
  }
  await page.click('.pane-tabs [data-panel="source-panel"]');
  await page.click('.pane-tabs [data-panel="picture-panel"]');
  // No control is cut off at the window's edge.
  const cut = await page.$$eval('header *, .tabs *, .pane-tabs *', (controls) => controls
    .filter((c) => c.matches('button, input, select') && c.offsetParent && c.getBoundingClientRect().right > innerWidth)
    .map((c) => c.id || c.textContent));
  assert.deepEqual(cut, []);
  await page.screenshot({ path: path.join(ARTEFACTS, 'workbench-390x844.png'), fullPage: true });
  assert.deepEqual(w.problems, []);
});
