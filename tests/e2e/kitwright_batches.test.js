'use strict';

// Package-manager batches that meet other work, in the real application
// with the orv.exe stand-in: a batch sent while a status refresh runs, a
// second batch sent while the first runs, a reinstall in which one product
// fails, and a page function that fails once. The stand-in's knobs decide
// when a command may start (wait_for_file: the test opens the gate) and how
// slowly it talks (delay_ms), so every case waits for events, never for
// time. One application serves the cases in order; the first one needs the
// status refresh that the page starts while loading.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const fsp = require('node:fs/promises');
const path = require('node:path');
const { after, afterEach, before, describe, it } = require('node:test');
const { isDeepStrictEqual } = require('node:util');
const { startDashboard, waitFor, exchange, event } = require('./harness');

const settings = { USERNAME: 'demo@example.com', PASSWORD: 'DEMO-1234' };

// The package manager's catalogue, named as the page's product table names
// the products.
const catalogue = {
  'orv.zyn.core': { name: 'ORV ZYN Core', version: '3.2.0.0', vendor_id: 'orv' },
  'orv.zyn.canvas': { name: 'ORV ZYN Canvas', version: '3.2.0.0', vendor_id: 'orv' },
  'orv.zyn.flow': { name: 'ORV ZYN Flow', version: '2.8.1.0', vendor_id: 'orv' },
  'orv.keystone.core': { name: 'ORV Keystone Core', version: '5.0.4.0', vendor_id: 'orv' },
  'orv.ledger': { name: 'ORV Ledger', version: '5.0.4.0', vendor_id: 'orv' },
  'orv.conduit': { name: 'ORV Conduit', version: '5.0.2.0', vendor_id: 'orv' },
};

// The products the user has when a case begins.
const owned = ['orv.keystone.core', 'orv.ledger', 'orv.conduit'];

function scene(knobs = {}) {
  const installed = {};
  for (const id of owned) {
    installed[id] = {
      name: catalogue[id].name, version: catalogue[id].version, local: false,
      ides: { delphi12: { platforms: { win32intel: { built: true, registered: true } } } },
    };
  }
  return {
    version: '2.5.0.0',
    folder_initialized: true,
    credentials: { email: settings.USERNAME, code: settings.PASSWORD },
    repositories: { default: catalogue },
    installed,
    knobs,
  };
}

// Whether the stand-in has the product built into an IDE; an uninstall
// keeps the product fetched but takes its IDEs away.
const hasProduct = (state, id) => Object.keys(state.installed?.[id]?.ides ?? {}).length > 0;

const question = '^Warning$';
const installKind = 'INSTALLKITWRIGHTPRODUCT';
const uninstallKind = 'UNINSTALLKITWRIGHTPRODUCT';

// A progress report that ends a command: 100 % and no product.
const isFinalReport = (call, kind) => call[0] === 'KitwrightActionProgress' && call[1] === 100 && call[2] === '' &&
  (!kind || call[4] === kind);
const isFinish = (call) => call[0] === 'KitwrightActionFinished';

// The progress reports a command's output makes for the page: one at its
// start, one per progress line (install lines name their product), one at
// its end.
function reportsOf(kind, lines) {
  const reports = [[0, '', 0]];
  for (const line of lines) {
    const match = /^\[\s*(\d+)%\](?: \[([^:\]]+):\s*(\d+)%\])?/.exec(line);
    if (match) reports.push(match[2] ? [Number(match[1]), catalogue[match[2]].name, Number(match[3])] : [Number(match[1]), '', 0]);
  }
  reports.push([100, '', 0]);
  return reports.map((report) => ['KitwrightActionProgress', ...report, kind]);
}

