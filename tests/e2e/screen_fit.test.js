'use strict';

// The application's window and its options dialog on a 1600x1000 screen at
// scale 1 and 2, read through the X display: both open inside the screen,
// at their designed sizes where those fit. The window also carries the
// program's icon and the class its desktop entry names.

const assert = require('node:assert/strict');
const { execFile } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { promisify } = require('node:util');
const { after, before, describe, it } = require('node:test');
const { startDashboard } = require('./harness');

const run = promisify(execFile);
const desktopEntry = path.join(__dirname, '..', '..', 'data', 'com.orvsoftware.Dashboard.desktop');
const screen = { width: 1600, height: 1000 };

async function x(display, program, args) {
  const { stdout } = await run(program, args,
    { env: { ...process.env, DISPLAY: display.name }, maxBuffer: 64 * 1024 * 1024 });
  return stdout;
}

// Position on the screen and size, in the display's pixels.
async function geometry(display, id) {
  const text = await x(display, 'xwininfo', ['-id', id]);
  const field = (name) => Number(new RegExp(`${name}:\\s+(-?\\d+)`).exec(text)[1]);
  return {
    x: field('Absolute upper-left X'), y: field('Absolute upper-left Y'), width: field('Width'), height: field('Height'),
  };
}

async function minimumSize(display, id) {
  const text = await x(display, 'xprop', ['-id', id, 'WM_NORMAL_HINTS']);
  const match = /minimum size: (\d+) by (\d+)/.exec(text);
  return match && { width: Number(match[1]), height: Number(match[2]) };
}

function assertInside(box, what) {
  assert.ok(box.x >= 0 && box.y >= 0 && box.x + box.width <= screen.width && box.y + box.height <= screen.height,
    `${what} leaves the screen: ${JSON.stringify(box)}`);
}

function desktopEntryKey(key) {
  const match = new RegExp(`^${key}=(.*)$`, 'm').exec(fs.readFileSync(desktopEntry, 'utf8'));
  return match && match[1];
}

// Sizes in the display's pixels.
for (const { scale, window: designedWindow, minimum, dialog: designedDialog } of [
  { scale: 1, window: { width: 1400, height: 800 }, minimum: { width: 1200, height: 500 },
    dialog: { width: 514, height: 716 } },
  // 800x500 device-independent pixels: too small for either design.
  { scale: 2, window: { width: 1600, height: 1000 }, minimum: { width: 1600, height: 1000 },
    dialog: { width: 1028, height: 1000 } },
]) {
  describe(`the window at scale ${scale}`, { timeout: 240000 }, () => {
    let dashboard;
    let windowId;

    before(async () => {
      dashboard = await startDashboard({ env: { QT_SCALE_FACTOR: String(scale) } });
      windowId = await dashboard.display.waitForWindow('^ORV Dashboard$');
    });

    after(async () => {
      if (dashboard) await dashboard.stop();
    });

    it('opens inside the screen and can be made no larger than it', async () => {
      const box = await geometry(dashboard.display, windowId);
      assertInside(box, 'the window');
      assert.deepEqual({ width: box.width, height: box.height }, designedWindow);
      assert.deepEqual(await minimumSize(dashboard.display, windowId), minimum);
      await dashboard.display.screenshot(path.join(dashboard.artifacts, `screen-fit-${scale}x-window.png`));
    });

    it('carries the icon and the class of its desktop entry', async () => {
      const wmClass = await x(dashboard.display, 'xprop', ['-id', windowId, 'WM_CLASS']);
      const [, instance, className] = /= "([^"]*)", "([^"]*)"/.exec(wmClass);
      assert.equal(instance, 'orv-dashboard');
      assert.equal(className, desktopEntryKey('StartupWMClass'));
      const icon = await x(dashboard.display, 'xprop', ['-id', windowId, '_NET_WM_ICON']);
      const sizes = [...icon.matchAll(/Icon \((\d+) x (\d+)\)/g)].map((m) => `${m[1]}x${m[2]}`);
      // Qt hands the images over in the display's pixels.
      for (const size of [16, 32, 48].map((s) => `${s * scale}x${s * scale}`)) {
        assert.ok(sizes.includes(size), `no ${size} icon in ${sizes}`);
      }
    });

    it('opens the options dialog inside the screen', async () => {
      const { display, page } = dashboard;
      // The page's click returns only when the dialog has closed.
      const clicked = page.click('#btn-options').catch(() => {});
      const dialogId = await display.waitForWindow('^ORV Dashboard Options$');
      const box = await geometry(display, dialogId);
      await display.screenshot(path.join(dashboard.artifacts, `screen-fit-${scale}x-options.png`));
      assertInside(box, 'the options dialog');
      assert.deepEqual({ width: box.width, height: box.height }, designedDialog);
      await display.closeWindow(dialogId);
      await display.waitForWindowGone('^ORV Dashboard Options$');
      await clicked;
    });
  });
}
