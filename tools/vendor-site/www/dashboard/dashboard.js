'use strict';

// The dashboard page talks to the application over the synchronous host
// object "DashboardBridge": a message is "jsevent://" + the encoded JSON of
// the event, optionally followed by "customdata://" + the encoded data; a
// query is answered by reading ObjectMessage right after sending it.
const Bridge = (() => {
  let sequence = 0;
  const host = () => {
    const webview = window.chrome && window.chrome.webview;
    return webview && webview.hostObjects && webview.hostObjects.sync
      ? webview.hostObjects.sync.DashboardBridge : undefined;
  };
  const encode = (eventName, customData) => {
    let message = 'jsevent://' +
      encodeURIComponent(JSON.stringify({ EventName: eventName, ID: String(++sequence) }));
    if (customData !== undefined) {
      const text = typeof customData === 'string' ? customData : JSON.stringify(customData);
      message += 'customdata://' + encodeURIComponent(text);
    }
    return message;
  };
  return {
    available: () => host() !== undefined,
    send(eventName, customData) {
      host().ObjectMessage = encode(eventName, customData);
    },
    ask(eventName) {
      host().ObjectMessage = encode(eventName);
      return String(host().ObjectMessage);
    },
  };
})();

const $ = (id) => document.getElementById(id);

const state = {
  catalogue: [],
  installed: [],
  downloaded: [],
  account: [],
  kitwright: [],
  search: new URLSearchParams(location.search).get('q') || '',
};

function showError(error) {
  const banner = $('error-banner');
  banner.textContent = error && error.message ? error.message : String(error);
  banner.hidden = false;
  clearTimeout(showError.timer);
  showError.timer = setTimeout(() => { banner.hidden = true; }, 8000);
}

// Runs a bridge call; a native failure arrives as a thrown error.
function guarded(action) {
  try {
    return action();
  } catch (error) {
    showError(error);
    return undefined;
  }
}

// Sends a message; false when the application refused it.
function sendMessage(eventName, customData) {
  try {
    Bridge.send(eventName, customData);
    return true;
  } catch (error) {
    showError(error);
    return false;
  }
}

function productsOf(answer) {
  try {
    const parsed = JSON.parse(answer);
    return Array.isArray(parsed.Products) ? parsed.Products : [];
  } catch {
    return [];
  }
}

function compareVersions(a, b) {
  const pa = String(a).split('.').map(Number);
  const pb = String(b).split('.').map(Number);
  for (let i = 0; i < Math.max(pa.length, pb.length); i++) {
    const d = (pa[i] || 0) - (pb[i] || 0);
    if (d) return d;
  }
  return 0;
}

function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  Object.assign(node, props);
  for (const child of children) {
    if (child !== null && child !== undefined) node.append(child);
  }
  return node;
}

function button(label, onClick, props = {}) {
  return el('button', {
    type: 'button', className: 'small', textContent: label, onclick: onClick, disabled: !Bridge.available(), ...props,
  });
}

function tag(text, kind = '') {
  return el('span', { className: 'tag ' + kind, textContent: text });
}

// ---- queries -------------------------------------------------------------

function refreshStatus() {
  if (!Bridge.available()) return;
  const status = guarded(() => Bridge.ask('GETSTATUS'));
  if (status === undefined) return;
  const pill = $('status-pill');
  const labels = { DownloadInstall: 'Downloading and installing', Install: 'Installing', Download: 'Downloading' };
  pill.textContent = labels[status] || 'Idle';
  pill.dataset.state = status ? 'busy' : 'idle';
}

function refreshIdeRunning() {
  if (!Bridge.available()) return;
  const running = guarded(() => Bridge.ask('GETIDERUNNING')) === 'True';
  const pill = $('ide-pill');
  pill.textContent = running ? 'IDE running' : 'IDE not running';
  pill.dataset.state = running ? 'on' : 'idle';
}

function refreshProducts() {
  state.installed = productsOf(guarded(() => Bridge.ask('GETINSTALLEDPRODUCTS')));
  state.downloaded = productsOf(guarded(() => Bridge.ask('GETDOWNLOADEDPRODUCTS')));
  renderCatalogue();
  renderAccount();
}

function refreshAll() {
  if (!Bridge.available()) return;
  $('dashboard-version').textContent = guarded(() => Bridge.ask('GETDASHBOARDVERSION')) || '–';
  const theme = guarded(() => JSON.parse(Bridge.ask('GETIDETHEME')));
  if (theme) setActiveTheme(theme);
  refreshStatus();
  refreshIdeRunning();
  refreshProducts();
  refreshKitwright();
  refreshAccount();
}

// ---- the product table ---------------------------------------------------

function registeredEdition(name) {
  return state.account.length === 0 || state.account.some((p) => p.Name === name);
}

