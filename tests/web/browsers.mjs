// Debian's Chromium and Firefox ESR, headless, driven by puppeteer-core: the browsers the page's
// tests and benchmark run in. No browser is downloaded.
import http from 'node:http';
import puppeteer from 'puppeteer-core';

// Every request a browser makes goes to this proxy, which refuses it: nothing reaches the
// network, and a request the page makes shows up as a request event instead of vanishing in a
// failed name lookup (Firefox reports none for those).
async function refusingProxy() {
  const proxy = http.createServer((request, response) => {
    response.writeHead(502);
    response.end();
  });
  proxy.on('connect', (request, socket) => socket.end('HTTP/1.1 502 Bad Gateway\r\n\r\n'));
  await new Promise((listening) => proxy.listen(0, '127.0.0.1', listening));
  return proxy;
}

const BROWSERS = {
  chromium: (proxyPort, { dark }) => puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox',  // as root, in a container
      '--disable-gpu',
      '--disable-dev-shm-usage',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--no-first-run',
      `--proxy-server=http://127.0.0.1:${proxyPort}`,
      '--proxy-bypass-list=<-loopback>',
      ...(dark ? ['--force-dark-mode'] : []),
    ],
  }),
  firefox: (proxyPort, { dark }) => puppeteer.launch({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    headless: true,
    extraPrefsFirefox: {
      'network.proxy.type': 1,
      'network.proxy.http': '127.0.0.1',
      'network.proxy.http_port': proxyPort,
      'network.proxy.ssl': '127.0.0.1',
      'network.proxy.ssl_port': proxyPort,
      'network.proxy.no_proxies_on': '',
      'network.proxy.allow_hijacking_localhost': true,
      // Pages in the dark scheme (0) or as the system has it (2).
      'layout.css.prefers-color-scheme.content-override': dark ? 0 : 2,
    },
  }),
};

// chromium or firefox; with dark, its pages in the dark colour scheme (for what puppeteer cannot
// emulate in Firefox).
export async function launch(name, { dark = false } = {}) {
  if (!BROWSERS[name]) throw new Error(`no browser ${name}: chromium or firefox`);
  const proxy = await refusingProxy();
  const browser = await BROWSERS[name](proxy.address().port, { dark });
  browser.once('disconnected', () => proxy.close());
  return browser;
}
