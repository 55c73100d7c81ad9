'use strict';

// Page messages far longer than one prompt's own text (which the engine
// cuts after 10,240 characters), in the real application: a 1 MiB message
// arrives whole, a batch of 500 products built by the page's own function
// reaches the package manager whole, and a message beyond the bridge's
// limit fails in the page with an error that says so.

const assert = require('node:assert/strict');
const fsp = require('node:fs/promises');
const { after, before, describe, it } = require('node:test');
const { startDashboard, waitFor, exchange, event } = require('./harness');

const settings = { USERNAME: 'demo@example.com', PASSWORD: 'DEMO-1234' };
const productCount = 500;
const products = Array.from({ length: productCount }, (_, n) => {
  const number = String(n).padStart(3, '0');
  return { id: `orv.bulk.pack${number}`, name: `ORV Bulk Pack ${number}`, version: '1.0.0' };
});

const kitwrightState = {
  version: '2.5.0.0',
  folder_initialized: true,
  credentials: { email: settings.USERNAME, code: settings.PASSWORD },
  repositories: {
    default: Object.fromEntries(products.map((p) => [p.id, { name: p.name, version: `${p.version}.0`, vendor_id: 'orv' }])),
  },
  installed: {},
  knobs: {},
};

describe('Page messages of any size', { timeout: 280000 }, () => {
  let dashboard;
  let page;
  let display;

  before(async () => {
    dashboard = await startDashboard({ settings, kitwright: kitwrightState });
    ({ page, display } = dashboard);
    await page.evaluate(() => {
      window.e2eCalls = [];
      for (const name of ['KitwrightActionFinished', 'ProductInstallAbort']) {
        const original = window[name];
        window[name] = (...args) => {
          window.e2eCalls.push(name);
          return original(...args);
        };
      }
    });
  });

  after(async () => {
    if (dashboard) await dashboard.stop();
  });

  it('carries a 1 MiB message whole', async () => {
    const data = 'orv-1MiB '.repeat(Math.ceil((1 << 20) / 9)).slice(0, 1 << 20);
    const message = event('GETSTATUS') + 'customdata://' + encodeURIComponent(data);
    assert.ok(message.length > 1 << 20);
    // The application writes every message's custom data into the page's
    // log line, which the page's own messages overwrite soon after: every
    // text it shows is kept.
    await page.evaluate(() => {
      const text = Object.getOwnPropertyDescriptor(Node.prototype, 'textContent');
      window.e2eLogTexts = [];
      Object.defineProperty(document.getElementById('mylog'), 'textContent', {
        get() { return text.get.call(this); },
        set(value) { window.e2eLogTexts.push(value); text.set.call(this, value); },
      });
    });
    assert.equal(await exchange(page, message), '', 'the status query after it is answered');
    const shown = await waitFor('the message\'s data in the page\'s log line', 60000, () =>
      page.evaluate((length) => window.e2eLogTexts.find((text) => text.length === length), data.length));
    assert.equal(shown, data);
  });

  it('hands a batch of 500 products, as the page builds it, to the package manager whole', async () => {
    const scene = JSON.parse(await fsp.readFile(dashboard.sceneFile, 'utf8'));
    scene.catalogue.push(...products.map((p, n) => ({
      name: p.name, orvId: 5000 + n, version: p.version, kitwrightId: p.id, registryName: p.name.replace(/ /g, ''),
      size: 1048576,
    })));
    await fsp.writeFile(dashboard.sceneFile + '.new', JSON.stringify(scene));
    await fsp.rename(dashboard.sceneFile + '.new', dashboard.sceneFile);
    await page.evaluate(() => loadCatalogue());
    assert.ok(await page.evaluate((n) => state.catalogue.length >= n, productCount));

    const commands = dashboard.kitwrightCommands().length;
    const sent = page.evaluate((names) => sendKitwrightBatch(names.map((name) => ['INSTALLKITWRIGHTPRODUCT', name])),
      products.map((p) => p.name));
    const box = await display.waitForWindow('^Warning$');
    await display.pressKeys(box, 'Return');
    await sent;
    const install = await waitFor('the package manager\'s install command', 120000, () =>
      dashboard.kitwrightCommands().slice(commands).find((c) => c.startsWith('install ')));
    assert.equal(install, `install ${products.map((p) => p.id).join(' ')} -display-options:product-progress`);
    await waitFor('the batch to end', 120000,
      async () => (await page.evaluate(() => window.e2eCalls)).includes('KitwrightActionFinished'));
  });

  it('refuses a message beyond the bridge\'s limit with an error that says so', async () => {
    const refused = await page.evaluate(() => {
      try {
        window.chrome.webview.hostObjects.sync.DashboardBridge.ObjectMessage = 'x'.repeat(16 * 1024 * 1024);
        return 'no error';
      } catch (error) {
        return error.message;
      }
    });
    assert.match(refused, /^The message is too large for the host object: \d+ characters \(the most is 16777216\)$/);
    // The bridge goes on working.
    assert.equal(await exchange(page, event('GETIDEVERSION')), '{"IDE": ""}');
  });
});
