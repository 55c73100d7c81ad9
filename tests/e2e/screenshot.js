'use strict';

// Saves a picture of a running orv-dashboard's page once it has loaded:
//   node screenshot.js DEVTOOLS_URL DASHBOARD_URL OUTPUT.png
// The application must run with QTWEBENGINE_REMOTE_DEBUGGING set.

const { connectDashboardPage } = require('./harness');

async function main([devtoolsURL, dashboardURL, output]) {
  if (!output) throw new Error('usage: node screenshot.js DEVTOOLS_URL DASHBOARD_URL OUTPUT.png');
  const { browser, page } = await connectDashboardPage({ devtoolsURL, dashboardURL });
  try {
    // The page fills itself from the application and the site after load.
    await page.waitForFunction(() => document.getElementById('dashboard-version').textContent !== '–' &&
      document.querySelectorAll('#catalogue tbody tr').length > 1, { polling: 100, timeout: 30000 })
      .catch(() => {});
    await page.screenshot({ path: output });
  } finally {
    await browser.disconnect();
  }
}

main(process.argv.slice(2)).catch((error) => {
  console.error(`screenshot: ${error.message}`);
  process.exit(1);
});
