'use strict';

// The options dialog in the real application: the page's "Options" button
// opens it, the user changes the account e-mail on the real dialog through
// the X display, and on closing the settings are stored, the page's query
// returns and the page reloads to reflect them.

const assert = require('node:assert/strict');
const fsp = require('node:fs/promises');
const path = require('node:path');
const { after, before, describe, it } = require('node:test');
const { startDashboard, waitFor } = require('./harness');

const title = '^ORV Dashboard Options$';
// Delphi 12 and Delphi 11 are installed.
const ideKeys = { 'Software\\Embarcadero\\BDS\\23.0\\Globals': {}, 'Software\\Embarcadero\\BDS\\22.0\\Globals': {} };

// The package manager has stored Delphi 12 as the only version to install for.
const kitwright = { version: '2.5.0.0', config: { 'configuration for all products:delphi versions': '[delphi12]' } };

async function storedUserName(hiveFile) {
  const match = /^"USERNAME"="([^"]*)"$/m.exec(await fsp.readFile(hiveFile, 'utf8'));
  return match && match[1];
}

describe('the options dialog opened from the page', { timeout: 240000 }, () => {
  let dashboard;

  before(async () => {
    dashboard = await startDashboard({
      settings: { USERNAME: 'old@example.com', PASSWORD: 'CODE-1' },
      keys: ideKeys,
      kitwright,
    });
  });

  after(async () => {
    if (dashboard) await dashboard.stop();
  });

  it('stores a changed e-mail after closing, answers only then, and reloads the page', async () => {
    const { display, page, artifacts } = dashboard;
    // The page's own call, recorded where the reload cannot wipe it.
    await page.evaluate(() => {
      window.e2eBeforeOptions = true;
      const ask = Bridge.ask;
      Bridge.ask = (eventName) => {
        const answer = ask(eventName);
        if (eventName === 'GETOPTIONSDIALOG') {
          sessionStorage.setItem('e2eOptions', JSON.stringify({ answer, at: Date.now() }));
        }
        return answer;
      };
    });
    // The click returns only when the page's handler does: after the dialog.
    const clicked = page.click('#btn-options').catch(() => {});

    const dialog = await display.waitForWindow(title);
    const shot = (name) => display.screenshot(path.join(artifacts, `options-${name}.png`));
    await display.pressKeys(dialog, 'ctrl+a');
    await display.typeText(dialog, 'new@example.com');
    await shot('settings');
    for (const tab of ['options', 'status', 'about']) {
      await display.pressKeys(dialog, 'ctrl+Tab');
      await shot(tab);
    }
    assert.equal(await storedUserName(dashboard.hiveFile), 'old@example.com', 'nothing stored while open');

    const closedAt = Date.now();
    await display.closeWindow(dialog);
    await display.waitForWindowGone(title);

    assert.equal(await storedUserName(dashboard.hiveFile), 'new@example.com');
    await waitFor('the reloaded page', 30000, () => page.evaluate(() =>
      window.e2eBeforeOptions === undefined && document.readyState === 'complete').catch(() => false));
    await clicked;
    // The package manager was asked for the stored versions when the dialog
    // opened, and given the unchanged choice before the page reloaded.
    const commands = dashboard.kitwrightCommands();
    assert.ok(commands.some((c) => c.startsWith('config-read ')), commands.join('\n'));
    assert.ok(commands.some((c) => /^config-write -p:.*=\[delphi12\]"?$/.test(c)), commands.join('\n'));
    const navigation = await page.evaluate(() => performance.getEntriesByType('navigation')[0].type);
    assert.equal(navigation, 'reload');
    const { answer, at } = JSON.parse(await page.evaluate(() => sessionStorage.getItem('e2eOptions')));
    assert.equal(answer, '{}');
    assert.ok(at >= closedAt, `answered ${closedAt - at} ms before the dialog closed`);

    // The reloaded page shows the account as now stored.
    await page.click('#btn-account');
    await page.waitForFunction(() => document.getElementById('account-user').textContent === 'Account: new@example.com',
      { polling: 100, timeout: 30000 });
  });
});
