// The page's speed in headless Chromium against the fastest a browser reads a chosen file.
//
//   node bench/page.mjs PAGE.html NATIVE_PROGRAM FILE...   (bench/run passes its inputs)
//
// For each file, in turn and ORBITCSV_BENCH_ROUNDS times (default 5), after a warm-up:
//   page:   the page opened from disk, the file chosen in it, until the summary line shows;
//   ready:  the same run, until its Download CSV link is there too;
//   floor:  the same file only read, in a worker, by the fastest way found (a BYOB reader of the
//           file's stream with a 1 MiB buffer; reading slices or with FileReaderSync is slower);
//   native: orbitcsv FILE > /dev/null.
// Prints the medians, MB/s and page / floor, and the longest task on the page's main thread over
// the rounds; then, in a browser of its own for each file, the peak resident memory of the
// page's process (page, worker and the table in it) and the table's size.
import { spawnSync } from 'node:child_process';
import { readFileSync, readdirSync, statSync } from 'node:fs';
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

// Seconds from choosing the file to the summary line, and to the download; and the longest
// task on the page's main thread (the browser's long-task timing, which notes tasks of 50 ms and
// more) from the choice until the table and the pictures are drawn.
async function pageRun(file, inBrowser = browser) {
  const page = await inBrowser.newPage();
  await page.goto(pathToFileURL(resolve(pagePath)).href);
  await page.evaluate(() => {
    window.longestTask = 0;
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) window.longestTask = Math.max(window.longestTask, entry.duration);
    }).observe({ type: 'longtask' });
  });
  const input = await page.waitForSelector('#choose');
  const started = performance.now();
  await input.uploadFile(file);
  await page.waitForFunction(() => /written\.$|^Cannot/.test(document.querySelector('.run [role=status]')?.textContent ?? ''),
    { polling: 'mutation', timeout: 600000 });
  const seconds = (performance.now() - started) / 1000;
  await page.waitForSelector('::-p-aria([name="Download CSV"][role="link"])', { timeout: 600000 });
  const ready = (performance.now() - started) / 1000;
  const summary = await page.$eval('.run [role=status]', (status) => status.textContent);
  await page.waitForFunction(() => document.getElementById('scatter').dataset.view && document.querySelector('#table .row'), { timeout: 600000 });
  await new Promise((settled) => setTimeout(settled, 500));
  const longestTask = await page.evaluate(() => window.longestTask);
  return { seconds, ready, summary, longestTask, page };
}

// The largest peak resident memory among a browser's renderer processes, in bytes.
function rendererPeak(browserPid) {
  const parents = new Map();
  for (const entry of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      // pid (command) state ppid ...: the command may hold spaces, so count from its end.
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      parents.set(Number(entry), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
    } catch {
      // gone meanwhile
    }
  }
  const descendants = (pid) => [...parents].filter(([, parent]) => parent === pid).flatMap(([child]) => [child, ...descendants(child)]);
  let peak = 0;
  for (const pid of descendants(browserPid)) {
    try {
      if (!readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('--type=renderer')) continue;
      const hwm = /VmHWM:\s+(\d+) kB/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'));
      if (hwm) peak = Math.max(peak, Number(hwm[1]) * 1024);
    } catch {
      // gone meanwhile
    }
  }
  return peak;
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

console.log(`The page in headless Chromium (${(await browser.version())}), ${rounds} rounds in turn after a warm-up, files in the page cache`);
console.log();
console.log(`${'input'.padEnd(16)} ${'page s'.padStart(7)} ${'MB/s'.padStart(6)} ${'floor s'.padStart(8)} ${'MB/s'.padStart(6)}` +
  ` ${'page/floor'.padStart(10)} ${'ready s'.padStart(8)} ${'native s'.padStart(9)} ${'longest task'.padStart(12)}  summary`);
for (const file of files) {
  const bytes = statSync(file).size;
  const close = async (run) => { await run.page.close(); return run; };
  await close(await pageRun(file));
  await floorRun(file);
  const page = [];
  const ready = [];
  const floor = [];
  const native = [];
  let longestTask = 0;
  let last = null;
  for (let round = 0; round < rounds; ++round) {
    last = await close(await pageRun(file));
    page.push(last.seconds);
    ready.push(last.ready);
    longestTask = Math.max(longestTask, last.longestTask);
    floor.push(await floorRun(file));
    native.push(nativeRun(file));
  }
  const [p, r, f, n] = [median(page), median(ready), median(floor), median(native)];
  console.log(`${basename(file).padEnd(16)} ${p.toFixed(3).padStart(7)} ${(bytes / p / 1e6).toFixed(0).padStart(6)}` +
    ` ${f.toFixed(3).padStart(8)} ${(bytes / f / 1e6).toFixed(0).padStart(6)} ${(p / f).toFixed(2).padStart(10)}` +
    ` ${r.toFixed(3).padStart(8)}` +
    ` ${n.toFixed(3).padStart(9)} ${`${longestTask.toFixed(0)} ms`.padStart(12)}  ${last.summary}`);
}
await browser.close();

console.log();
console.log('Peak resident memory of the page\'s renderer process (page, worker and table), a browser for each file');
console.log(`${'input'.padEnd(16)} ${'peak RSS'.padStart(10)} ${'table'.padStart(10)}`);
for (const file of files) {
  const own = await launch('chromium');
  const run = await pageRun(file, own);
  const link = await run.page.$('::-p-aria([name="Download CSV"][role="link"])');
  const tableBytes = await link.evaluate(async (a) => (await fetch(a.href)).headers.get('content-length'));
  const peak = rendererPeak(own.process().pid);
  const mib = (value) => `${(value / 2 ** 20).toFixed(1)} MiB`;
  console.log(`${basename(file).padEnd(16)} ${mib(peak).padStart(10)} ${mib(Number(tableBytes)).padStart(10)}`);
  await own.close();
}
