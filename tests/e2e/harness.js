'use strict';

// Starts the real pieces of an end-to-end run: the vendor-site stand-in with
// a scene of its own, and orv-dashboard on a private X display (whose
// windows and dialogs the tests drive with the keyboard) in a private home
// with its own settings hive, with the desktop's "open" command replaced by a recorder
// and DevTools on a free port, so that puppeteer can drive the page inside
// the application. Everything started here runs in process groups of its
// own and is ended by stop().

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const fsp = require('node:fs/promises');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { XDisplay } = require('./x_display');

const repoRoot = path.resolve(__dirname, '..', '..');
const demoScene = path.join(repoRoot, 'tools', 'vendor-site', 'demo', 'site.json');
const settingsKey = 'HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard';

function binary(envName, buildPath) {
  const file = process.env[envName] || path.join(repoRoot, 'build', buildPath);
  if (!fs.existsSync(file)) throw new Error(`${envName}: no executable at ${file} (build it first)`);
  return file;
}

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

async function waitFor(what, timeoutMs, probe) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
    await sleep(100);
  }
}

// A port free at the moment of asking; the loopback listeners used here
// bind it right afterwards.
function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.unref();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// The settings hive in the registry-export format the application reads;
// text values escape backslashes and quotes. otherKeys adds keys below
// HKEY_CURRENT_USER by their path ("Software\\orvsoftware\\Product").
function hiveText(values, otherKeys = {}) {
  const lines = ['Windows Registry Editor Version 5.00'];
  const keys = { [settingsKey]: values };
  for (const [key, keyValues] of Object.entries(otherKeys)) keys[`HKEY_CURRENT_USER\\${key}`] = keyValues;
  for (const [key, keyValues] of Object.entries(keys)) {
    lines.push('', `[${key}]`);
    for (const [name, value] of Object.entries(keyValues)) {
      const text = typeof value === 'number'
        ? `dword:${value.toString(16).padStart(8, '0')}`
        : `"${String(value).replace(/[\\"]/g, (c) => '\\' + c)}"`;
      lines.push(`"${name}"=${text}`);
    }
  }
  return lines.join('\n') + '\n';
}

// Writes a file aside and renames it into place: the application and the
// stand-ins read their files at any moment, and must never find one
// half-written.
async function writeWhole(file, text) {
  await fsp.writeFile(file + '.new', text, { mode: 0o600 });
  await fsp.rename(file + '.new', file);
}

function groupAlive(pid) {
  try {
    process.kill(-pid, 0);
    return true;
  } catch (error) {
    return error.code === 'EPERM';
  }
}

function signalGroup(pid, signal) {
  try {
    process.kill(-pid, signal);
  } catch {
    // Already gone.
  }
}

// Ends a process group: first a polite signal to its leader (so that it
// can end its own children), then the whole group.
async function endGroup(leader) {
  if (!leader || !groupAlive(leader)) return;
  try {
    process.kill(leader, 'SIGTERM');
  } catch {
    // Already gone.
  }
  const gone = async (ms) => {
    const deadline = Date.now() + ms;
    while (groupAlive(leader) && Date.now() < deadline) await sleep(50);
    return !groupAlive(leader);
  };
  if (await gone(10000)) return;
  signalGroup(leader, 'SIGTERM');
  if (await gone(5000)) return;
  signalGroup(leader, 'SIGKILL');
  await gone(5000);
}

// The vendor site stand-in on a free loopback port, serving a copy of the
// demo scene from dataDir.
async function startVendorSite(dataDir, logFile) {
  await fsp.mkdir(dataDir, { recursive: true });
  await fsp.copyFile(demoScene, path.join(dataDir, 'site.json'));
  const log = fs.openSync(logFile, 'w');
  const child = spawn(binary('ORV_VENDOR_SITE_BIN', 'tools/vendor-site/orv-vendor-site'),
    ['--port', '0', '--data', dataDir], { detached: true, stdio: ['ignore', 'pipe', log] });
  fs.closeSync(log);
  const url = await new Promise((resolve, reject) => {
    let buffered = '';
    const timer = setTimeout(() => reject(new Error('orv-vendor-site printed no "listening on" line')), 20000);
    child.on('exit', (code) => reject(new Error(`orv-vendor-site exited early with ${code}`)));
    child.stdout.on('data', (chunk) => {
      buffered += chunk;
      const match = /^listening on (http:\/\/\S+)$/m.exec(buffered);
      if (match) {
        clearTimeout(timer);
        resolve(match[1]);
      }
    });
  });
  child.stdout.resume();
  return { child, url };
}

