'use strict';

// The "Your account" section: the products the user's account holds at the
// vendor, as the application fetched them with the e-mail and code of its
// options, each marked when it is installed or downloaded here. Loaded
// before dashboard.js, whose helpers and state it uses once the page runs.

function refreshAccount() {
  const credentials = guarded(() => JSON.parse(Bridge.ask('GETUSERCREDENTIALS')));
  $('account-user').textContent = credentials && credentials.Username
    ? 'Account: ' + credentials.Username
    : 'No account set. Enter your e-mail and registration code in Options.';
  state.account = productsOf(guarded(() => Bridge.ask('GETREGISTEREDPRODUCTS')));
  renderAccount();
  renderCatalogue();
}

function renderAccount() {
  const list = $('account-products');
  list.replaceChildren();
  if (!state.account.length) {
    list.append(el('li', {
      className: 'empty',
      textContent: 'No products found for your account. Check your e-mail and registration code in Options.',
    }));
    return;
  }
  for (const product of state.account) {
    const installed = state.installed.find((p) => p.Name === product.Name);
    const downloaded = state.downloaded.some((p) => p.Name === product.Name);
    const item = el('li', {},
      el('strong', { textContent: product.Name }), ' ',
      product.Version ? tag(product.Version) : null,
      installed ? tag('installed' + (installed.Version ? ' ' + installed.Version : ''), 'ok installed') : null,
      downloaded ? tag('downloaded', 'downloaded') : null);
    item.dataset.name = product.Name;
    list.append(item);
  }
}
