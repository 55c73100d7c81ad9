'use strict';

// One large product archive downloaded through the real application (its
// engine, download tracking and page, progress shown) beside curl -o of the
// same address from the same vendor-site stand-in, and beside the engine's
// own floor: bare_web_download, a bare view on the same page whose engine
// downloads the same address. Runs alternate between the three; the ratios
// of medians are the figures, as the machine's speed varies more than the
// ratios. Each size runs in an application (and a bare view) of its own,
// and their peak memory shows whether it grows with the file.
//
//   node bench/download_bench.js [--sizes 64,512] [--runs 5]
//
// Goals: the application within 1.05x the bare engine, its memory flat.
//
// Needs the build (build/src/app/orv-dashboard, build/tools/vendor-site/
// orv-vendor-site, build/bench/bare_web_download; or ORV_DASHBOARD_BIN,
// ORV_VENDOR_SITE_BIN and ORV_BARE_DOWNLOAD_BIN) and the npm packages of
// tests/e2e.

const { execFile, spawn } = require('node:child_process');
const fs = require('node:fs');
const fsp = require('node:fs/promises');
const path = require('node:path');
const { promisify } = require('node:util');
const readline = require('node:readline');
const { startDashboard, waitFor } = require('../tests/e2e/harness');

const run = promisify(execFile);
const MiB = 1024 * 1024;
const productName = 'ORV ZYN Core';

function option(name, fallback) {
  const at = process.argv.indexOf(`--${name}`);
  return at > 0 ? process.argv[at + 1] : fallback;
}

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

// The process and every process below it.
function processTree(root) {
  const children = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (!children.has(parent)) children.set(parent, []);
      children.get(parent).push(Number(entry));
    } catch {
      // Gone meanwhile.
    }
  }
  const tree = [];
  const visit = (pid) => {
    tree.push(pid);
    for (const child of children.get(pid) || []) visit(child);
  };
  visit(root);
  return tree;
}

// Peak resident memory (VmHWM) of each process of the application, in MiB.
function peakMemory(root) {
  return processTree(root).map((pid) => {
    try {
      const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
      const name = /^Name:\s*(.*)$/m.exec(status)[1];
      const kib = Number(/^VmHWM:\s*(\d+)/m.exec(status)[1]);
      return { pid, name, peakMiB: kib / 1024 };
    } catch {
      return null;
    }
  }).filter(Boolean);
}

// bare_web_download on the dashboard's display and page: download(url)
// resolves to the seconds from the click to the engine's end.
class BareDownload {
  constructor(dashboard) {
    const bin = process.env.ORV_BARE_DOWNLOAD_BIN || path.join(__dirname, '..', 'build', 'bench', 'bare_web_download');
    this.folder = path.join(dashboard.root, 'bare-downloads');
    this.child = spawn(bin, [dashboard.dashboardURL, path.join(dashboard.root, 'bare-profile'), this.folder], {
      env: { ...dashboard.env, QTWEBENGINE_REMOTE_DEBUGGING: '' },
      stdio: ['pipe', 'pipe', 'ignore'],
    });
    this.lines = [];
    this.waiting = null;
    this.exited = new Promise((resolve) => this.child.on('exit', (code, signal) => resolve(signal || code)));
    readline.createInterface({ input: this.child.stdout }).on('line', (line) => {
      this.lines.push(line);
      if (this.waiting) this.waiting();
    });
  }

  async nextLine() {
    while (!this.lines.length) {
      const ended = await Promise.race([new Promise((resolve) => { this.waiting = resolve; }).then(() => null), this.exited]);
      if (ended !== null && !this.lines.length) throw new Error(`bare_web_download ended (${ended})`);
    }
    return this.lines.shift();
  }

  async ready() {
    const line = await this.nextLine();
    if (line !== 'ready') throw new Error(`bare_web_download said ${line}`);
  }

  async clear() {
    await fsp.rm(this.folder, { recursive: true, force: true });
  }

  async download(url, size) {
    this.child.stdin.write(url + '\n');
    const [word, seconds, bytes] = (await this.nextLine()).split(' ');
    if (word !== 'finished' || Number(bytes) !== size) throw new Error(`the bare engine's download ${word} at ${bytes} bytes`);
    return Number(seconds);
  }

  async stop() {
    this.child.stdin.end();
    await this.exited;
  }
}

