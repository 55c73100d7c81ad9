'use strict';

// The page's "Your account" section inside the real application, against
// the vendor-site stand-in's REST API: wrong credentials, a failing products
// endpoint, the demo account's products, and an API host out of reach.
// The application fetches the products once per run, so the cases of one
// run go from failure to success.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const fsp = require('node:fs/promises');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, it } = require('node:test');
const { startDashboard, freePort, waitFor } = require('./harness');

const demo = { USERNAME: 'demo@example.com', PASSWORD: 'DEMO-1234' };
const artifactsDir = path.join(process.env.ORV_E2E_ARTIFACTS || path.join(os.tmpdir(), 'orv-e2e-artifacts'), 'account');
const emptyState = 'No products found for your account. Check your e-mail and registration code in Options.';

// The section's list as the user sees it.
function accountList(page) {
  return page.$$eval('#account-products li', (items) => items.map((item) => ({
    text: item.querySelector('strong') ? item.querySelector('strong').textContent : item.textContent,
    tags: [...item.querySelectorAll('.tag')].map((t) => t.textContent),
  })));
}

async function waitForAccountList(page, expected) {
  try {
    await page.waitForFunction((wanted) => {
      const items = [...document.querySelectorAll('#account-products li')].map((item) => ({
        text: item.querySelector('strong') ? item.querySelector('strong').textContent : item.textContent,
        tags: [...item.querySelectorAll('.tag')].map((t) => t.textContent),
      }));
      return JSON.stringify(items) === JSON.stringify(wanted);
    }, { polling: 100, timeout: 30000 }, expected);
  } catch (error) {
    assert.deepEqual(await accountList(page), expected);
    throw error;
  }
}

