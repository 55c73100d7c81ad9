'use strict';

// The classic product journey, driven from the page in the real window:
// download with progress, install with a desktop notification, update to a
// newer version, uninstall; a transfer that breaks off; and closing the
// window while a download runs. One application serves the cases in order.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const fsp = require('node:fs/promises');
const path = require('node:path');
const { after, before, describe, it } = require('node:test');
const { ask, startDashboard, waitFor } = require('./harness');
const { NotificationBus } = require('./notification_bus');

const MiB = 1024 * 1024;
const canvas = 'ORV ZYN Canvas';
const ledger = 'ORV Ledger';
const conduit = 'ORV Conduit';
const notificationTitle = 'ORV Dashboard Notification';

// The vendor site reads its scene on every request (and a paused transfer
// again and again): a test changes what it offers between two requests.
// Written aside and renamed, so the site never reads a half-written scene.
async function editScene(dashboard, change) {
  const file = path.join(dashboard.root, 'site', 'site.json');
  const scene = JSON.parse(await fsp.readFile(file, 'utf8'));
  change(scene);
  await fsp.writeFile(file + '.new', JSON.stringify(scene, null, 2));
  await fsp.rename(file + '.new', file);
}

// Lets a paused transfer go on to the next byte given, or to its end.
function movePause(dashboard, archive, pauseAt) {
  return editScene(dashboard, (scene) => {
    if (pauseAt === undefined) delete scene.knobs[archive].pauseAt;
    else scene.knobs[archive].pauseAt = pauseAt;
  });
}

function product(scene, name) {
  return scene.catalogue.find((p) => p.name === name);
}

const archivePath = (name, version) => `/downloads/${name}_${version}.zip`;

// Records the page functions the application calls, then lets the page
// handle them as before. Installed again after every page load.
async function recordPageCalls(page) {
  await page.evaluate(() => {
    window.e2eCalls = [];
    for (const name of ['DownloadProgress', 'DownloadFinished', 'DownloadFailed', 'ProductInstallFinished',
      'ProductUninstallFinished']) {
      const original = window[name];
      window[name] = (...args) => {
        window.e2eCalls.push({ name, args: JSON.parse(JSON.stringify(args)) });
        return original(...args);
      };
    }
  });
}

const pageCalls = (page, name) => page.evaluate((n) => window.e2eCalls.filter((c) => c.name === n), name);

async function waitForPageCall(page, name, predicate = () => true, timeoutMs = 60000) {
  return waitFor(`the page call ${name}`, timeoutMs, async () => (await pageCalls(page, name)).find(predicate));
}

// Clicks a button of a product's row in the products table, as a user does.
async function clickRowButton(page, productName, label) {
  const selector = (name, text) => {
    const row = [...document.querySelectorAll('#catalogue tbody tr')]
      .find((tr) => tr.querySelector('strong') && tr.querySelector('strong').textContent === name);
    return row && [...row.querySelectorAll('button')].find((b) => b.textContent === text && !b.disabled);
  };
  await page.waitForFunction(selector, { polling: 100, timeout: 30000 }, productName, label);
  const handle = await page.evaluateHandle(selector, productName, label);
  await handle.asElement().click();
  await handle.dispose();
}

// The entry of the downloads list for a product, as the page shows it.
const downloadEntry = (page, name) => page.evaluate((n) => {
  const item = [...document.querySelectorAll('#active-downloads li')].find((li) => li.dataset.name === n);
  return item ? { state: item.dataset.state || 'running', text: item.querySelector('.bytes').textContent,
    received: Number(item.dataset.received), total: Number(item.dataset.total),
    buttons: [...item.querySelectorAll('button')].map((b) => b.textContent) } : null;
}, name);

async function installedProducts(page) {
  return JSON.parse(await ask(page, 'GETINSTALLEDPRODUCTS')).Products;
}