class Dashboard {
  constructor(root, artifacts) {
    this.root = root;
    this.artifacts = artifacts;
    this.home = path.join(root, 'home');
    this.kitwrightDir = path.join(root, 'kit wright');
    this.downloadDir = path.join(this.home, 'Downloads');
    this.hiveFile = path.join(root, 'registry.reg');
    this.openLog = path.join(root, 'opened.txt');
    this.site = null;
    this.display = null;
    this.app = null;
    this.browser = null;
    this.page = null;
  }

  get dashboardURL() {
    return this.site.url + '/site/dashboard';
  }

  // The stand-in's scene, read anew by the site on every request.
  get sceneFile() {
    return path.join(this.root, 'site', 'site.json');
  }

  // Replaces the application's settings (and other keys of its hive); it
  // reads them anew on every use.
  async writeSettings(settings, otherKeys = {}) {
    await writeWhole(this.hiveFile, hiveText({
      DOWNLOADDIR: this.downloadDir, KITWRIGHTDIR: this.kitwrightDir, ...settings,
    }, otherKeys));
  }

  // Every argument the application handed to the desktop's "open" command.
  opened() {
    return fs.existsSync(this.openLog) ? fs.readFileSync(this.openLog, 'utf8').split('\n').filter(Boolean) : [];
  }

  // The orv.exe stand-in in the package manager's folder, with its state
  // file; the application finds it through the KITWRIGHTDIR setting.
  async installKitwright(state) {
    await fsp.copyFile(binary('ORV_STANDIN_BIN', 'tools/orv/orv.exe'), path.join(this.kitwrightDir, 'orv.exe'));
    await fsp.chmod(path.join(this.kitwrightDir, 'orv.exe'), 0o755);
    await this.writeKitwrightState(state);
  }

  get kitwrightStateFile() {
    return path.join(this.kitwrightDir, 'orv-state.json');
  }

  async writeKitwrightState(state) {
    await writeWhole(this.kitwrightStateFile, JSON.stringify(state));
  }

  readKitwrightState() {
    return JSON.parse(fs.readFileSync(this.kitwrightStateFile, 'utf8'));
  }

  // The runs of the package manager stand-in that ended, oldest first: the
  // command line, the output lines (the stand-in leaves bulk lines out of
  // its log and notes their size instead) and the exit code.
  kitwrightRuns() {
    const log = path.join(this.kitwrightDir, 'Logs', 'orv.log.html');
    if (!fs.existsSync(log)) return [];
    const html = fs.readFileSync(log, 'utf8');
    const unescape = (text) => text.replace(/&quot;/g, '"').replace(/&lt;/g, '<').replace(/&gt;/g, '>')
      .replace(/&amp;/g, '&');
    return [...html.matchAll(/<h3>\S+ orv (.*)<\/h3>\n<pre>([\s\S]*?)<\/pre>\n<p>Exit code (-?\d+)<\/p>/g)]
      .map((m) => ({
        command: unescape(m[1]),
        lines: unescape(m[2]).split('\n').slice(0, -1).filter((line) => !/^\(\d+ bytes of bulk output not logged\)$/.test(line)),
        exitCode: Number(m[3]),
      }));
  }

  // The command lines the package manager stand-in ran, oldest first.
  kitwrightCommands() {
    return this.kitwrightRuns().map((run) => run.command);
  }

