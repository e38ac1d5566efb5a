// The README's picture of the page: the example converted in headless Chromium.
//
//   node tests/web/screenshot.mjs PAGE.html OUTPUT.png [WIDTH] [light|dark]
import { resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

import { launch } from './browsers.mjs';

const [pagePath, output, width = '1100', scheme = 'light'] = process.argv.slice(2);
const browser = await launch('chromium');
try {
  const page = await browser.newPage();
  await page.setViewport({ width: Number(width), height: 1000 });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
  await page.goto(pathToFileURL(resolve(pagePath)).href);
  await (await page.waitForSelector('#choose')).uploadFile('examples/circular.txt');
  await page.waitForFunction(() => document.getElementById('orbit-count').textContent.endsWith('drawn') &&
    document.querySelectorAll('#table .row').length > 0);
  await page.screenshot({ path: output, fullPage: true });
} finally {
  await browser.close();
}
