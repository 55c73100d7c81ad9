'use strict';

// Starting the program while it runs: the running window comes to the
// front and no second window or engine appears.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const { after, describe, it } = require('node:test');
const { ask, startDashboard } = require('./harness');

// The engine's helper processes in a process group.
function engineProcesses(group) {
  return fs.readdirSync('/proc').filter((entry) => {
    if (!/^\d+$/.test(entry)) return false;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      return Number(fields[2]) === group && stat.includes('(QtWebEngineProc');
    } catch {
      return false;  // ended meanwhile
    }
  }).length;
}

describe('orv-dashboard started twice', { timeout: 180000 }, () => {
  let dashboard;

  after(async () => {
    if (dashboard) await dashboard.stop();
  });

  it('keeps one window and one engine', async () => {
    dashboard = await startDashboard();
    const { display, page } = dashboard;
    assert.ok(engineProcesses(dashboard.app.pid) > 0, 'the first program runs an engine');

    const second = await dashboard.runAgain();
    assert.equal(second.code, 0);
    assert.match(second.stdout, /ORV Dashboard is already running; its window has been brought to the front\./);

    const { stdout } = await display.xdotool(['search', '--onlyvisible', '--name', '^ORV Dashboard$']);
    assert.equal(stdout.trim().split('\n').length, 1, 'one window');
    assert.equal(engineProcesses(second.group), 0, 'no second engine');
    assert.equal(await ask(page, 'GETDASHBOARDVERSION'), '1.2.1.0');
  });
});
