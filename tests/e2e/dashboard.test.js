'use strict';

// The real application against the vendor-site stand-in: the dashboard page
// inside orv-dashboard, driven over DevTools. One application process serves
// every case, so the cases leave the page as they found it.

const assert = require('node:assert/strict');
const fsp = require('node:fs/promises');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { after, before, describe, it } = require('node:test');
const { ask, event, exchange, startDashboard, waitFor } = require('./harness');

const credentials = { USERNAME: 'demo@example.com', PASSWORD: 'DE"MO\\12</script>34' };

describe('orv-dashboard with the vendor-site stand-in', { timeout: 240000 }, () => {
  let dashboard;
  let page;

  before(async () => {
    dashboard = await startDashboard({ settings: credentials });
    page = dashboard.page;
  });

  after(async () => {
    if (dashboard) await dashboard.stop();
  });

  it('loads the dashboard page from the site and shows the version the application reports', async () => {
    assert.equal(page.url(), dashboard.dashboardURL);
    assert.equal(await page.title(), 'ORV Dashboard');
    await page.waitForFunction(() => document.getElementById('dashboard-version').textContent === '1.2.1.0',
      { polling: 100, timeout: 30000 });
    assert.equal(await page.$eval('#no-bridge', (banner) => banner.hidden), true);
    await page.waitForFunction(() => document.querySelectorAll('#catalogue tbody tr').length === 6,
      { polling: 100, timeout: 30000 });

    const file = path.join(dashboard.artifacts, 'dashboard.png');
    await page.screenshot({ path: file });
    const { size } = await fsp.stat(file);
    assert.ok(size > 10000, `screenshot ${file} has only ${size} bytes`);
  });

  it('answers queries whatever the case of the event name', async () => {
    const cases = [
      ['getdashboardversion', '1.2.1.0'],
      ['GetStatus', ''],
      ['getideversion', '{"IDE": ""}'],
      ['getidetheme', '{"IDETheme": "Light"}'],
      ['getkitwrightexists', 'False'],
      ['getkitwrightdir', dashboard.kitwrightDir + '/'],
      ['getproductnotifications', 'True'],
      ['getinstalledproducts', '{"Products": []}'],
      ['getdownloadedproducts', '{"Products": []}'],
    ];
    for (const [eventName, answer] of cases) {
      assert.equal(await ask(page, eventName), answer, eventName);
    }
    // A product-list answer is given once; the next read has no query.
    const [first, second] = await page.evaluate((message) => {
      const bridge = window.chrome.webview.hostObjects.sync.DashboardBridge;
      bridge.ObjectMessage = message;
      return [bridge.ObjectMessage, bridge.ObjectMessage];
    }, event('GETINSTALLEDPRODUCTS'));
    assert.deepEqual([first, second], ['{"Products": []}', '{"action not found"}']);
  });

  it('shows custom data in the log element as the original text', async () => {
    await page.evaluate(() => {
      window.e2eLogged = [];
      new MutationObserver(() => window.e2eLogged.push(document.getElementById('mylog').textContent))
        .observe(document.getElementById('mylog'), { childList: true, characterData: true, subtree: true });
    });
    const texts = [
      'He said "hi" and it\'s fine',
      'C:\\Tools\\orv.exe \\u0041 \\n',
      '</script><b id="injected">bold</b><script>window.e2eInjected = 1</script>',
      'first line\nsecond line',
      'Grüße ✓ \u2028 \u2029 end',
      '[]',
    ];
    for (const text of texts) {
      await exchange(page, event('E2E-NOTE') + 'customdata://' + encodeURIComponent(text), false);
      await page.waitForFunction((expected) => window.e2eLogged.includes(expected), { polling: 50, timeout: 30000 },
        text);
    }
    assert.equal(await page.evaluate(() => document.getElementById('injected') === null && !window.e2eInjected), true);
    assert.equal(await page.$eval('#mylog', (log) => log.childElementCount), 0);
  });

  it('rejects a malformed message in the page with the reader\'s error and keeps the last query', async () => {
    const cases = [
      ['"GETSTATUS"', 'Object or array expected as top-level value'],
      ['{"EventName": "GETSTATUS"', 'Unterminated object'],
      ['{"EventName":', 'End of JSON input reached.'],
      ['{EventName: "GETSTATUS"}', 'Name expected'],
    ];
    for (const [eventPart, expected] of cases) {
      const outcome = await page.evaluate((query, malformed) => {
        const bridge = window.chrome.webview.hostObjects.sync.DashboardBridge;
        bridge.ObjectMessage = query;
        let error = null;
        try {
          bridge.ObjectMessage = malformed;
        } catch (e) {
          error = e instanceof Error ? e.message : String(e);
        }
        return { error, answer: bridge.ObjectMessage };
      }, event('GETDASHBOARDVERSION'), 'jsevent://' + encodeURIComponent(eventPart));
      assert.deepEqual(outcome, { error: expected, answer: '1.2.1.0' }, eventPart);
    }
  });

  it('answers the stored credentials as valid JSON, quotes and backslashes included', async () => {
    assert.deepEqual(JSON.parse(await ask(page, 'getusercredentials')),
      { Username: credentials.USERNAME, Code: credentials.PASSWORD });
  });

  it('opens the package manager\'s log through the desktop and answers its address', async () => {
    const expected = pathToFileURL(path.join(dashboard.kitwrightDir, 'Logs', 'orv.log.html')).href;
    assert.match(expected, /^file:\/\/\/.*kit%20wright\/Logs\/orv\.log\.html$/);
    assert.equal(await ask(page, 'GETKITWRIGHTLOG'), expected);
    await waitFor('the log address at the desktop', 30000, () => dashboard.opened().includes(expected));
  });

  it('opens new-window links and window.open() with the desktop while the dashboard stays', async () => {
    const pages = async () => (await dashboard.browser.targets()).filter((t) => t.type() === 'page').length;
    const before = await pages();
    const link = 'https://example.invalid/docs/page%20one.html';
    await page.evaluate((address) => {
      const anchor = Object.assign(document.createElement('a'),
        { href: address, target: '_blank', id: 'e2e-link', textContent: 'external' });
      document.body.prepend(anchor);
    }, link);
    await page.click('#e2e-link');
    await page.$eval('#e2e-link', (anchor) => anchor.remove());
    await waitFor('the link at the desktop', 30000, () => dashboard.opened().includes(link));

    // The page calls window.open() only once puppeteer has let go (while
    // attached it holds every new window at its start): it waits for a
    // sign the test gives from outside, a user name in the settings.
    const script = 'https://example.invalid/news?from=script&x=1';
    const sign = 'window.open@example.invalid';
    await page.evaluate((address, user, query) => {
      const waitForSign = () => {
        const bridge = window.chrome.webview.hostObjects.sync.DashboardBridge;
        bridge.ObjectMessage = query;
        if (JSON.parse(String(bridge.ObjectMessage)).Username === user) {
          window.e2eOpened = String(window.open(address));
        } else {
          setTimeout(waitForSign, 50);
        }
      };
      waitForSign();
    }, script, sign, event('GETUSERCREDENTIALS'));
    await dashboard.detached(async () => {
      await dashboard.writeSettings({ ...credentials, USERNAME: sign });
      await waitFor('window.open() at the desktop', 30000, () => dashboard.opened().includes(script));
    });
    page = dashboard.page;
    await dashboard.writeSettings(credentials);

    // The desktop may hear of the window before window.open() has returned.
    await page.waitForFunction(() => window.e2eOpened !== undefined, { polling: 50, timeout: 30000 });
    assert.equal(await page.evaluate(() => window.e2eOpened), '[object Window]', 'the page went on running');
    assert.equal(page.url(), dashboard.dashboardURL);
    assert.equal(await pages(), before);
    assert.equal(await ask(page, 'GETDASHBOARDVERSION'), '1.2.1.0');
  });

  it('gives pages of another origin no host objects', async () => {
    const foreign = dashboard.dashboardURL.replace('://127.0.0.1:', '://localhost:');
    const visits = [foreign, 'data:text/html,<title>elsewhere</title><p>elsewhere</p>'];
    try {
      for (const url of visits) {
        await page.goto(url, { waitUntil: 'load', timeout: 30000 });
        const seen = await page.evaluate(() => ({
          hostObjects: Boolean(window.chrome && window.chrome.webview && window.chrome.webview.hostObjects),
          banner: document.getElementById('no-bridge') ? !document.getElementById('no-bridge').hidden : null,
        }));
        assert.equal(seen.hostObjects, false, url);
        if (url === foreign) assert.equal(seen.banner, true, 'the page says it is outside the application');
      }
    } finally {
      await page.goto(dashboard.dashboardURL, { waitUntil: 'load', timeout: 30000 });
    }
    assert.equal(await ask(page, 'getdashboardversion'), '1.2.1.0');
  });
});