// The REST requests the stand-in answered, as "METHOD path status", from
// its log.
function apiRequests(dashboard) {
  const log = fs.readFileSync(path.join(dashboard.artifacts, 'vendor-site.log'), 'utf8');
  return log.split('\n').filter((line) => / \/orv\//.test(line));
}

// The stand-in logs an answer just after sending it.
async function expectApiRequests(dashboard, expected) {
  await waitFor('the stand-in\'s log', 30000, () => apiRequests(dashboard).length >= expected.length).catch(() => {});
  assert.deepEqual(apiRequests(dashboard), expected);
}

// Written aside and renamed: the site reads its scene on every request and
// must never find it half-written.
async function editScene(dashboard, change) {
  const scene = JSON.parse(await fsp.readFile(dashboard.sceneFile, 'utf8'));
  change(scene);
  await fsp.writeFile(dashboard.sceneFile + '.new', JSON.stringify(scene));
  await fsp.rename(dashboard.sceneFile + '.new', dashboard.sceneFile);
}

const ask = (page, eventName) => page.evaluate((name) => {
  const bridge = window.chrome.webview.hostObjects.sync.DashboardBridge;
  bridge.ObjectMessage = 'jsevent://' + encodeURIComponent(JSON.stringify({ EventName: name }));
  return String(bridge.ObjectMessage);
}, eventName);

describe('the account section with the stand-in\'s REST API', { timeout: 240000 }, () => {
  let dashboard;
  let page;

  before(async () => {
    dashboard = await startDashboard({ artifactsDir, settings: { ...demo, PASSWORD: 'WRONG-CODE' } });
    page = dashboard.page;
  });

  after(async () => {
    if (dashboard) await dashboard.stop();
  });

  it('says to check the credentials when the vendor refuses them', async () => {
    await waitForAccountList(page, [{ text: emptyState, tags: [] }]);
    assert.equal(await page.$eval('#account-user', (p) => p.textContent), 'Account: demo@example.com');
    await expectApiRequests(dashboard, ['POST /orv/auth/oauth/token 401']);
  });

  it('shows the empty state while the products endpoint fails, after one further attempt', async () => {
    await dashboard.writeSettings(demo);
    await editScene(dashboard, (scene) => { scene.knobs = { '/orv/api/setup/user/products': { status: 503 } }; });
    await page.click('#btn-account');
    await waitForAccountList(page, [{ text: emptyState, tags: [] }]);
    await expectApiRequests(dashboard, [
      'POST /orv/auth/oauth/token 401',
      'POST /orv/auth/oauth/token 200', 'GET /orv/api/setup/user/products 503',
      'POST /orv/auth/oauth/token 200', 'GET /orv/api/setup/user/products 503',
    ]);
  });

  it('lists the account\'s products with their versions, marked when installed or downloaded', async () => {
    await editScene(dashboard, (scene) => { scene.knobs = {}; });
    const archive = path.join(dashboard.downloadDir, 'ORV ZYN Canvas', 'ORV ZYN Canvas_3.2.0_REG.zip');
    await fsp.mkdir(path.dirname(archive), { recursive: true });
    await fsp.writeFile(archive, '');
    const installDir = path.join(dashboard.root, 'installed', 'Keystone');
    await fsp.mkdir(installDir, { recursive: true });
    await fsp.writeFile(path.join(installDir, 'unins000.exe'), '');
    await dashboard.writeSettings(demo, {
      'Software\\orvsoftware\\ORV Keystone Core': { InstallDir: installDir, Version: '5.0.3' },
    });
    await page.click('#btn-refresh');
    await waitForAccountList(page, [
      { text: 'ORV ZYN Core', tags: ['3.2.0'] },
      { text: 'ORV ZYN Canvas', tags: ['3.2.0', 'downloaded'] },
      { text: 'ORV Keystone Core', tags: ['5.0.4', 'installed 5.0.3'] },
      { text: 'ORV Legacy Charts', tags: [] },
    ]);
    // The page may show the answer before the stand-in has logged it.
    await waitFor('the products answer in the stand-in\'s log', 30000,
      () => apiRequests(dashboard).at(-1) === 'GET /orv/api/setup/user/products 200');
    const fetched = apiRequests(dashboard).length;

    // Once per run: later looks answer from what was fetched.
    await page.click('#btn-account');
    await page.click('#btn-refresh');
    await waitForAccountList(page, (await accountList(page)));
    assert.equal(apiRequests(dashboard).length, fetched);
    // Products outside the account are offered as trials in the catalogue.
    const trials = await page.$$eval('#catalogue tbody tr', (rows) => rows
      .filter((row) => [...row.querySelectorAll('.tag')].some((t) => t.textContent === 'trial'))
      .map((row) => row.querySelector('strong').textContent));
    assert.deepEqual(trials, ['ORV ZYN Flow', 'ORV Ledger', 'ORV Conduit']);
  });
});

describe('the account section with the API host out of reach', { timeout: 240000 }, () => {
  let dashboard;
  let page;

  before(async () => {
    // A port nobody listens on.
    const api = `http://127.0.0.1:${await freePort()}`;
    dashboard = await startDashboard({ artifactsDir, settings: demo, env: { ORV_DASHBOARD_API_URL: api } });
    page = dashboard.page;
  });

  after(async () => {
    if (dashboard) await dashboard.stop();
  });

  it('shows the empty state and the window stays responsive', async () => {
    await waitForAccountList(page, [{ text: emptyState, tags: [] }]);
    assert.deepEqual(apiRequests(dashboard), []);
    for (let i = 0; i < 3; ++i) {
      await page.click('#btn-account');
      assert.equal(await ask(page, 'GETREGISTEREDPRODUCTS'), '{"Products": []}');
      assert.equal(await ask(page, 'GETDASHBOARDVERSION'), '1.2.1.0');
    }
    await waitForAccountList(page, [{ text: emptyState, tags: [] }]);
    await page.waitForFunction(() => document.querySelectorAll('#catalogue tbody tr').length === 6,
      { polling: 100, timeout: 30000 });
  });
});
