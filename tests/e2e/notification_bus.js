'use strict';

// A private D-Bus session bus with the desktop's notification service on it
// (notification_service.py), which records every notification it is asked
// to show. Give the application DBUS_SESSION_BUS_ADDRESS = bus.address.

const { spawn } = require('node:child_process');
const fsp = require('node:fs/promises');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');

// Resolves with the first line matching the test, from a child's output.
function firstLine(child, what, test, timeoutMs = 20000) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${what}: nothing after ${timeoutMs} ms`)), timeoutMs);
    child.on('exit', (code) => reject(new Error(`${what} exited early with ${code}`)));
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      const value = test(line);
      if (value !== undefined) {
        clearTimeout(timer);
        resolve(value);
      }
    });
  });
}

async function endChild(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  const exited = new Promise((resolve) => child.on('exit', resolve));
  try {
    process.kill(-child.pid, 'SIGTERM');
  } catch {
    return;  // already gone
  }
  await exited;
}

class NotificationBus {
  constructor() {
    this.address = null;
    this.notifications = [];
    this.daemon = null;
    this.service = null;
    this.dir = null;
  }

  async start() {
    this.dir = await fsp.mkdtemp(path.join(os.tmpdir(), 'orv-bus-'));
    this.daemon = spawn('dbus-daemon',
      ['--session', '--nofork', '--print-address=1', `--address=unix:path=${path.join(this.dir, 'bus')}`],
      // Its only complaint as root is about the descriptor limit.
      { detached: true, stdio: ['ignore', 'pipe', 'ignore'] });
    this.address = await firstLine(this.daemon, 'dbus-daemon', (line) => (line.startsWith('unix:') ? line : undefined));

    this.service = spawn(path.join(__dirname, 'notification_service.py'), [],
      { detached: true, env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: this.address }, stdio: ['ignore', 'pipe', 'inherit'] });
    const ready = firstLine(this.service, 'the notification service', (line) => {
      const record = JSON.parse(line);
      if (record.notify) this.notifications.push(record.notify);
      return record.ready ? true : undefined;
    });
    await ready;
    return this;
  }

  // Waits for a notification whose fields match; returns it.
  async waitFor(expected, timeoutMs = 30000) {
    const matches = (n) => Object.entries(expected).every(([key, value]) => n[key] === value);
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      const found = this.notifications.find(matches);
      if (found) return found;
      if (Date.now() > deadline) {
        throw new Error(`no notification ${JSON.stringify(expected)} after ${timeoutMs} ms; shown: ${JSON.stringify(this.notifications)}`);
      }
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
  }

  async stop() {
    await endChild(this.service);
    await endChild(this.daemon);
    if (this.dir) await fsp.rm(this.dir, { recursive: true, force: true });
  }
}

module.exports = { NotificationBus };
