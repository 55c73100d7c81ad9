'use strict';

// Package-manager journeys from the page, in the real application with the
// orv.exe stand-in: the user ticks products, presses a batch button,
// answers the real question box on the X display and watches the console,
// the progress bars and the Kitwright column. One application serves the
// cases in order; the last one closes it.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { after, before, describe, it } = require('node:test');
const { startDashboard, waitFor } = require('./harness');

const settings = { USERNAME: 'demo@example.com', PASSWORD: 'DEMO-1234' };

const catalogue = {
  'orv.zyn.core': { name: 'ORV ZYN Core', version: '3.2.0.0', vendor_id: 'orv' },
  'orv.zyn.canvas': { name: 'ORV ZYN Canvas', version: '3.2.0.0', vendor_id: 'orv' },
  'orv.keystone.core': { name: 'ORV Keystone Core', version: '5.0.4.0', vendor_id: 'orv' },
};

const initialState = {
  version: '2.5.0.0',
  folder_initialized: true,
  credentials: null,
  repositories: { default: catalogue },
  installed: {
    'orv.keystone.core': {
      name: 'ORV Keystone Core', version: '5.0.4.0', local: false,
      ides: { delphi12: { platforms: { win32intel: { built: true, registered: true } } } },
    },
  },
  knobs: {},
};

const question = '^Warning$';