describe('ORV Kitwright batches meeting other work', { timeout: 560000 }, () => {
  let dashboard;
  let page;
  let display;

  // A file the stand-in waits for before it runs the commands a knob names
  // (see tools/orv/README.md). Every gate is open after its case, also after
  // a failure, so that no later case meets a command held for good.
  let gates = [];
  function gate(name) {
    const file = path.join(dashboard.kitwrightDir, name);
    const made = {
      name,
      held: () => fs.existsSync(file + '.waiting'),
      open: () => fsp.writeFile(file, ''),
    };
    gates.push(made);
    return made;
  }

  afterEach(async () => {
    await Promise.all(gates.map((g) => g.open()));
    gates = [];
  });

  before(async () => {
    // The page asks for the status rows while loading; the refresh that
    // query starts waits in list-remote until the first case lets it go,
    // and then talks slowly, so the batch meets it running.
    dashboard = await startDashboard({
      settings,
      kitwright: scene({ wait_for_file: { 'list-remote': 'first-refresh.gate' }, delay_ms: { 'list-remote': 150 } }),
    });
    ({ page, display } = dashboard);
    // What the page receives from the application. e2eThrowOn makes the
    // page's output function fail once, at the line holding that text.
    await page.evaluate(() => {
      window.e2eCalls = [];
      window.e2eThrowOn = null;
      for (const name of ['KitwrightOutput', 'KitwrightActionProgress', 'KitwrightActionFinished', 'ProductInstallAbort']) {
        const original = window[name];
        window[name] = (...args) => {
          window.e2eCalls.push([name, ...args]);
          if (name === 'KitwrightOutput' && window.e2eThrowOn && String(args[0]).includes(window.e2eThrowOn)) {
            window.e2eThrowOn = null;
            throw new Error('KitwrightOutput failed once');
          }
          return original(...args);
        };
      }
    });
  });

  after(async () => {
    if (!dashboard) return;
    // The package manager's own log, for a look after a failure.
    const log = path.join(dashboard.kitwrightDir, 'Logs', 'orv.log.html');
    if (fs.existsSync(log)) fs.copyFileSync(log, path.join(dashboard.artifacts, 'kitwright-batches-orv.log.html'));
    await dashboard.stop();
  });

  const callCount = () => page.evaluate(() => window.e2eCalls.length);
  const callsFrom = (from) => page.evaluate((start) => window.e2eCalls.slice(start), from);

  // The page calls from `from` on, once end(calls) names the index of the
  // call that ends them; up to and with that call.
  async function callsUntil(what, from, end) {
    let last = -1;
    await waitFor(what, 120000, async () => {
      last = end(await callsFrom(from));
      return last >= 0;
    });
    return (await callsFrom(from)).slice(0, last + 1);
  }

  // A batch's calls: up to the first finish after its first progress report.
  const batchCalls = (from) => callsUntil('the batch to end for the page', from, (calls) => {
    const first = calls.findIndex((c) => c[0] === 'KitwrightActionProgress');
    return first < 0 ? -1 : calls.findIndex((c, i) => i > first && isFinish(c));
  });

  const status = () => exchange(page, event('GETSTATUS'));

  // The Kitwright column's status of a product row.
  const statusOf = (name) => page.evaluate((product) => {
    const box = document.querySelector(`#catalogue input[data-name="${product}"]`);
    const cell = box && box.closest('tr').cells[5].querySelector('[data-status]');
    return cell ? cell.dataset.status : null;
  }, name);

  async function waitForStatus(name, wanted) {
    await waitFor(`${name} to show "${wanted}" in the Kitwright column`, 60000, async () => await statusOf(name) === wanted);
  }

  // Ticks exactly these products, in this order.
  async function tick(...names) {
    for (const box of await page.$$('#catalogue input[type=checkbox]:checked')) await box.click();
    for (const name of names) await page.click(`#catalogue input[data-name="${name}"]`);
  }

  const press = (buttonId) => async () => {
    await page.waitForFunction((id) => !document.getElementById(id).disabled, { polling: 100, timeout: 60000 }, buttonId);
    await page.click(`#${buttonId}`);
  };
  // Batches the buttons cannot make (kinds differing per product, or a
  // batch while one runs), sent the way the buttons send theirs.
  const send = (...steps) => () => page.evaluate((s) => sendKitwrightBatch(s), steps);

  // Runs what makes the page send a batch and answers Yes in the question
  // box that comes meanwhile (the page waits in its message until then).
  // Returns the count of page calls before it.
  async function answerYes(sendBatch) {
    const since = await callCount();
    const sent = sendBatch();
    const box = await display.waitForWindow(question);
    await display.pressKeys(box, 'Return');
    await display.waitForWindowGone(question);
    await sent;
    return since;
  }

  // All the lines the console keeps; it draws only those in view.
  const consoleLines = () => page.evaluate(() => kitwrightConsole.kept());
  const redLines = async () => (await consoleLines()).filter(([kind]) => kind === 'error').map(([, text]) => text);
  const productCommands = (since) => dashboard.kitwrightCommands().slice(since).filter((c) => /^(un)?install /.test(c));
  const commandCount = () => dashboard.kitwrightCommands().length;

  it('installs the product of a batch sent while the first status refresh still runs', async () => {
    const refresh = gate('first-refresh.gate');
    await waitFor('the status refresh begun by the loading page to reach list-remote', 60000, refresh.held);
    await tick('ORV ZYN Core');
    const since = await answerYes(press('btn-batch-install'));
    await refresh.open();
    const calls = await batchCalls(since);

    // The user asked for ORV ZYN Core; the package manager must be told so,
    // however far the refresh had come.
    assert.deepEqual(productCommands(0), ['install orv.zyn.core -display-options:product-progress'],
      'the package manager is started with the product of the batch');
    const red = await redLines();
    assert.ok(!red.some((text) => text.includes('install needs at least one product')), red.join('\n'));
    assert.deepEqual(red, [], 'no error in the console');
    assert.ok(hasProduct(dashboard.readKitwrightState(), 'orv.zyn.core'), 'ORV ZYN Core is installed');
    const progress = calls.filter((c) => c[0] === 'KitwrightActionProgress');
    assert.deepEqual(progress[0], ['KitwrightActionProgress', 0, '', 0, 'Install']);
    assert.ok(calls.some((c) => isFinalReport(c, 'Install')), 'the page is told the work finished only after the install\'s last report');
    await waitForStatus('ORV ZYN Core', 'installed');
  });

  it('hands every later page call to the page when one page call fails', async () => {
    // Many output lines in a quick run, so that the failing call is
    // followed by others that arrive with it.
    const bulk = 200;
    await dashboard.writeKitwrightState(scene({ huge_output_lines: bulk }));
    await tick('ORV ZYN Canvas');
    await page.evaluate(() => { window.e2eThrowOn = 'Compiling unit StandIn0000000.pas'; });
    const runs = commandCount();
    const calls = await batchCalls(await answerYes(press('btn-batch-install')));

    // What the package manager printed: its log leaves the bulk lines out,
    // which follow the first product's fetching line.
    const run = dashboard.kitwrightRuns().slice(runs).find((r) => r.command.startsWith('install '));
    assert.equal(run?.command, 'install orv.zyn.canvas -display-options:product-progress');
    const fetching = run.lines.findIndex((line) => line.includes('Fetching orv.zyn.canvas'));
    const printed = [...run.lines.slice(0, fetching + 1),
      ...Array.from({ length: bulk }, (_, n) => `[  0%] [orv.zyn.canvas:   0%] Compiling unit StandIn${String(n).padStart(7, '0')}.pas`),
      ...run.lines.slice(fetching + 1)];
    const progress = calls.filter((c) => c[0] === 'KitwrightActionProgress');
    assertSameCalls(progress, reportsOf('Install', printed), 'progress reports');
    const output = calls.filter((c) => c[0] === 'KitwrightOutput').map((c) => c[1]);
    assertSameCalls(output, printed, 'output lines');
    // What the user sees: the whole bar and the end.
    assert.equal(await page.$eval('#batch-fill', (bar) => bar.style.width), '100%');
    assert.match(await page.$eval('#batch-label', (label) => label.textContent), /^Installing, 100% overall – finished$/);
    await waitForStatus('ORV ZYN Canvas', 'installed');
  });

  it('carries out a second batch sent while the first runs in full after it, each ending once', async () => {
    // The first batch's install waits until the second batch is handed over.
    await dashboard.writeKitwrightState(scene({ wait_for_file: { install: 'install.gate' } }));
    const installGate = gate('install.gate');
    const runs = commandCount();
    const first = await answerYes(send([uninstallKind, 'ORV Ledger'], [installKind, 'ORV ZYN Flow']));
    await waitFor('the first batch\'s install to start', 60000, installGate.held);
    const second = await answerYes(send([uninstallKind, 'ORV Conduit'], [installKind, 'ORV ZYN Canvas']));
    await installGate.open();
    // Two ends after the first report: one per batch.
    const calls = await callsUntil('the page to be told both batches finished', first, (cs) => {
      const start = cs.findIndex((c) => c[0] === 'KitwrightActionProgress');
      if (start < 0) return -1;
      const ends = cs.map((c, i) => (i > start && isFinish(c) ? i : -1)).filter((i) => i >= 0);
      return ends.length >= 2 && ends[1] >= second - first ? ends[1] : -1;
    });

    const state = dashboard.readKitwrightState();
    const installed = Object.fromEntries(['orv.ledger', 'orv.zyn.flow', 'orv.conduit', 'orv.zyn.canvas']
      .map((id) => [id, hasProduct(state, id)]));
    assert.deepEqual(installed, { 'orv.ledger': false, 'orv.zyn.flow': true, 'orv.conduit': false, 'orv.zyn.canvas': true },
      'both batches carried out: ORV Ledger and ORV Conduit removed, ORV ZYN Flow and ORV ZYN Canvas installed');
    assert.deepEqual(productCommands(runs), ['uninstall orv.ledger',
      'install orv.zyn.flow -display-options:product-progress', 'uninstall orv.conduit',
      'install orv.zyn.canvas -display-options:product-progress'], 'the second batch after the first, in order');
    // Every report of a batch's commands, the last of each too, came before
    // that batch's end, and the second batch's after the first's end.
    const start = calls.findIndex((c) => c[0] === 'KitwrightActionProgress');
    const ends = calls.map((c, i) => (i > start && isFinish(c) ? i : -1)).filter((i) => i >= 0);
    assert.equal(ends.length, 2, 'one end for each batch');
    const reportsBetween = (from, to) => calls.slice(from, to)
      .filter((c) => c[0] === 'KitwrightActionProgress').map((c) => JSON.stringify(c));
    const batches = [reportsBetween(start, ends[0]), reportsBetween(ends[0], ends[1])];
    const late = [];
    const batchRuns = dashboard.kitwrightRuns().slice(runs).filter((r) => /^(un)?install /.test(r.command));
    batchRuns.forEach((run, index) => {
      const heard = batches[index < 2 ? 0 : 1];
      const reports = reportsOf(run.command.startsWith('un') ? 'Uninstall' : 'Install', run.lines);
      const missing = reports.filter((report) => {
        const at = heard.indexOf(JSON.stringify(report));
        if (at >= 0) heard.splice(at, 1);
        return at < 0;
      });
      if (missing.length) late.push(`${run.command}: ${missing.length} of its ${reports.length} reports`);
    });
    assert.deepEqual(late, [], 'each batch ends for the page only after the last report of its commands');
  });

  it('installs the good product again when the reinstall of another fails', async () => {
    await dashboard.writeKitwrightState(scene({ fail_products: ['orv.ledger'] }));
    await tick('ORV Keystone Core', 'ORV Ledger');
    await batchCalls(await answerYes(press('btn-batch-reinstall')));

    const state = dashboard.readKitwrightState();
    assert.deepEqual({ keystone: hasProduct(state, 'orv.keystone.core'), ledger: hasProduct(state, 'orv.ledger') },
      { keystone: true, ledger: true },
      'ORV Keystone Core is installed again, and ORV Ledger, which the package manager could not remove, stays');
    const red = await redLines();
    assert.ok(red.some((text) => text.includes('orv.ledger')), `a red line names the failing product:\n${red.join('\n')}`);
    assert.ok(!red.some((text) => text.includes('orv.keystone.core')), `only the failing product is red:\n${red.join('\n')}`);
  });

  it('keeps a batch installing from when it is handed over until its own command ended', async () => {
    // The refresh after the first batch's uninstall is held, and so is the
    // second batch's install once it starts.
    await dashboard.writeKitwrightState(scene({ wait_for_file: { 'list-remote': 'refresh.gate', install: 'late-install.gate' } }));
    const refresh = gate('refresh.gate');
    const installGate = gate('late-install.gate');
    await tick('ORV Conduit');
    const runs = commandCount();
    await answerYes(press('btn-batch-uninstall'));
    await waitFor('a status refresh to reach list-remote', 60000, refresh.held);
    const since = await answerYes(send([installKind, 'ORV ZYN Flow']));
    const refreshes = () => dashboard.kitwrightCommands().slice(runs).filter((c) => c.startsWith('list-remote')).length;
    const heldRefreshes = refreshes();
    await refresh.open();
    await waitFor('the refresh to end and the batch\'s install to start', 60000,
      () => refreshes() > heldRefreshes && installGate.held());

    // The refresh has ended; the batch's own command runs.
    assert.equal(await status(), 'Install', 'the dashboard still says it is installing');
    await installGate.open();
    const calls = await callsUntil('the batch to end for the page', since, (cs) => {
      const end = cs.findIndex((c) => isFinalReport(c, 'Install'));
      return end < 0 ? -1 : cs.findIndex((c, i) => i > end && isFinish(c));
    });
    // The uninstall batch still ran when this one was handed over: its own
    // end comes once, before this batch's install begins; none comes after.
    const end = calls.findIndex((c) => isFinalReport(c, 'Install'));
    const begun = calls.findIndex((c) => c[0] === 'KitwrightActionProgress' && c[4] === 'Install');
    assert.ok(calls.slice(0, begun).filter(isFinish).length <= 1, 'the uninstall batch ends once');
    assert.deepEqual(calls.slice(begun, end).filter(isFinish), [],
      'the page is not told the work finished before the batch\'s install ended');
    const state = dashboard.readKitwrightState();
    assert.deepEqual({ conduit: hasProduct(state, 'orv.conduit'), flow: hasProduct(state, 'orv.zyn.flow') },
      { conduit: false, flow: true });
  });
});

// Two lists of page calls or lines, told apart by their first difference
// rather than a diff of hundreds of entries.
function assertSameCalls(actual, expected, what) {
  const at = expected.findIndex((entry, i) => !isDeepStrictEqual(actual[i], entry));
  if (at < 0 && actual.length === expected.length) return;
  const index = at < 0 ? expected.length : at;
  assert.fail(`the page got ${actual.length} of the ${expected.length} ${what}; from #${index} on it got ` +
    `${JSON.stringify(actual.slice(index, index + 3))} instead of ${JSON.stringify(expected.slice(index, index + 3))}`);
}
