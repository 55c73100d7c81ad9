'use strict';

// Product downloads: the page announces each one to the application
// ("DOWNLOAD", or "DOWNLOAD-UPDATE" for the first half of an update) and
// then starts the transfer itself; the application names the file and
// reports DownloadProgress, DownloadFinished and DownloadFailed. Uses the
// helpers of dashboard.js.

// Product name (or file name, for a download the page did not announce) ->
// its entry in the downloads list.
const activeDownloads = new Map();

function formatBytes(bytes) {
  if (!(bytes >= 0)) return '?';
  const units = ['B', 'KB', 'MB', 'GB'];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) { value /= 1024; unit++; }
  return (unit ? value.toFixed(1) : value) + ' ' + units[unit];
}

function download(product, registered, eventName) {
  const announcement = { EventName: eventName, Name: product.name, Version: product.version, Registered: registered };
  // Without a size from the catalogue the application takes the server's.
  if (product.size > 0) announcement.TotalBytes = product.size;
  if (!sendMessage(eventName, announcement)) return;
  showDownload(product.name, 0, product.size > 0 ? product.size : -1);
  const link = el('a', { href: '/downloads/' + encodeURIComponent(product.name + '_' + product.version) + '.zip' });
  link.setAttribute('download', '');
  document.body.append(link);
  link.click();
  link.remove();
}

function downloadEntry(name) {
  let item = activeDownloads.get(name);
  if (!item) {
    const list = $('active-downloads');
    const empty = list.querySelector('.empty');
    if (empty) empty.remove();
    // A finished entry of an earlier download of the same name makes room.
    for (const old of list.querySelectorAll('li')) {
      if (old.dataset.name === name) old.remove();
    }
    item = el('li', {}, el('span', { className: 'name', textContent: name }), ' ',
      el('span', { className: 'bytes' }), el('div', { className: 'bar' }, el('div', { className: 'fill' })),
      el('div', { className: 'download-actions' }));
    item.dataset.name = name;
    list.append(item);
    activeDownloads.set(name, item);
  }
  return item;
}

// The bar and the text "received / total", with the exact byte counts.
function showDownload(name, received, total) {
  const item = downloadEntry(name);
  item.dataset.received = String(received);
  item.dataset.total = String(total);
  const exact = total >= 0 ? `${received} of ${total} bytes` : `${received} bytes`;
  item.querySelector('.bytes').textContent = `${formatBytes(received)} / ${formatBytes(total)} (${exact})`;
  item.querySelector('.fill').style.width = total > 0 ? Math.min(100, (100 * received) / total) + '%' : '0';
}

function endDownload(info, outcome) {
  const name = info && info.Name ? String(info.Name) : 'download';
  const item = downloadEntry(name);
  activeDownloads.delete(name);
  item.classList.add(outcome);
  item.dataset.state = outcome;
  item.querySelector('.bytes').textContent = outcome === 'done' ? 'completed' : 'failed';
  if (outcome === 'done') item.querySelector('.fill').style.width = '100%';
  return item;
}

// ---- page functions the application calls --------------------------------

function DownloadProgress(info) {
  if (!info) return;
  showDownload(String(info.Name), Number(info.BytesReceived), Number(info.TotalBytes));
  refreshStatus();
}

function DownloadFinished(info) {
  const item = endDownload(info, 'done');
  refreshProducts();
  refreshStatus();
  const eventName = info && info.EventName ? String(info.EventName).toUpperCase() : '';
  // An update downloads first and installs the new archive afterwards.
  if (eventName === 'DOWNLOAD-UPDATE') {
    install('UPDATE', info);
  } else if (eventName === 'DOWNLOAD') {
    item.querySelector('.download-actions').append(button('Install', (clicked) => {
      clicked.target.disabled = true;
      install('INSTALL', info);
    }));
  }
}

function DownloadFailed(info) {
  endDownload(info, 'failed');
  refreshStatus();
}
