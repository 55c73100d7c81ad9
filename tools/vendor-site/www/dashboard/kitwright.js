'use strict';

// The ORV Kitwright side of the dashboard page: the products ticked for a
// batch, the batch buttons, the Kitwright column of the product table, the
// progress bars and the console, and the page functions the application
// calls while the package manager works. Loaded before dashboard.js, whose
// helpers ($, el, tag, Bridge, state, guarded, sendMessage) it uses.

const kitwright = {
  selected: [],           // product names in the order the user ticked them
  // 'asked' from the button until the batch's first progress report,
  // 'running' from then until the next finish. A finish before the first
  // report ends another command (a status refresh), not the batch.
  batch: 'idle',
  lastRows: undefined,    // the last status answer, as text
  rowsTimer: undefined,
  progress: null,         // the last report not drawn yet: {overall, kind}
  productProgress: new Map(), // product name -> its last percent, not drawn yet
  drawScheduled: false,
  received: 0,            // output lines received since the page loaded
};

// The console keeps the newest lines; the package manager's log has all.
const kitwrightConsole = new ConsoleView(document.getElementById('console'), 10000);
// Each status query starts a refresh in the background whose rows only a
// later query shows. After a start or a click the rows are read again a
// few times, apart enough for that refresh to run, until they change.
// Reading at every finish instead would start refreshes without end.
const rowsReread = { intervalMs: 2000, times: 5 };

function isTickedForKitwright(name) {
  return kitwright.selected.includes(name);
}

function tickForKitwright(name, ticked) {
  kitwright.selected = kitwright.selected.filter((n) => n !== name);
  if (ticked) kitwright.selected.push(name);
}

// The Kitwright column: the package manager's status and local version.
function kitwrightCell(product) {
  const managed = state.kitwright.find((p) => p.ID === product.kitwrightId || p.Name === product.name);
  if (!managed) return tag('—');
  const cell = tag(managed.Status + (managed.Version ? ' ' + managed.Version : ''),
    managed.Status === 'installed' ? 'ok' : '');
  cell.dataset.status = managed.Status;
  return cell;
}

// Reads the status rows; true when they changed.
function readKitwrightRows() {
  const answer = guarded(() => Bridge.ask('GETKITWRIGHTPRODUCTSTATUS'));
  if (answer === undefined || answer === kitwright.lastRows) return false;
  kitwright.lastRows = answer;
  state.kitwright = productsOf(answer);
  renderCatalogue();
  return true;
}

function refreshKitwright() {
  const exists = guarded(() => Bridge.ask('GETKITWRIGHTEXISTS')) === 'True';
  const dir = guarded(() => Bridge.ask('GETKITWRIGHTDIR')) || '';
  $('kitwright-info').textContent = exists
    ? 'Package manager found in ' + dir
    : 'Package manager not found in ' + (dir || 'the configured folder') + '. Set its folder in the options.';
  enableKitwrightButtons(exists);
  clearInterval(kitwright.rowsTimer);
  if (!exists) return;
  readKitwrightRows();
  let times = 0;
  kitwright.rowsTimer = setInterval(() => {
    if (readKitwrightRows() || ++times >= rowsReread.times) clearInterval(kitwright.rowsTimer);
  }, rowsReread.intervalMs);
}

function enableKitwrightButtons(enabled) {
  for (const id of ['btn-kitwright-status', 'btn-kitwright-log', 'btn-kitwright-logtext']) $(id).disabled = !enabled;
  for (const id of ['btn-batch-install', 'btn-batch-uninstall', 'btn-batch-reinstall']) {
    $(id).disabled = !enabled || kitwright.batch !== 'idle';
  }
}

