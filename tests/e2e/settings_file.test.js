'use strict';

// The application on a settings file it cannot use: the window still opens,
// the user is told once, and the file stays as the user left it.

const assert = require('node:assert/strict');
const fsp = require('node:fs/promises');
const path = require('node:path');
const { after, describe, it } = require('node:test');
const { ask, startDashboard } = require('./harness');

const brokenHive = 'Windows Registry Editor Version 5.00\n\n'
  + '[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"USERNAME"=garbage\n';

describe('orv-dashboard with a malformed settings file', { timeout: 180000 }, () => {
  let dashboard;

  after(async () => {
    if (dashboard) await dashboard.stop();
  });

  it('opens the dashboard, warns once and leaves the file untouched', async () => {
    dashboard = await startDashboard({ hive: brokenHive });
    const { display, page } = dashboard;

    const warning = await display.waitForWindow('^Warning$');
    await display.screenshot(path.join(dashboard.artifacts, 'unusable-settings.png'));
    await display.pressKeys(warning, 'Return');
    await display.waitForWindowGone('^Warning$');

    assert.equal(await ask(page, 'GETDASHBOARDVERSION'), '1.2.1.0');
    assert.equal(await display.hasWindow('^Warning$'), false, 'told once');
    assert.equal(await fsp.readFile(dashboard.hiveFile, 'utf8'), brokenHive);
  });
});