function renderCatalogue() {
  const body = $('catalogue').tBodies[0];
  body.replaceChildren();
  const needle = state.search.toLowerCase();
  const rows = state.catalogue.filter((p) => !needle || p.name.toLowerCase().includes(needle));
  if (!rows.length) {
    body.append(el('tr', {}, el('td', { colSpan: 7, className: 'empty', textContent: 'No products.' })));
  }
  for (const product of rows) {
    const installed = state.installed.find((p) => p.Name === product.name);
    const downloaded = state.downloaded.filter((p) => p.Name === product.name)
      .sort((a, b) => compareVersions(b.Version, a.Version))[0];
    const registered = registeredEdition(product.name);
    const outdated = installed && compareVersions(installed.Version, product.version) < 0;

    const select = el('input', {
      type: 'checkbox', title: 'Select for a Kitwright batch', checked: isTickedForKitwright(product.name),
      onchange: () => tickForKitwright(product.name, select.checked),
    });
    select.dataset.name = product.name;
    const actions = el('td', { className: 'row-actions' });
    if (outdated) {
      actions.append(button('Update', () => download(product, registered, 'DOWNLOAD-UPDATE')));
    } else if (!downloaded || compareVersions(downloaded.Version, product.version) < 0) {
      actions.append(button('Download', () => download(product, registered, 'DOWNLOAD')));
    }
    if (downloaded && !installed) {
      actions.append(button('Install', () => install('INSTALL', downloaded)));
    }
    if (installed) {
      actions.append(button('Uninstall', () => sendMessage('UNINSTALL', { Name: installed.Name }), { className: 'small ghost' }));
    }

    body.append(el('tr', {},
      el('td', {}, select),
      el('td', {}, el('strong', { textContent: product.name }), registered ? null : tag('trial')),
      el('td', { textContent: product.version }),
      el('td', {}, installed ? tag(installed.Version || '?', outdated ? 'warn' : 'ok') : tag('—')),
      el('td', {}, downloaded ? tag(downloaded.Version + (downloaded.Registered ? '' : ' trial')) : tag('—')),
      el('td', {}, kitwrightCell(product)),
      actions));
  }
}

function install(eventName, archive) {
  sendMessage(eventName, {
    EventName: eventName, Name: archive.Name, Version: archive.Version, Registered: archive.Registered,
  });
  refreshStatus();
}

// ---- page functions the application calls --------------------------------

function setActiveTheme(theme) {
  const name = theme && theme.IDETheme ? theme.IDETheme : 'Light';
  $('ide-theme').textContent = name;
  document.body.classList.toggle('dark', /dark/i.test(name));
}

function ProductInstallFinished() {
  refreshProducts();
  refreshStatus();
}

function ProductUninstallFinished() {
  refreshProducts();
  refreshStatus();
}

// ---- start ---------------------------------------------------------------

async function loadCatalogue() {
  try {
    const response = await fetch('/site/dashboard/catalogue.json');
    state.catalogue = response.ok ? await response.json() : [];
  } catch {
    state.catalogue = [];
  }
  renderCatalogue();
}

function start() {
  $('search-input').value = state.search;
  if (state.search) {
    $('search-hint').hidden = false;
    $('search-hint').textContent = `Products matching “${state.search}”`;
  }
  if (!Bridge.available()) {
    $('no-bridge').hidden = false;
    document.querySelectorAll('main button').forEach((b) => { b.disabled = true; });
  }
  $('btn-refresh').onclick = refreshAll;
  $('btn-options').onclick = () => { guarded(() => Bridge.ask('GETOPTIONSDIALOG')); refreshAll(); };
  $('btn-account').onclick = refreshAccount;
  $('btn-kitwright-status').onclick = refreshKitwright;
  $('btn-kitwright-log').onclick = () => guarded(() => Bridge.ask('GETKITWRIGHTLOG'));
  $('btn-kitwright-logtext').onclick = () => {
    const text = guarded(() => Bridge.ask('GETKITWRIGHTLOGTEXT'));
    if (text !== undefined) {
      const doc = new DOMParser().parseFromString(text, 'text/html');
      kitwrightConsole.clear();
      (doc.body.innerText || doc.body.textContent || '').split('\n').forEach(appendConsoleLine);
    }
  };
  $('btn-batch-install').onclick = () => runBatch('INSTALLKITWRIGHTPRODUCT');
  $('btn-batch-uninstall').onclick = () => runBatch('UNINSTALLKITWRIGHTPRODUCT');
  $('btn-batch-reinstall').onclick = () => runBatch('UNINSTALLKITWRIGHTPRODUCT', 'INSTALLKITWRIGHTPRODUCT');

  loadCatalogue().then(refreshAll);
  setInterval(refreshStatus, 2000);
  setInterval(refreshIdeRunning, 5000);
}

start();
