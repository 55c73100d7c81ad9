'use strict';

// A private X display (Xvfb) for one application, and what a user does on
// it: wait for a window by its title, press keys and type text in it, take
// a picture of the whole screen. Windows are found and driven with xdotool, as a user's
// keyboard would: the application gets no test-only switch.

const { execFile, spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { promisify } = require('node:util');

const run = promisify(execFile);

class XDisplay {
  constructor() {
    this.server = null;
    this.name = null;
  }

  // Starts Xvfb on the first free display number; Xvfb itself reports the
  // number it took on the descriptor given by -displayfd.
  async start({ width = 1600, height = 1000 } = {}) {
    this.server = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', `${width}x${height}x24`, '-nolisten', 'tcp'],
      { detached: true, stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
    this.name = await new Promise((resolve, reject) => {
      let text = '';
      const timer = setTimeout(() => reject(new Error('Xvfb reported no display number')), 20000);
      this.server.on('exit', (code) => reject(new Error(`Xvfb exited early with ${code}`)));
      this.server.stdio[3].on('data', (chunk) => {
        text += chunk;
        if (text.includes('\n')) {
          clearTimeout(timer);
          resolve(`:${text.trim()}`);
        }
      });
    });
    return this.name;
  }

  async stop() {
    if (!this.server) return;
    const server = this.server;
    this.server = null;
    if (server.exitCode !== null) return;
    const exited = new Promise((resolve) => server.on('exit', resolve));
    server.kill('SIGTERM');
    await exited;
  }

  xdotool(args, options = {}) {
    return run('xdotool', args, { env: { ...process.env, DISPLAY: this.name }, ...options });
  }

  // The id of a visible window whose title matches the regular expression
  // (xdotool's syntax), waiting for it to appear.
  async waitForWindow(title, timeoutMs = 30000) {
    const { stdout } = await this.xdotool(['search', '--sync', '--onlyvisible', '--name', title],
      { timeout: timeoutMs });
    return stdout.trim().split('\n')[0];
  }

  // Whether a visible window with such a title is there now.
  async hasWindow(title) {
    try {
      await this.xdotool(['search', '--onlyvisible', '--name', title]);
      return true;
    } catch {
      return false;  // xdotool exits 1 when nothing matches
    }
  }

  // Waits until no visible window has such a title.
  async waitForWindowGone(title, timeoutMs = 30000) {
    const deadline = Date.now() + timeoutMs;
    while (await this.hasWindow(title)) {
      if (Date.now() > deadline) throw new Error(`window "${title}" still shown after ${timeoutMs} ms`);
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
  }

  // Gives the window the keyboard and types the keys (xdotool key names,
  // for example "Return", "Escape", "alt+n").
  async pressKeys(windowId, ...keys) {
    await this.xdotool(['windowfocus', '--sync', windowId]);
    await this.xdotool(['key', '--clearmodifiers', ...keys]);
  }

  // Asks the window to close, as a window manager's close button would.
  async closeWindow(windowId) {
    await run(path.join(__dirname, 'x_close_window.py'), [windowId], { env: { ...process.env, DISPLAY: this.name } });
  }

  // Gives the window the keyboard and types the text as keystrokes.
  async typeText(windowId, text) {
    await this.xdotool(['windowfocus', '--sync', windowId]);
    await this.xdotool(['type', '--clearmodifiers', '--delay', '20', text]);
  }

  // A PNG of the whole screen, dialogs included.
  async screenshot(file) {
    const env = { ...process.env, DISPLAY: this.name };
    const { stdout } = await run('sh', ['-c', 'xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng'],
      { env, encoding: 'buffer', maxBuffer: 64 * 1024 * 1024 });
    await fs.promises.writeFile(file, stdout);
  }
}

module.exports = { XDisplay };
