// The page's speed in headless Chromium against the fastest a browser reads a chosen file.
//
//   node bench/page.mjs PAGE.html NATIVE_PROGRAM FILE...   (bench/run passes its inputs)
//
// For each file, in turn and ORBITCSV_BENCH_ROUNDS times (default 5), after a warm-up:
//   page:   the page opened from disk, the file chosen in it, until the summary line shows;
//   floor:  the same file only read, in a worker, by the fastest way found (a BYOB reader of the
//           file's stream with a 1 MiB buffer; reading slices or with FileReaderSync is slower);
//   native: orbitcsv FILE > /dev/null.
// Prints the medians, MB/s, page / floor and the worker's memory after each conversion.
import { spawnSync } from 'node:child_process';
import { statSync } from 'node:fs';
import { basename, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

import { launch } from '../tests/web/browsers.mjs';

const [pagePath, programPath, ...files] = process.argv.slice(2);
const rounds = Number(process.env.ORBITCSV_BENCH_ROUNDS ?? 5);
const browser = await launch('chromium');

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

// Seconds from choosing the file to the summary line, and the worker's heap afterwards.
async function pageRun(file) {
  const page = await browser.newPage();
  let worker = null;
  page.on('workercreated', (created) => { worker = created; });
  await page.goto(pathToFileURL(resolve(pagePath)).href);
  const input = await page.waitForSelector('#choose');
  const started = performance.now();
  await input.uploadFile(file);
  await page.waitForFunction(() => /written\.$|^Cannot/.test(document.querySelector('[role=status]')?.textContent ?? ''),
    { polling: 'mutation', timeout: 600000 });
  const seconds = (performance.now() - started) / 1000;
  // Once the table has gone into its Blob, what the worker holds is its notes on the rows.
  await page.waitForSelector('::-p-aria([name="Download CSV"][role="link"])', { timeout: 600000 });
  await worker.client.send('HeapProfiler.collectGarbage');
  const { usedSize } = await worker.client.send('Runtime.getHeapUsage');
  const summary = await page.$eval('[role=status]', (status) => status.textContent);
  await page.close();
  return { seconds, heap: usedSize, summary };
}

const FLOOR_WORKER = `
self.onmessage = async ({ data: file }) => {
  const started = performance.now();
  const reader = file.stream().getReader({ mode: 'byob' });
  let buffer = new ArrayBuffer(1 << 20);
  let bytes = 0;
  for (;;) {
    const { done, value } = await reader.read(new Uint8Array(buffer));
    if (done) break;
    bytes += value.length;
    buffer = value.buffer;
  }
  self.postMessage({ seconds: (performance.now() - started) / 1000, bytes });
};`;

async function floorRun(file) {
  const page = await browser.newPage();
  await page.setContent('<input type="file">');
  await (await page.$('input')).uploadFile(file);
  const result = await page.evaluate(async (code) => {
    const worker = new Worker(URL.createObjectURL(new Blob([code])));
    const file = document.querySelector('input').files[0];
    const started = performance.now();
    const done = await new Promise((resolve) => {
      worker.onmessage = ({ data }) => resolve(data);
      worker.postMessage(file);
    });
    worker.terminate();
    return { ...done, total: (performance.now() - started) / 1000 };
  }, FLOOR_WORKER);
  await page.close();
  return result.total;
}

function nativeRun(file) {
  const started = performance.now();
  spawnSync(programPath, [file], { stdio: ['ignore', 'ignore', 'ignore'] });
  return (performance.now() - started) / 1000;
}

console.log(`The page in headless Chromium (${(await browser.version())}), ${rounds} rounds after a warm-up, files in the page cache`);
console.log();
console.log(`${'input'.padEnd(16)} ${'page s'.padStart(7)} ${'MB/s'.padStart(6)} ${'floor s'.padStart(8)} ${'MB/s'.padStart(6)}` +
  ` ${'page/floor'.padStart(10)} ${'native s'.padStart(9)} ${'worker heap'.padStart(12)}  rows`);
for (const file of files) {
  const bytes = statSync(file).size;
  await pageRun(file);
  await floorRun(file);
  const page = [];
  const floor = [];
  const native = [];
  let last = null;
  for (let round = 0; round < rounds; ++round) {
    last = await pageRun(file);
    page.push(last.seconds);
    floor.push(await floorRun(file));
    native.push(nativeRun(file));
  }
  const [p, f, n] = [median(page), median(floor), median(native)];
  console.log(`${basename(file).padEnd(16)} ${p.toFixed(3).padStart(7)} ${(bytes / p / 1e6).toFixed(0).padStart(6)}` +
    ` ${f.toFixed(3).padStart(8)} ${(bytes / f / 1e6).toFixed(0).padStart(6)} ${(p / f).toFixed(2).padStart(10)}` +
    ` ${n.toFixed(3).padStart(9)} ${`${(last.heap / 2 ** 20).toFixed(1)} MiB`.padStart(12)}  ${last.summary.split(' ')[0]}`);
}
await browser.close();
