'use strict';

// The application when the vendor's site cannot be reached: the error page
// offers the window's Options beside Retry. The user opens the real dialog
// from it and closes it through the X display; only then does the page load
// the site again, which has come back meanwhile.

const assert = require('node:assert/strict');
const http = require('node:http');
const path = require('node:path');
const { after, before, describe, it } = require('node:test');
const { freePort, startDashboard, waitFor } = require('./harness');

const title = '^ORV Dashboard Options$';

describe('the error page of a site that cannot be reached', { timeout: 240000 }, () => {
  let dashboard;
  let port;
  let site = null;

  before(async () => {
    port = await freePort();
    dashboard = await startDashboard({
      env: { ORV_DASHBOARD_SITE_URL: `http://127.0.0.1:${port}` },
      pageURL: 'data:',
    });
  });

  after(async () => {
    if (dashboard) await dashboard.stop();
    if (site) await new Promise((resolve) => site.close(resolve));
  });

  it('opens the Options dialog and loads the site again once the dialog is closed', async () => {
    const { display, page, artifacts } = dashboard;
    const address = `http://127.0.0.1:${port}/site/dashboard`;
    await page.waitForSelector('#options', { timeout: 30000 });
    assert.equal(await page.$eval('#address', (e) => e.textContent), address);
    await display.screenshot(path.join(artifacts, 'offline-page.png'));

    await page.click('#options');
    const dialog = await display.waitForWindow(title);
    // The site answers again while the dialog is open.
    const requests = [];
    site = http.createServer((request, response) => {
      requests.push({ url: request.url, at: Date.now() });
      response.writeHead(200, { 'Content-Type': 'text/html' });
      response.end('<!DOCTYPE html><html><head><title>site back</title></head><body>back</body></html>');
    });
    await new Promise((resolve) => site.listen(port, '127.0.0.1', resolve));
    await display.screenshot(path.join(artifacts, 'offline-options.png'));
    assert.equal(await page.$eval('#address', (e) => e.textContent), address, 'still the error page');

    const closedAt = Date.now();
    await display.closeWindow(dialog);
    await display.waitForWindowGone(title);
    await waitFor('the site loaded again', 30000, async () => (await page.title().catch(() => '')) === 'site back');
    assert.equal(page.url(), address);
    assert.ok(requests.length > 0);
    assert.deepEqual(requests.filter((r) => r.at < closedAt), [], 'nothing asked before the dialog closed');
  });
});