// kinds: the batch item kinds for every ticked product, in this order; a
// reinstall removes the products and installs them again.
function runBatch(...kinds) {
  if (!kitwright.selected.length) {
    showError(new Error('Select at least one product first.'));
    return;
  }
  const products = kitwright.selected.map((name) => state.catalogue.find((p) => p.name === name));
  const unmanaged = products.filter((p) => !p.kitwrightId).map((p) => p.name);
  if (unmanaged.length) {
    showError(new Error('Not available through Kitwright: ' + unmanaged.join(', ')));
    return;
  }
  const steps = [];
  for (const kind of kinds) for (const product of products) steps.push([kind, product.name]);
  sendKitwrightBatch(steps);
}

// Sends one MULTIACTION item per [kind, product name] step and shows the
// batch as asked for (the end-to-end tests also send batches the buttons
// cannot make through it).
function sendKitwrightBatch(steps) {
  const items = steps.map(([kind, name]) => {
    const product = state.catalogue.find((p) => p.name === name);
    return {
      EventName: kind, Name: name, Version: product.version, KitwrightID: product.kitwrightId,
      Registered: registeredEdition(name),
    };
  });
  kitwrightConsole.clear();
  kitwright.productProgress.clear();
  $('product-progress').replaceChildren();
  kitwright.batch = 'asked';
  enableKitwrightButtons(true);
  // The question comes while the message is being sent; a No ends the
  // batch at once (ProductInstallAbort).
  if (!sendMessage('MULTIACTION', items)) endBatch();
  refreshStatus();
}

function endBatch() {
  kitwright.batch = 'idle';
  enableKitwrightButtons(true);
}

// ---- drawing ---------------------------------------------------------------

// Progress reports arrive many to a script, and scripts follow each other
// quickly while the package manager prints at full speed; the page draws
// what arrived once per frame, not once per report. The console draws its
// own lines likewise.
function scheduleDraw() {
  if (kitwright.drawScheduled) return;
  kitwright.drawScheduled = true;
  requestAnimationFrame(() => {
    kitwright.drawScheduled = false;
    drawProgress();
  });
}

function appendConsoleLine(text) {
  kitwrightConsole.append(text);
}

// When the work ends: what is still to draw is shown at once, so that the
// end comes after everything before it.
function draw() {
  kitwrightConsole.draw();
  drawProgress();
}

const percentWidth = (value) => Math.max(0, Math.min(100, Number(value) || 0)) + '%';

function drawProgress() {
  if (kitwright.progress) {
    const { overall, kind } = kitwright.progress;
    kitwright.progress = null;
    $('batch-progress').hidden = false;
    $('batch-fill').style.width = percentWidth(overall);
    $('batch-label').textContent = `${kind === 'Install' ? 'Installing' : 'Uninstalling'}, ${overall}% overall`;
  }
  const list = $('product-progress');
  for (const [product, percent] of kitwright.productProgress) {
    let item = [...list.children].find((li) => li.dataset.product === product);
    if (!item) {
      item = el('li', {}, el('span', { className: 'name', textContent: product }), ' ',
        el('span', { className: 'percent' }), el('div', { className: 'bar' }, el('div', { className: 'fill' })));
      item.dataset.product = product;
      list.append(item);
    }
    item.querySelector('.percent').textContent = percent + '%';
    item.querySelector('.fill').style.width = percentWidth(percent);
  }
  kitwright.productProgress.clear();
}

// ---- page functions the application calls --------------------------------

function KitwrightOutput(line) {
  kitwright.received++;
  appendConsoleLine(String(line));
}

// overall: percent of the whole command; productName and productPercent:
// the product being worked on (empty name before and after the products).
function KitwrightActionProgress(overall, productName, productPercent, kind) {
  if (kitwright.batch === 'asked') kitwright.batch = 'running';
  kitwright.progress = { overall, kind };
  if (productName) kitwright.productProgress.set(productName, productPercent);
  scheduleDraw();
}

function KitwrightActionFinished() {
  draw();
  if (kitwright.batch === 'running') {
    endBatch();
    $('batch-label').textContent += ' – finished';
    // The rows of the batch's own refresh are there now.
    readKitwrightRows();
  }
  refreshStatus();
}

function ProductInstallAbort() {
  endBatch();
  appendConsoleLine('Batch cancelled.');
}