  // hive: the settings file's text as it stands, instead of one made from
  // settings.
  async prepare(settings, hive, keys) {
    for (const dir of ['config', 'data', 'cache', 'state'].map((d) => path.join(this.root, 'xdg', d))) {
      await fsp.mkdir(dir, { recursive: true });
    }
    await fsp.mkdir(path.join(this.root, 'xdg', 'runtime'), { recursive: true, mode: 0o700 });
    await fsp.mkdir(this.downloadDir, { recursive: true });
    await fsp.mkdir(this.kitwrightDir, { recursive: true });
    await fsp.writeFile(this.hiveFile, hive ?? hiveText(settings, keys), { mode: 0o600 });

    const bin = path.join(this.root, 'bin');
    await fsp.mkdir(bin);
    const quotedLog = `'${this.openLog.replace(/'/g, `'\\''`)}'`;
    await fsp.writeFile(path.join(bin, 'xdg-open'), `#!/bin/sh\nprintf '%s\\n' "$1" >> ${quotedLog}\n`, { mode: 0o755 });
    return bin;
  }

  // env: variables for the application on top of the private ones (a
  // session bus, for instance). keys: other keys of the hive (see
  // hiveText). kitwright: the stand-in package manager's state; without it
  // the package manager is not there. pageURL: the start of the address of
  // the page to drive, the dashboard's unless given.
  async start({ settings = {}, hive, keys, env: extraEnv = {}, kitwright, pageURL } = {}) {
    await fsp.mkdir(this.artifacts, { recursive: true });
    this.site = await startVendorSite(path.join(this.root, 'site'), path.join(this.artifacts, 'vendor-site.log'));
    const bin = await this.prepare({
      DOWNLOADDIR: this.downloadDir, KITWRIGHTDIR: this.kitwrightDir, ...settings,
    }, hive, keys);
    if (kitwright) await this.installKitwright(kitwright);
    this.display = new XDisplay();
    await this.display.start();
    const devtoolsPort = await freePort();
    const xdg = (d) => path.join(this.root, 'xdg', d);
    const env = {
      ...process.env,
      PATH: `${bin}:${process.env.PATH || '/usr/bin:/bin'}`,
      HOME: this.home,
      XDG_CONFIG_HOME: xdg('config'),
      XDG_DATA_HOME: xdg('data'),
      XDG_CACHE_HOME: xdg('cache'),
      XDG_STATE_HOME: xdg('state'),
      XDG_RUNTIME_DIR: xdg('runtime'),
      ORV_REGISTRY_FILE: this.hiveFile,
      ORV_DASHBOARD_SITE_URL: this.site.url,
      ORV_DASHBOARD_API_URL: this.site.url,
      QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${devtoolsPort}`,
      QTWEBENGINE_CHROMIUM_FLAGS: '--disable-gpu',
    };
    env.DISPLAY = this.display.name;
    delete env.DBUS_SESSION_BUS_ADDRESS;
    Object.assign(env, extraEnv);
    this.env = env;
    const log = fs.openSync(path.join(this.artifacts, 'orv-dashboard.log'), 'w');
    this.app = spawn(binary('ORV_DASHBOARD_BIN', 'src/app/orv-dashboard'), [],
      { detached: true, env, stdio: ['ignore', log, log] });
    fs.closeSync(log);
    let exited = null;
    this.app.on('exit', (code, signal) => { exited = signal || code; });
    this.app.on('error', (error) => { exited = error.message; });

    this.devtoolsURL = `http://127.0.0.1:${devtoolsPort}`;
    const connection = await connectDashboardPage({
      devtoolsURL: this.devtoolsURL,
      dashboardURL: pageURL || this.dashboardURL,
      check: () => {
        if (exited !== null) throw new Error(`orv-dashboard ended early (${exited}); see orv-dashboard.log`);
      },
    });
    this.browser = connection.browser;
    this.page = connection.page;
    return this;
  }

  // Runs whileAway() with puppeteer detached, then attaches again. While
  // attached, puppeteer holds every new window at its start for the
  // debugger, and a window.open() whose window the application hands to the
  // desktop would then keep the page waiting.
  async detached(whileAway) {
    await this.browser.disconnect();
    this.browser = null;
    this.page = null;
    await whileAway();
    const { browser, page } = await connectDashboardPage({ devtoolsURL: this.devtoolsURL, dashboardURL: this.dashboardURL });
    this.browser = browser;
    this.page = page;
  }

  // Starts the program once more as the user would, with the same
  // environment, in a process group of its own, and waits for it to end:
  // its exit code, output and process group.
  runAgain(timeoutMs = 30000) {
    return new Promise((resolve, reject) => {
      const child = spawn(binary('ORV_DASHBOARD_BIN', 'src/app/orv-dashboard'), [],
        { detached: true, env: this.env, stdio: ['ignore', 'pipe', 'pipe'] });
      let stdout = '';
      child.stdout.on('data', (chunk) => { stdout += chunk; });
      child.stderr.resume();
      const timer = setTimeout(() => {
        child.kill('SIGKILL');
        reject(new Error(`the second orv-dashboard still runs after ${timeoutMs} ms`));
      }, timeoutMs);
      child.on('exit', (code) => {
        clearTimeout(timer);
        resolve({ code, stdout, group: child.pid });
      });
    });
  }

  async stop() {
    if (this.browser) {
      await this.browser.disconnect().catch(() => {});
      this.browser = null;
    }
    if (this.app) {
      await endGroup(this.app.pid);
      this.app = null;
    }
    if (this.display) {
      await this.display.stop();
      this.display = null;
    }
    if (this.site) {
      await endGroup(this.site.child.pid);
      this.site = null;
    }
    await fsp.rm(this.root, { recursive: true, force: true });
  }
}

// Connects puppeteer to an application's DevTools endpoint and waits for
// its dashboard page to finish loading; check() throws when the application
// is gone, so that a failed start is reported at once.
async function connectDashboardPage({ devtoolsURL, dashboardURL, check = () => {} }) {
  await waitFor('the DevTools endpoint', 60000, async () => {
    check();
    try {
      return (await fetch(devtoolsURL + '/json/version')).ok;
    } catch {
      return false;
    }
  });
  const browser = await puppeteer.connect({ browserURL: devtoolsURL, defaultViewport: null });
  try {
    const page = await waitFor('the dashboard page', 60000, async () => {
      check();
      for (const candidate of await browser.pages()) {
        if (candidate.url().startsWith(dashboardURL)) return candidate;
      }
      return null;
    });
    await page.waitForFunction(() => document.readyState === 'complete', { polling: 100, timeout: 30000 });
    return { browser, page };
  } catch (error) {
    await browser.disconnect().catch(() => {});
    throw error;
  }
}

// One dashboard in a fresh temporary root, which stop() removes; logs and
// screenshots go to artifactsDir, which stays. env adds to or overrides the
// application's environment; kitwright is the stand-in package manager's
// state; pageURL names the page to drive when it is not the dashboard's.
async function startDashboard({ artifactsDir, settings, hive, keys, env, kitwright, pageURL } = {}) {
  const root = await fsp.mkdtemp(path.join(os.tmpdir(), 'orv-e2e-'));
  const artifacts = artifactsDir || process.env.ORV_E2E_ARTIFACTS || path.join(os.tmpdir(), 'orv-e2e-artifacts');
  const dashboard = new Dashboard(root, artifacts);
  try {
    await dashboard.start({ settings, hive, keys, env, kitwright, pageURL });
  } catch (error) {
    await dashboard.stop();
    throw error;
  }
  return dashboard;
}

// Sends one message over the page's host object and, for a query, reads the
// answer; both in one page turn, so the page's own timers cannot interleave.
function exchange(page, message, read = true) {
  return page.evaluate((text, readBack) => {
    const bridge = window.chrome.webview.hostObjects.sync.DashboardBridge;
    bridge.ObjectMessage = text;
    return readBack ? String(bridge.ObjectMessage) : null;
  }, message, read);
}

const event = (eventName) => 'jsevent://' + encodeURIComponent(JSON.stringify({ EventName: eventName }));
const ask = (page, eventName) => exchange(page, event(eventName));

module.exports = { startDashboard, connectDashboardPage, waitFor, freePort, exchange, event, ask };