describe('the classic product journey from the page', { timeout: 280000 }, () => {
  let bus;
  let dashboard;
  let page;
  let sizes;

  before(async () => {
    bus = await new NotificationBus().start();
    dashboard = await startDashboard({ env: { DBUS_SESSION_BUS_ADDRESS: bus.address } });
    await editScene(dashboard, (scene) => {
      // Large enough to watch, on a line slow enough to see them move.
      product(scene, canvas).size = 4 * MiB;
      product(scene, ledger).size = 4 * MiB;
      product(scene, conduit).size = 4 * MiB;
      scene.knobs = {
        // Held at each MiB until the test has seen it, so the download runs
        // for as long as the test looks at it.
        [archivePath(canvas, '3.2.0')]: { bytesPerSecond: 2 * MiB, pauseAt: MiB },
        [archivePath(conduit, '5.0.2')]: { brokenBody: true },
      };
      sizes = Object.fromEntries(scene.catalogue.map((p) => [p.name, p.size]));
    });
    page = dashboard.page;
    await page.reload({ waitUntil: 'load' });
    await recordPageCalls(page);
  });

  after(async () => {
    if (dashboard) await dashboard.stop();
    if (bus) await bus.stop();
  });

  it('downloads a product with moving progress into its folder under the archive name', async () => {
    const archive = archivePath(canvas, '3.2.0');
    await clickRowButton(page, canvas, 'Download');

    await waitForPageCall(page, 'DownloadProgress', (c) => c.args[0].BytesReceived >= MiB);
    assert.equal(await ask(page, 'GETSTATUS'), 'Download');
    await page.waitForFunction(() => document.getElementById('status-pill').textContent === 'Downloading',
      { polling: 100, timeout: 30000 });
    const running = await downloadEntry(page, canvas);
    assert.equal(running.total, sizes[canvas]);
    assert.match(running.text, new RegExp(`of ${sizes[canvas]} bytes`));
    await page.screenshot({ path: path.join(dashboard.artifacts, 'download-progress.png') });
    // The page hears of every MiB before the line goes on to the next.
    for (const pauseAt of [2 * MiB, 3 * MiB]) {
      await movePause(dashboard, archive, pauseAt);
      await waitForPageCall(page, 'DownloadProgress', (c) => c.args[0].BytesReceived >= pauseAt);
    }
    await movePause(dashboard, archive, undefined);

    const finished = await waitForPageCall(page, 'DownloadFinished');
    // The page gets its own announcement back.
    assert.deepEqual(finished.args[0],
      { EventName: 'DOWNLOAD', Name: canvas, Version: '3.2.0', Registered: true, TotalBytes: sizes[canvas] });
    const progress = await pageCalls(page, 'DownloadProgress');
    const received = progress.map((c) => c.args[0].BytesReceived);
    assert.ok(new Set(received).size >= 3, `progress moved: ${received}`);
    assert.deepEqual(received, [...received].sort((a, b) => a - b));
    assert.equal(progress.at(-1).args[0].TotalBytes, sizes[canvas]);

    const file = path.join(dashboard.downloadDir, canvas, `${canvas}_3.2.0_REG.zip`);
    assert.equal(fs.statSync(file).size, sizes[canvas]);
    assert.equal((await downloadEntry(page, canvas)).state, 'done');
    assert.equal(await ask(page, 'GETSTATUS'), '');
  });

  it('installs from the page, with a desktop notification, and lists the product as installed', async () => {
    const entry = await downloadEntry(page, canvas);
    assert.deepEqual(entry.buttons, ['Install'], 'offered once the download has finished');
    await page.click('#active-downloads li[data-name="ORV ZYN Canvas"] .download-actions button');

    const installed = await waitForPageCall(page, 'ProductInstallFinished');
    assert.equal(installed.args[0].Name, canvas);
    await bus.waitFor({ appName: 'ORVDashboard', summary: notificationTitle, body: `${canvas} finished installing!` });
    assert.deepEqual((await installedProducts(page)).map((p) => [p.Name, p.Version]), [[canvas, '3.2.0']]);
    await page.waitForFunction((name) => [...document.querySelectorAll('#catalogue tbody tr')]
      .some((tr) => tr.textContent.includes(name) && tr.querySelector('.tag.ok')), { polling: 100, timeout: 30000 },
    canvas);
  });

  it('downloads a trial edition under the trial name', async () => {
    // What the page does for a product the account does not hold.
    await page.evaluate((name) => download(state.catalogue.find((p) => p.name === name), false, 'DOWNLOAD'), ledger);
    const finished = await waitForPageCall(page, 'DownloadFinished', (c) => c.args[0].Name === ledger);
    assert.equal(finished.args[0].Registered, false);
    const file = path.join(dashboard.downloadDir, ledger, `${ledger}_5.0.4_TRIAL.zip`);
    assert.equal(fs.statSync(file).size, sizes[ledger]);
  });

  it('shows a transfer that breaks off as failed', async () => {
    await clickRowButton(page, conduit, 'Download');
    const failed = await waitForPageCall(page, 'DownloadFailed');
    assert.equal(failed.args[0].Name, conduit);
    await page.waitForFunction((name) => {
      const item = document.querySelector(`#active-downloads li[data-name="${name}"]`);
      return item && item.dataset.state === 'failed' && item.querySelector('.bytes').textContent === 'failed';
    }, { polling: 100, timeout: 30000 }, conduit);
    assert.equal(await ask(page, 'GETSTATUS'), '');
  });

  it('updates to a newer version: the new archive is downloaded, the old version replaced', async () => {
    await editScene(dashboard, (scene) => { product(scene, canvas).version = '3.3.0'; });
    await page.reload({ waitUntil: 'load' });
    await recordPageCalls(page);

    await clickRowButton(page, canvas, 'Update');
    const finished = await waitForPageCall(page, 'DownloadFinished');
    assert.equal(finished.args[0].EventName, 'DOWNLOAD-UPDATE');
    assert.ok(fs.existsSync(path.join(dashboard.downloadDir, canvas, `${canvas}_3.3.0_REG.zip`)));

    await waitForPageCall(page, 'ProductUninstallFinished');
    const installed = await waitForPageCall(page, 'ProductInstallFinished');
    assert.equal(installed.args[0].Version, '3.3.0');
    await bus.waitFor({ body: `Uninstall ${canvas} successful` });
    assert.deepEqual((await installedProducts(page)).map((p) => [p.Name, p.Version]), [[canvas, '3.3.0']]);
  });

  it('uninstalls from the page', async () => {
    await clickRowButton(page, canvas, 'Uninstall');
    const uninstalled = await waitForPageCall(page, 'ProductUninstallFinished');
    assert.equal(uninstalled.args[0].Name, canvas);
    assert.deepEqual(await installedProducts(page), []);
    await page.waitForFunction((name) => [...document.querySelectorAll('#catalogue tbody tr')]
      .some((tr) => tr.textContent.includes(name) && [...tr.querySelectorAll('button')].some((b) => b.textContent === 'Install')),
    { polling: 100, timeout: 30000 }, canvas);
  });

  it('asks before closing during a download; No keeps it, Yes cancels it and ends everything', async () => {
    const { display } = dashboard;
    await editScene(dashboard, (scene) => {
      product(scene, ledger).version = '5.1.0';
      product(scene, ledger).size = 8 * MiB;
      // Held before its end whatever the time the questions take.
      scene.knobs[archivePath(ledger, '5.1.0')] = { bytesPerSecond: 256 * 1024, pauseAt: MiB };
    });
    await page.reload({ waitUntil: 'load' });
    await recordPageCalls(page);
    await clickRowButton(page, ledger, 'Download');
    await waitForPageCall(page, 'DownloadProgress', (c) => c.args[0].BytesReceived > 0);
    assert.equal(await ask(page, 'GETSTATUS'), 'Download');

    const window = await display.waitForWindow('^ORV Dashboard$');
    await display.closeWindow(window);
    let question = await display.waitForWindow('^Warning$');
    await display.screenshot(path.join(dashboard.artifacts, 'close-question.png'));
    await display.pressKeys(question, 'Escape');
    await display.waitForWindowGone('^Warning$');
    // Bytes past the hold arrive only after the answer: the download went on.
    await movePause(dashboard, archivePath(ledger, '5.1.0'), 2 * MiB);
    await waitForPageCall(page, 'DownloadProgress', (c) => c.args[0].BytesReceived > MiB);
    assert.equal((await pageCalls(page, 'DownloadFinished')).length, 0, 'the download went on');

    await display.closeWindow(window);
    question = await display.waitForWindow('^Warning$');
    await display.pressKeys(question, 'Return');
    const app = dashboard.app;
    await waitFor('the application to end', 30000, () => app.exitCode !== null || app.signalCode !== null);
    assert.equal(app.exitCode, 0);
    await waitFor('every process of the application to end', 30000, () => {
      try {
        process.kill(-app.pid, 0);
        return false;
      } catch {
        return true;
      }
    });
    const target = path.join(dashboard.downloadDir, ledger, `${ledger}_5.1.0_REG.zip`);
    const left = fs.existsSync(target) ? fs.statSync(target).size : 0;
    assert.ok(left < 8 * MiB, 'the download did not finish');
  });
});