describe('ORV Kitwright journeys from the dashboard page', { timeout: 280000 }, () => {
  let dashboard;
  let page;
  let display;

  before(async () => {
    dashboard = await startDashboard({ settings, kitwright: initialState });
    ({ page, display } = dashboard);
    // What the page receives from the application, beside what it shows.
    await page.evaluate(() => {
      window.e2eCalls = [];
      for (const name of ['KitwrightOutput', 'KitwrightActionProgress', 'KitwrightActionFinished', 'ProductInstallAbort']) {
        const original = window[name];
        window[name] = (...args) => {
          window.e2eCalls.push([name, ...args]);
          return original(...args);
        };
      }
    });
    await waitForStatus('ORV Keystone Core', 'installed');
  });

  after(async () => {
    if (!dashboard) return;
    // The package manager's own log, for a look after a failure.
    const log = path.join(dashboard.kitwrightDir, 'Logs', 'orv.log.html');
    if (fs.existsSync(log)) fs.copyFileSync(log, path.join(dashboard.artifacts, 'kitwright-orv.log.html'));
    await dashboard.stop();
  });

  // The Kitwright column's status of a product row.
  const statusOf = (name) => page.evaluate((product) => {
    const box = document.querySelector(`#catalogue input[data-name="${product}"]`);
    const cell = box && box.closest('tr').cells[5].querySelector('[data-status]');
    return cell ? cell.dataset.status : null;
  }, name);

  async function waitForStatus(name, status) {
    await waitFor(`${name} to show "${status}" in the Kitwright column`, 60000, async () => await statusOf(name) === status);
  }

  // Ticks exactly these products, in this order.
  async function tick(...names) {
    for (const box of await page.$$('#catalogue input[type=checkbox]:checked')) await box.click();
    for (const name of names) await page.click(`#catalogue input[data-name="${name}"]`);
  }

  // Presses a batch button and answers the question box with a key
  // (Return for Yes, Escape for No); the page waits in its message to the
  // application until the box is answered.
  async function pressAndAnswer(buttonId, key, picture) {
    const calls = await page.evaluate(() => window.e2eCalls.length);
    const pressed = page.click(`#${buttonId}`);
    const box = await display.waitForWindow(question);
    if (picture) await display.screenshot(path.join(dashboard.artifacts, picture));
    await display.pressKeys(box, key);
    await display.waitForWindowGone(question);
    await pressed;
    return calls;
  }

  // The page calls since the given count, once the batch's end arrived.
  async function batchCalls(since) {
    await page.waitForFunction((from) => {
      const calls = window.e2eCalls.slice(from);
      const progress = calls.findIndex((c) => c[0] === 'KitwrightActionProgress');
      return progress >= 0 && calls.slice(progress).some((c) => c[0] === 'KitwrightActionFinished');
    }, { polling: 100, timeout: 60000 }, since);
    return page.evaluate((from) => window.e2eCalls.slice(from), since);
  }

  // The batch's end comes after its progress reports and none follows it;
  // what came later (the page's own reading of the rows) may come too.
  function assertEndsTheBatch(calls) {
    const first = calls.findIndex((c) => c[0] === 'KitwrightActionProgress');
    const end = calls.findIndex((c, i) => i > first && c[0] === 'KitwrightActionFinished');
    assert.ok(first >= 0 && end > first, JSON.stringify(calls));
    assert.ok(!calls.slice(end).some((c) => c[0] === 'KitwrightActionProgress'), JSON.stringify(calls));
    return end;
  }

  // The console draws only the rows in view; these are all the lines it keeps.
  const consoleLines = () => page.evaluate(() => kitwrightConsole.kept());
  const installs = () => dashboard.kitwrightCommands().filter((c) => /^(un)?install /.test(c));

  it('installs two products in requirement order with output, progress and the new state', async () => {
    await tick('ORV ZYN Canvas', 'ORV ZYN Core');
    const since = await pressAndAnswer('btn-batch-install', 'Return', 'kitwright-question.png');
    const calls = await batchCalls(since);

    assert.deepEqual(installs(), ['install orv.zyn.core orv.zyn.canvas -display-options:product-progress']);
    const progress = calls.filter((c) => c[0] === 'KitwrightActionProgress');
    assert.deepEqual(progress[0], ['KitwrightActionProgress', 0, '', 0, 'Install']);
    assert.ok(progress.some((c) => c[2] === 'ORV ZYN Core' && c[3] > 0), 'per-product progress of the first');
    assert.ok(progress.some((c) => c[2] === 'ORV ZYN Canvas' && c[3] === 100), 'per-product progress of the second');
    assert.deepEqual(progress.at(-1), ['KitwrightActionProgress', 100, '', 0, 'Install']);
    assertEndsTheBatch(calls);

    const lines = await consoleLines();
    assert.deepEqual(lines[0], ['', 'Installing 2 products: orv.zyn.core, orv.zyn.canvas']);
    assert.ok(lines.some(([, text]) => text === '=== Build Summary ==='));
    assert.equal(lines.filter(([kind]) => kind === 'error').length, 0);
    // Only the rows in view are drawn: the newest while the view follows the
    // output, the oldest kept once the user scrolls back to the top.
    const view = await page.evaluate(() => {
      kitwrightConsole.draw();
      return { kept: kitwrightConsole.kept(), drawn: [...document.querySelectorAll('#console > div')]
        .map((row) => [row.className, row.textContent]) };
    });
    assert.ok(view.drawn.length > 0, 'rows drawn');
    assert.deepEqual(view.drawn, view.kept.slice(-view.drawn.length));
    await page.$eval('#console', (box) => { box.scrollTop = 0; });
    await page.waitForFunction((first) => document.querySelector('#console > div')?.textContent === first,
      { polling: 'raf', timeout: 10000 }, lines[0][1]);
    assert.equal(await page.$eval('#batch-fill', (bar) => bar.style.width), '100%');
    assert.deepEqual(await page.$$eval('#product-progress li', (items) => items.map((i) => [i.dataset.product,
      i.querySelector('.percent').textContent])), [['ORV ZYN Core', '100%'], ['ORV ZYN Canvas', '100%']]);
    await waitForStatus('ORV ZYN Core', 'installed');
    await waitForStatus('ORV ZYN Canvas', 'installed');
    await page.screenshot({ path: path.join(dashboard.artifacts, 'kitwright-installed.png') });
  });

  it('uninstalls a product', async () => {
    const before = installs().length;
    await tick('ORV ZYN Canvas');
    const calls = await batchCalls(await pressAndAnswer('btn-batch-uninstall', 'Return'));
    assert.deepEqual(installs().slice(before), ['uninstall orv.zyn.canvas']);
    const progress = calls.filter((c) => c[0] === 'KitwrightActionProgress');
    assert.deepEqual(progress[0], ['KitwrightActionProgress', 0, '', 0, 'Uninstall']);
    assert.deepEqual(progress.at(-1), ['KitwrightActionProgress', 100, '', 0, 'Uninstall']);
    await waitForStatus('ORV ZYN Canvas', 'available');
  });

  it('reinstalls a product: the uninstall gets only its products, then the install runs', async () => {
    const before = installs().length;
    await tick('ORV Keystone Core');
    const calls = await batchCalls(await pressAndAnswer('btn-batch-reinstall', 'Return'));
    assert.deepEqual(installs().slice(before), ['uninstall orv.keystone.core',
      'install orv.keystone.core -display-options:product-progress']);
    // From the batch's first report to the first end the page hears of;
    // status refreshes may end before it, and the page's own reading of
    // the rows afterwards ends later.
    const first = calls.findIndex((c) => c[0] === 'KitwrightActionProgress');
    const end = assertEndsTheBatch(calls);
    const kinds = calls.slice(first, end).filter((c) => c[0] === 'KitwrightActionProgress').map((c) => c[4]);
    assert.equal(kinds[0], 'Uninstall');
    assert.deepEqual(kinds, [...kinds].sort().reverse(), 'every uninstall report before the install ones');
    assert.deepEqual(calls[end - 1], ['KitwrightActionProgress', 100, '', 0, 'Install'],
      'the end comes once the install has ended');
    await waitForStatus('ORV Keystone Core', 'installed');
  });

  it('does nothing but tell the page when the question is declined', async () => {
    const before = installs().length;
    await tick('ORV ZYN Canvas');
    const since = await pressAndAnswer('btn-batch-install', 'Escape');
    await page.waitForFunction((from) => window.e2eCalls.slice(from).some((c) => c[0] === 'ProductInstallAbort'),
      { polling: 100, timeout: 30000 }, since);
    await page.waitForFunction(() => kitwrightConsole.kept().at(-1)?.[1] === 'Batch cancelled.',
      { polling: 100, timeout: 30000 });
    assert.equal(await page.$eval('#btn-batch-install', (b) => b.disabled), false);
    const calls = await page.evaluate((from) => window.e2eCalls.slice(from), since);
    assert.deepEqual(calls.filter((c) => c[0] !== 'KitwrightActionFinished'), [['ProductInstallAbort']]);
    assert.deepEqual(installs().slice(before), []);
  });

  it('shows the errors of a failing install in red and ends without a final progress report', async () => {
    const state = JSON.parse(fs.readFileSync(dashboard.kitwrightStateFile, 'utf8'));
    await dashboard.writeKitwrightState({ ...state, knobs: { fail_products: ['orv.zyn.canvas'] } });
    await tick('ORV ZYN Canvas');
    const calls = await batchCalls(await pressAndAnswer('btn-batch-install', 'Return'));

    const red = (await consoleLines()).filter(([kind]) => kind === 'error').map(([, text]) => text);
    assert.ok(red.some((text) => text.includes("Error: E2003 Undeclared identifier: 'TStandInControl'")), red.join('\n'));
    assert.ok(red.some((text) => text.includes('failed, errors found: 1')), red.join('\n'));
    assert.ok(!red.some((text) => text.includes('<span')), 'the span is markup, not text');
    assert.ok(!calls.some((c) => c[0] === 'KitwrightActionProgress' && c[1] === 100 && c[2] === ''),
      'no final progress report');
    assertEndsTheBatch(calls);
    await waitForStatus('ORV ZYN Canvas', 'available');
    await page.screenshot({ path: path.join(dashboard.artifacts, 'kitwright-failed.png') });
    const restored = JSON.parse(fs.readFileSync(dashboard.kitwrightStateFile, 'utf8'));
    await dashboard.writeKitwrightState({ ...restored, knobs: {} });
  });

  it('asks before closing while a batch runs, and a confirmed close ends the command with its children', async () => {
    const state = JSON.parse(fs.readFileSync(dashboard.kitwrightStateFile, 'utf8'));
    await dashboard.writeKitwrightState({ ...state, knobs: { grandchild_seconds: 120 } });
    await tick('ORV ZYN Canvas');
    await pressAndAnswer('btn-batch-install', 'Return');
    const waiting = await page.waitForFunction(() => kitwrightConsole.kept()
      .map(([, text]) => /^Waiting for the build tool \(process (\d+)\)$/.exec(text)).find(Boolean)?.[1],
    { polling: 100, timeout: 60000 });
    const grandchild = Number(await waiting.jsonValue());
    assert.ok(alive(grandchild));

    const main = await display.waitForWindow('^ORV Dashboard$');
    await display.closeWindow(main);
    const box = await display.waitForWindow(question);
    await display.screenshot(path.join(dashboard.artifacts, 'kitwright-close-question.png'));
    await display.pressKeys(box, 'Escape');
    await display.waitForWindowGone(question);
    assert.equal(await display.hasWindow('^ORV Dashboard$'), true, 'No keeps the window');
    assert.ok(alive(grandchild), 'and the batch');

    const exited = new Promise((resolve) => dashboard.app.once('exit', resolve));
    await dashboard.browser.disconnect();
    dashboard.browser = null;
    await display.closeWindow(main);
    await display.pressKeys(await display.waitForWindow(question), 'Return');
    await exited;
    await waitFor('the build tool to end with the command', 30000, () => !alive(grandchild));
  });
});

// A process that exists and is no zombie.
function alive(pid) {
  try {
    return !/^\d+ \(.*\) Z/.test(fs.readFileSync(`/proc/${pid}/stat`, 'utf8'));
  } catch {
    return false;
  }
}