async function benchSize(sizeMiB, runs) {
  const dashboard = await startDashboard();
  let bare = null;
  try {
    const sceneFile = path.join(dashboard.root, 'site', 'site.json');
    const scene = JSON.parse(await fsp.readFile(sceneFile, 'utf8'));
    const product = scene.catalogue.find((p) => p.name === productName);
    product.size = sizeMiB * MiB;
    await fsp.writeFile(sceneFile, JSON.stringify(scene));
    const url = `${dashboard.site.url}/downloads/${encodeURIComponent(`${productName}_${product.version}`)}.zip`;
    const curlFile = path.join(dashboard.root, 'curl.zip');
    const engineFile = path.join(dashboard.downloadDir, productName, `${productName}_${product.version}_REG.zip`);
    // The site makes the archive on the first request.
    await run('curl', ['-sf', '-o', curlFile, url], { maxBuffer: 1024 });

    bare = new BareDownload(dashboard);
    await bare.ready();
    const { page } = dashboard;
    await page.reload({ waitUntil: 'load' });
    await page.evaluate(() => {
      window.benchCalls = [];
      for (const name of ['DownloadProgress', 'DownloadFinished', 'DownloadFailed']) {
        const original = window[name];
        window[name] = (...args) => {
          window.benchCalls.push({ name, at: performance.now() });
          return original(...args);
        };
      }
    });

    const curlTimes = [];
    const engineTimes = [];
    const bareTimes = [];
    const progressCalls = [];
    const viaCurl = async () => {
      await fsp.rm(curlFile, { force: true });
      await run('sync');
      const start = process.hrtime.bigint();
      await run('curl', ['-sf', '-o', curlFile, url]);
      curlTimes.push(Number(process.hrtime.bigint() - start) / 1e9);
      if (fs.statSync(curlFile).size !== product.size) throw new Error('curl got a short file');
    };
    const viaApplication = async () => {
      await fsp.rm(engineFile, { force: true });
      await run('sync');
      const startedAt = await page.evaluate((name) => {
        window.benchCalls = [];
        const at = performance.now();
        download(state.catalogue.find((p) => p.name === name), true, 'DOWNLOAD');
        return at;
      }, productName);
      const end = await waitFor('the download to finish', 600000, () => page.evaluate(
        () => window.benchCalls.find((c) => c.name !== 'DownloadProgress')));
      if (end.name !== 'DownloadFinished') throw new Error(`the download ended with ${end.name}`);
      engineTimes.push((end.at - startedAt) / 1000);
      progressCalls.push(await page.evaluate(() => window.benchCalls.filter((c) => c.name === 'DownloadProgress').length));
      if (fs.statSync(engineFile).size !== product.size) throw new Error('the engine got a short file');
    };
    const viaBareEngine = async () => {
      await bare.clear();
      await run('sync');
      bareTimes.push(await bare.download(url, product.size));
    };
    // Each run starts with the previous file written out, and the order
    // turns from run to run, so that no one of the three always follows
    // the same other.
    const order = [viaCurl, viaApplication, viaBareEngine];
    for (let i = 0; i < runs; i++) {
      for (let k = 0; k < order.length; k++) await order[(i + k) % order.length]();
    }
    await fsp.rm(curlFile, { force: true });
    await fsp.rm(engineFile, { force: true });
    await bare.clear();
    return {
      sizeMiB, curlTimes, engineTimes, bareTimes, progressCalls,
      memory: peakMemory(dashboard.app.pid), bareMemory: peakMemory(bare.child.pid),
    };
  } finally {
    if (bare) await bare.stop();
    await dashboard.stop();
  }
}

async function main() {
  const sizes = option('sizes', '64,512').split(',').map(Number);
  const runs = Number(option('runs', '5'));
  for (const size of sizes) {
    const result = await benchSize(size, runs);
    const curl = median(result.curlTimes);
    const engine = median(result.engineTimes);
    const bare = median(result.bareTimes);
    const times = (list) => list.map((t) => t.toFixed(3)).join(' ');
    const total = (memory) => memory.reduce((sum, { peakMiB }) => sum + peakMiB, 0);
    console.log(`${size} MiB, ${runs} runs each`);
    console.log(`  curl -o         median ${curl.toFixed(3)} s  (${times(result.curlTimes)})`);
    console.log(`  bare engine     median ${bare.toFixed(3)} s  (${times(result.bareTimes)})`);
    console.log(`  application     median ${engine.toFixed(3)} s  (${times(result.engineTimes)})`);
    console.log(`  ratio of medians: application / bare engine ${(engine / bare).toFixed(2)}x,` +
      ` application / curl ${(engine / curl).toFixed(2)}x, bare engine / curl ${(bare / curl).toFixed(2)}x`);
    console.log(`  DownloadProgress page calls per download: ${result.progressCalls.join(' ')}`);
    for (const { name, peakMiB } of result.memory) console.log(`  peak memory ${name}: ${peakMiB.toFixed(0)} MiB`);
    console.log(`  peak memory of all processes: application ${total(result.memory).toFixed(0)} MiB,` +
      ` bare engine ${total(result.bareMemory).toFixed(0)} MiB`);
  }
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
