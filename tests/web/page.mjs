// The page in a real browser, opened from disk and used through its controls as a person would:
// each table read back through its "Download CSV" link must be the Linux program's, byte for
// byte, the summary line in the input's status region the program's own, and the elements
// table of its "Download elements" link the Python module's (python -m orbitcsv).
//
//   node tests/web/page.mjs chromium|firefox PAGE.html NATIVE_PROGRAM INPUT_FOLDER PYTHON PYTHON_MODULE_FOLDER
//
// INPUT_FOLDER keeps the large generated input from run to run.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { closeSync, existsSync, mkdirSync, mkdtempSync, openSync, rmSync, statSync, unlinkSync, writeFileSync, writeSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

import { REASONS } from '../../web/diagnose.js';
import { launch } from './browsers.mjs';
import { COMET, EROS } from './sample.mjs';

const [browserName, pagePath, programPath, inputFolder, python, pythonModules] = process.argv.slice(2);
const LARGE_INPUT_BYTES = 256 * 1024 * 1024 + 12345;
const work = mkdtempSync(join(tmpdir(), 'orbitcsv-page-'));
const browser = await launch(browserName);

let failures = 0;
let count = 0;
async function test(name, body) {
  ++count;
  const started = Date.now();
  try {
    await body();
    console.log(`ok ${count} - ${name} (${Date.now() - started} ms)`);
  } catch (error) {
    ++failures;
    console.log(`not ok ${count} - ${name}\n  ${String(error.stack ?? error).replace(/\n/g, '\n  ')}`);
  }
}

// What the Linux program makes of a file: its table and its one line on standard error.
function native(file) {
  const run = spawnSync(programPath, [file], { maxBuffer: 1 << 30 });
  return { table: run.stdout, summary: run.stderr.toString().replace(/\n$/, ''), status: run.status };
}

// What python -m orbitcsv makes of a file: its elements table.
function nativeElements(file) {
  const run = spawnSync(python, ['-m', 'orbitcsv', file], { maxBuffer: 1 << 30, env: { ...process.env, PYTHONPATH: pythonModules } });
  assert.equal(run.status, 0, `python -m orbitcsv ${file}: ${run.stderr}`);
  return run.stdout;
}

function write(name, bytes) {
  const file = join(work, name);
  writeFileSync(file, bytes);
  return file;
}

// The page, fresh, with every request it makes noted: none may go anywhere but to the page's
// own file, blob: URLs and data: URLs.
async function openPage(viewport = { width: 1280, height: 900 }) {
  const page = await browser.newPage();
  await page.setViewport(viewport);
  const requests = [];
  const errors = [];
  page.on('request', (request) => requests.push(request.url()));
  page.on('pageerror', (error) => errors.push(String(error)));
  await page.goto(pathToFileURL(pagePath).href);
  const done = async () => {
    const away = requests.filter((url) => !/^(file|blob|data):/.test(url));
    await page.close();
    assert.deepEqual(away, [], 'requests that leave the page');
    assert.deepEqual(errors, [], 'errors on the page');
  };
  return { page, done };
}

// The file input, found by its label as a person finds it. (Neither browser answers a query for
// a file input by its accessible name, which is the label's text.)
async function choose(page, files) {
  const input = await page.waitForFunction(
    (text) => [...document.querySelectorAll('label')].find((label) => label.textContent.trim() === text)?.control,
    {}, 'Choose files');
  await input.uploadFile(...files);
}

// An input's region, once its status holds the summary line or a message.
async function finishedRun(page, name, timeout = 60000) {
  const region = await page.waitForSelector(`::-p-aria([name="${name}"][role="region"])`);
  const status = await region.waitForSelector('::-p-aria([role="status"])');
  await page.waitForFunction((element) => /written\.$|^Cannot/.test(element.textContent), { timeout, polling: 50 }, status);
  return { region, summary: await status.evaluate((element) => element.textContent) };
}

// The table behind an input's "Download CSV" link (or another), as the browser hands it out.
async function downloaded(region, linkName = 'Download CSV') {
  const link = await region.waitForSelector(`::-p-aria([name="${linkName}"][role="link"])`);
  const { name, base64 } = await link.evaluate(async (a) => {
    const bytes = new Uint8Array(await (await fetch(a.href)).arrayBuffer());
    let binary = '';
    for (let at = 0; at < bytes.length; at += 0x8000) binary += String.fromCharCode(...bytes.subarray(at, at + 0x8000));
    return { name: a.download, base64: btoa(binary) };
  });
  return { name, bytes: Buffer.from(base64, 'base64') };
}

async function expectProgramOutput(page, file, name) {
  const { region, summary } = await finishedRun(page, name);
  const expected = native(file);
  assert.equal(summary, expected.summary, `summary of ${name}`);
  const table = await downloaded(region);
  assert.ok(table.bytes.equals(expected.table), `table of ${name}: ${table.bytes.length} bytes, the program's ${expected.table.length}`);
  return { region, table };
}


// Circular-like text of the given size: blocks among prose, every block's values different.
function makeLargeInput(file) {
  if (existsSync(file) && statSync(file).size === LARGE_INPUT_BYTES) return;
  const out = openSync(file, 'w');
  let written = 0;
  let block = 0;
  while (written < LARGE_INPUT_BYTES) {
    let text = '';
    while (text.length < 1 << 20) {
      ++block;
      const m = ((block * 7919) % 36000) / 100;
      const a = 1 + ((block * 104729) % 40000) / 10000;
      const e = ((block * 15485863) % 9000) / 10000;
      text += `Observations of the night, with residuals, batch ${block}:\n     261124 568  0.1-  0.2+\n\n` +
        `(${block}) Minor ${block}\n${EROS[1]}\nM ${m.toFixed(5).padEnd(14)}               (2000.0)\n${EROS[3]}\n` +
        `a   ${a.toFixed(7)}      Node   304.28871\ne   ${e.toFixed(7)}      Incl.  10.82780\n${EROS[6]}\n`;
    }
    const bytes = Buffer.from(text).subarray(0, LARGE_INPUT_BYTES - written);
    writeSync(out, bytes);
    written += bytes.length;
  }
  closeSync(out);
}

async function nativeTableSha256(file) {
  const hash = createHash('sha256');
  const child = spawn(programPath, [file], { stdio: ['ignore', 'pipe', 'ignore'] });
  for await (const bytes of child.stdout) hash.update(bytes);
  return hash.digest('hex');
}

try {
  await test('the example converts to the Linux table, read back through the download link', async () => {
    let { page, done } = await openPage();
    await choose(page, ['examples/circular.txt']);
    const { table } = await expectProgramOutput(page, 'examples/circular.txt', 'circular.txt');
    assert.equal(table.name, 'circular.csv');
    const policy = await page.$eval('meta[http-equiv="Content-Security-Policy"]', (meta) => meta.content);
    assert.match(policy, /^default-src 'none';/);
    // The table's scrollbar takes the scheme's colours: in the light one, light; in the dark one,
    // dark, not a white track. (Firefox is put in the dark scheme by a browser of its own.)
    const schemeColours = () => page.evaluate(() => [getComputedStyle(document.body).backgroundColor,
      getComputedStyle(document.querySelector('#table .scroller')).scrollbarColor]);
    assert.deepEqual(await schemeColours(), ['rgb(251, 251, 248)', 'rgb(91, 100, 112) rgb(255, 255, 255)']);
    const darkBrowser = await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }])
      .then(() => null, () => launch(browserName, { dark: true }));
    if (darkBrowser) {
      await done();
      page = await darkBrowser.newPage();
      await page.goto(pathToFileURL(pagePath).href);
      await choose(page, ['examples/circular.txt']);
      await finishedRun(page, 'circular.txt');
    }
    assert.deepEqual(await schemeColours(), ['rgb(21, 24, 28)', 'rgb(154, 163, 173) rgb(29, 33, 39)']);
    if (darkBrowser) await darkBrowser.close();
    else await done();
  });

  await test('each input\'s Download elements link gives the elements table that python -m orbitcsv writes', async () => {
    const { page, done } = await openPage();
    const files = ['examples/circular.txt', 'tests/corpus/real-2.txt', 'tests/corpus/real-mixed.txt'];
    await choose(page, files);
    for (const file of files) {
      const name = file.split('/').at(-1);
      const { region } = await finishedRun(page, name);
      const elements = await downloaded(region, 'Download elements');
      assert.equal(elements.name, name.replace('.txt', '-elements.csv'));
      const expected = nativeElements(file);
      assert.ok(elements.bytes.equals(expected), `elements of ${name}: ${elements.bytes.length} bytes, Python's ${expected.length}`);
    }
    // The card says which lines looked like epoch lines but started no block, and why: of
    // real-2.txt's 45 blocks, those of commented-out files and the one with no JDT.
    const region = await page.waitForSelector('::-p-aria([name="real-2.txt"][role="region"])');
    assert.equal(await region.$eval('.passed-over', (element) => element.hidden ? '' : element.textContent),
      '25 lines that look like epoch lines start no block: 24 have other text before “Epoch ”, 1 has no JDT.');
    assert.equal(await region.$eval('.status', (element) => element.textContent), '19 records written.');
    await done();
  });

  await test('the orbit view draws the example\'s minor planets and its comet, the scatter plot the rows that print a', async () => {
    const { page, done } = await openPage();
    await choose(page, ['examples/circular.txt']);
    await finishedRun(page, 'circular.txt');
    await page.waitForFunction(() => document.getElementById('orbit-count').textContent === '5 of 5 rows drawn');
    const legend = await page.$$eval('#orbit-legend li', (items) => items.map((item) => item.textContent));
    assert.deepEqual(legend, ['(433) Eros', '2026 WQ7', 'C/2026 K4 (Marlowe)', '(4179) Toutatis', '(11021) Foderà']);
    assert.equal(await page.$eval('#scatter-count', (element) => element.textContent), '4 of 5 rows drawn');
    // Each orbit leaves pixels of its own colour on the canvas.
    const colours = await page.$eval('#orbits', (canvas) => {
      const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
      const seen = new Set();
      for (let p = 0; p < data.length; p += 4) if (data[p + 3] === 255) seen.add(`${data[p]},${data[p + 1]},${data[p + 2]}`);
      return [...seen];
    });
    for (const colour of ['31,119,180', '214,39,40', '44,160,44', '148,103,189', '255,127,14']) assert.ok(colours.includes(colour), `orbit colour ${colour}`);
    await done();
  });

  await test('orbits about the Earth or the Moon are counted and not drawn, comets of every layout are drawn', async () => {
    const { page, done } = await openPage();
    await choose(page, ['tests/corpus/real-mixed.txt']);
    await finishedRun(page, 'real-mixed.txt');
    await page.waitForFunction(() => document.getElementById('orbit-count').textContent === '6 of 8 rows drawn');
    const legend = await page.$$eval('#orbit-legend li', (items) => items.map((item) => item.textContent));
    assert.deepEqual(legend, ['1996 XX1', '1996 XX1', 'Example1', 'AGD1002', '(470) Kilia', 'C/2010 X1 (Elenin)',
      '2009 BD: not drawn, an orbit about the Earth', '1997 ZZ99: not drawn, an orbit about the Moon']);
    assert.equal(await page.$eval('#scatter-count', (element) => element.textContent), '6 of 11 rows drawn');
    // A row whose columns are not its labels' says so.
    await page.waitForFunction(() => document.querySelectorAll('#table .row.marked').length > 0);
    const notes = await page.$$eval('#table .row .note', (cells) => cells.map((cell) => cell.textContent));
    assert.equal(notes[6], '', 'the circulars\' minor-planet layout fits the table');
    assert.equal(notes[7], '⚠ the table\'s columns do not fit this layout; Download elements has its values');
    await done();
  });

  await test(`an input of ${LARGE_INPUT_BYTES} bytes shows its progress and gives the table the program gives`, async () => {
    mkdirSync(inputFolder, { recursive: true });
    const large = join(inputFolder, 'large.txt');
    makeLargeInput(large);
    const expected = nativeTableSha256(large);
    // Chosen together with a file that is gone by the time the page comes to read it.
    const gone = write('gone.txt', EROS.join('\n'));
    const { page, done } = await openPage();
    // Watched from within the page, so that a busy machine cannot make the test look too late.
    await page.evaluate(() => {
      window.progressSeen = false;
      new MutationObserver(() => {
        for (const bar of document.querySelectorAll('progress')) window.progressSeen ||= bar.value > 0 && bar.value < bar.max;
      }).observe(document.body, { subtree: true, attributes: true, childList: true });
    });
    await choose(page, [large, gone]);
    unlinkSync(gone);
    const region = await page.waitForSelector('::-p-aria([name="large.txt"][role="region"])');
    const { summary } = await finishedRun(page, 'large.txt', 300000);
    assert.ok(await page.evaluate(() => window.progressSeen), 'progress between the start and the end');
    assert.match(summary, /^[0-9]+ records written\.$/);
    const link = await region.waitForSelector('::-p-aria([name="Download CSV"][role="link"])');
    const sha256 = await link.evaluate(async (a) => {
      const digest = await crypto.subtle.digest('SHA-256', await (await fetch(a.href)).arrayBuffer());
      return Array.from(new Uint8Array(digest), (byte) => byte.toString(16).padStart(2, '0')).join('');
    });
    assert.equal(sha256, await expected);

    const removed = await finishedRun(page, 'gone.txt');
    assert.equal(removed.summary, 'Cannot read input file gone.txt');
    assert.equal((await downloaded(removed.region)).bytes.toString(), native('/dev/null').table.toString(), 'what was converted before it: the header');
    await done();
  });

  await test('a Cancel button stops a run', async () => {
    const { page, done } = await openPage();
    await choose(page, [join(inputFolder, 'large.txt')]);
    // Clicked from within the page as soon as the run is under way: the run lasts a few seconds,
    // which a busy machine could spend on the test's own queries.
    await page.waitForFunction(() => {
      const run = document.querySelector('.run');
      const cancel = [...(run?.querySelectorAll('button') ?? [])].find((button) => button.textContent === 'Cancel' && !button.hidden);
      if (!cancel || !(run.querySelector('progress').value > 0)) return false;
      cancel.click();
      return true;
    }, { polling: 10, timeout: 60000 });
    const region = await page.waitForSelector('::-p-aria([name="large.txt"][role="region"])');
    const status = await region.waitForSelector('::-p-aria([role="status"])');
    await page.waitForFunction((element) => element.textContent === 'Cancelled', { timeout: 60000 }, status);
    // No half-filled bar is left, and the input can be converted again, in the card's place.
    assert.equal(await region.$eval('progress', (bar) => bar.checkVisibility()), false);
    const again = await region.waitForSelector('::-p-aria([name="Convert again"][role="button"])');
    await again.click();
    const { summary } = await finishedRun(page, 'large.txt', 300000);
    assert.equal(summary, native(join(inputFolder, 'large.txt')).summary);
    assert.equal(await page.$$eval('.run', (cards) => cards.length), 1);
    await done();
  });

  await test('a long table scrolls to its last row, sorts numbers as numbers and filters by name', async () => {
    const rows = 30000;
    const blocks = [];
    for (let k = 0; k < rows; ++k) {
      const a = k % 1000 === 999 ? 'unknown  ' : (((k * 7919) % rows) / 100).toFixed(2).padEnd(9);
      blocks.push(`(${k}) Body ${k}`, EROS[1], EROS[2], EROS[3], `a   ${a}      Node   304.28871`, EROS[5], EROS[6]);
    }
    const file = write('long.txt', `${blocks.join('\n')}\n`);
    const { page, done } = await openPage();
    await choose(page, [file]);
    await expectProgramOutput(page, file, 'long.txt');
    const shown = () => page.$$eval('#table .row', (cells) => cells.map((row) => [...row.querySelectorAll('[role=cell]')].map((cell) => cell.textContent)));
    const waitForFirstName = (name) => page.waitForFunction((wanted) => document.querySelector('#table .row .name')?.textContent === wanted, { timeout: 30000 }, name);
    await waitForFirstName('Body 0 0');

    await page.$eval('#table [role=grid]', (table) => { table.scrollTop = table.scrollHeight; });
    await page.waitForFunction((last) => [...document.querySelectorAll('#table .row .name')].some((cell) => cell.textContent === last), { timeout: 30000 }, `Body ${rows - 1} ${rows - 1}`);

    const AXIS = 10;  // the tick, then the name, the note, H, G, M, peri, node, incl, e and a
    await (await page.waitForSelector('::-p-aria([name="Semimajor axis"][role="button"])')).click();
    await waitForFirstName('Body 0 0');  // a = 0.00
    const ascending = (await shown()).map((cells) => Number(cells[AXIS]));
    assert.deepEqual(ascending, [...ascending].sort((x, y) => x - y), 'ascending as numbers');
    await (await page.waitForSelector('::-p-aria([name="Semimajor axis"][role="button"])')).click();
    // The rows of an order come after its header is marked, and those before are gone by then.
    await page.waitForFunction(() => document.querySelector('#table [aria-sort="descending"]') !== null &&
      document.querySelector('#table .row') !== null, { timeout: 30000 });
    const first = (await shown())[0];
    assert.equal(first[AXIS], '299.99');
    // Those that are not numbers come last, marked with the reason.
    await page.$eval('#table [role=grid]', (table) => { table.scrollTop = table.scrollHeight; });
    await page.waitForFunction(() => document.querySelector('#table .row.marked') !== null, { timeout: 30000 });
    const marked = await page.$eval('#table .row.marked .note', (cell) => cell.textContent);
    assert.equal(marked, '⚠ Not numbers: Semimajor axis “unknown”');

    await page.type('::-p-aria([name="Filter by name"])', 'BODY 1234');
    await page.waitForFunction(() => document.getElementById('table-count').textContent === '11 of 30,000 rows', { timeout: 30000 });
    await done();
  });

  await test('several files at once: empty, without a block, binary noise and CR LF lines', async () => {
    let noise = 2026;
    const files = [
      write('empty.txt', ''),
      write('prose.txt', 'Observations of the night.\nEpoch 2026 Dec. 17.0 TT (no Julian date given)\n'),
      write('noise.bin', Buffer.from(Array.from({ length: 1 << 20 }, () => (noise = (noise * 1103515245 + 12345) >>> 0) >>> 24))),
      write('crlf.txt', `${EROS.join('\r\n')}\r\n${EROS.join('\r\n').replace('Eros', 'Eros, \u00e9\u00e9')}\r\n`),
    ];
    const { page, done } = await openPage();
    await choose(page, files);
    for (const file of files) await expectProgramOutput(page, file, file.split('/').at(-1));
    await done();
  });

  await test('pasted text converts as the program converts the same text', async () => {
    const { page, done } = await openPage();
    const text = `A note, then a block:\n${EROS.join('\n')}\n`;
    const area = await page.waitForSelector('::-p-aria([name="Paste text"][role="textbox"])');
    await area.evaluate((element, value) => { element.value = value; }, text);
    await (await page.waitForSelector('::-p-aria([name="Convert text"][role="button"])')).click();
    const { table } = await expectProgramOutput(page, write('pasted.txt', text), 'pasted text');
    assert.equal(table.name, 'pasted text.csv');
    await done();
  });

  await test('names are shown as text, never as markup, and bytes that are not UTF-8 as replacement characters', async () => {
    const markup = '<img src=x onerror="window.orbitcsvInjected = 1">';
    const file = write('<b>markup<b>.txt', Buffer.concat([
      Buffer.from(EROS.join('\n').replace('Eros', markup) + '\n'),
      Buffer.from(`(2) Caf\xe9\n${EROS.slice(1).join('\n')}\n`, 'latin1'),
    ]));
    const { page, done } = await openPage();
    await choose(page, [file]);
    await expectProgramOutput(page, file, '<b>markup<b>.txt');
    await page.waitForFunction(() => document.querySelectorAll('#table [role=row]').length === 3);
    const names = await page.$$eval('#table .row .name', (cells) => cells.map((cell) => cell.textContent));
    assert.deepEqual(names, [`${markup} 433`, 'Caf\ufffd 2']);
    assert.equal(await page.evaluate(() => document.querySelectorAll('main img, main b').length), 0);
    assert.equal(await page.evaluate(() => window.orbitcsvInjected), undefined);
    await done();
  });

  await test('an input without records says why: UTF-16, lines ended by CR alone, binary noise, text without a block', async () => {
    const text = `${EROS.join('\n')}\n`;
    let noise = 99;
    const files = {
      'unicode.txt': Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(text, 'utf16le')]),
      'old-mac.txt': Buffer.from(text.replace(/\n/g, '\r')),
      'noise.bin': Buffer.from(Array.from({ length: 65536 }, () => (noise = (noise * 1103515245 + 12345) >>> 0) >>> 24)),
      'prose.txt': Buffer.from('Observations of the night.\nEpoch 2026 Dec. 17.0 TT (no Julian date given)\n'),
    };
    const expected = { 'unicode.txt': REASONS.utf16, 'old-mac.txt': REASONS.carriageReturns, 'noise.bin': REASONS.binary, 'prose.txt': REASONS.noEpochLine };
    const { page, done } = await openPage();
    await choose(page, Object.entries(files).map(([name, bytes]) => write(name, bytes)));
    for (const [name, reason] of Object.entries(expected)) {
      const { region, summary } = await finishedRun(page, name);
      assert.equal(summary, '0 records written.');
      assert.equal(await region.$eval('.reason', (element) => element.textContent), reason, name);
    }
    // Nothing to draw, which the page says instead of showing empty pictures.
    await page.waitForFunction(() => document.getElementById('result-heading').textContent === 'Table of prose.txt');
    const shown = () => page.evaluate(() => ({
      nothing: document.getElementById('nothing-to-draw').checkVisibility(),
      pictures: document.getElementById('pictures').checkVisibility(),
    }));
    assert.deepEqual(await shown(), { nothing: true, pictures: false });
    const prose = await page.waitForSelector('::-p-aria([name="prose.txt"][role="region"])');
    assert.equal(await prose.$eval('.passed-over', (element) => element.textContent),
      '1 line that looks like an epoch line starts no block: 1 has no JDT.');
    // A file with records says nothing of the kind.
    await choose(page, ['examples/circular.txt']);
    const { region } = await finishedRun(page, 'circular.txt');
    assert.equal(await region.$eval('.reason', (element) => element.hidden), true);
    await page.waitForFunction(() => document.getElementById('result-heading').textContent === 'Table of circular.txt');
    assert.deepEqual(await shown(), { nothing: false, pictures: true });
    await done();
  });

  await test('comet blocks and names a spreadsheet takes for formulas are marked with the reason, beside the name', async () => {
    const file = write('marked.txt', [
      ...COMET.map((line) => line.replace('1.0001883', '0.9001883')), '',
      ...EROS.map((line, k) => (k === 0 ? '(1) =HYPERLINK("http://x")' : line)), '',
    ].join('\n'));
    const { page, done } = await openPage();
    await choose(page, [file]);
    await expectProgramOutput(page, file, 'marked.txt');
    await page.waitForFunction(() => document.querySelectorAll('#table .row.marked').length === 2);
    const notes = await page.$$eval('#table .row.marked .note', (cells) => cells.map((cell) => cell.textContent));
    assert.deepEqual(notes, ['⚠ the table\'s columns do not fit this layout; Download elements has its values',
      '⚠ Name or number begins with =, +, - or @, which a spreadsheet may take for a formula']);
    // In view at 1280 px without scrolling sideways, and read from the row's own checkbox.
    const inView = await page.$$eval('#table .row.marked .note', (cells) => cells.every((cell) => {
      const scroller = cell.closest('[role=grid]').getBoundingClientRect();
      const box = cell.getBoundingClientRect();
      return box.left >= scroller.left && box.left + 40 <= scroller.right;
    }));
    assert.ok(inView, 'the notes start within the table at 1280 px');
    const described = await page.$$eval('#table .row.marked input', (boxes) => boxes.map((box) => document.getElementById(box.getAttribute('aria-describedby'))?.textContent));
    assert.deepEqual(described, notes);
    // The row in focus, or the one tapped, shows every field and its whole reason in the page's
    // text, beside the table, without hovering.
    const detail = () => page.$eval('::-p-aria([name="The chosen row in full"])', (list) =>
      [...list.querySelectorAll('dt')].map((term) => `${term.textContent}: ${term.nextElementSibling.textContent}`));
    await page.focus('#table [role=grid]');
    await page.waitForFunction(() => document.querySelector('.row-detail')?.checkVisibility());
    assert.deepEqual((await detail()).slice(0, 3), ['Name:  Marlowe', `Note: ${notes[0]}`, 'Magnitude H: 13.2']);
    const [, second] = await page.$$('#table .row.marked');
    await (await second.$('.number')).click();
    assert.deepEqual((await detail()).slice(0, 2), ['Name: =HYPERLINK("http://x") 1', `Note: ${notes[1]}`]);
    // The comet, an ellipse by its q and e, is drawn in the orbit view; it prints no a to plot.
    await page.waitForFunction(() => document.getElementById('orbit-count').textContent === '2 of 2 rows drawn');
    assert.equal(await page.$eval('#scatter-count', (element) => element.textContent), '1 of 2 rows drawn');
    const legend = await page.$$eval('#orbit-legend li', (items) => items.map((item) => item.textContent));
    assert.deepEqual(legend, ['C/2026 K4 (Marlowe)', '(1) =HYPERLINK("http://x")']);
    await done();
  });

  await test('the arrows reach every row and Space ticks it; the keyboard reaches every control once through 100,000 rows', async () => {
    const { page, done } = await openPage({ width: 1280, height: 800 });
    // In real-2.txt, the arrows reach row 19 and Space ticks it; the focus stays on the table
    // while its rows are drawn anew.
    await choose(page, ['tests/corpus/real-2.txt']);
    await page.waitForFunction(() => document.getElementById('table-count').textContent === '19 of 19 rows');
    await page.focus('#table [role=grid]');
    for (let k = 0; k < 18; ++k) await page.keyboard.press('ArrowDown');
    await page.keyboard.press(' ');
    await page.waitForFunction(() => document.querySelector('#table .row.active')?.getAttribute('aria-rowindex') === '20');
    const row19 = await page.evaluate(() => {
      const grid = document.querySelector('#table [role=grid]');
      const row = document.getElementById(grid.getAttribute('aria-activedescendant'));
      return { focused: document.activeElement === grid, index: row.getAttribute('aria-rowindex'), ticked: row.querySelector('input').checked };
    });
    assert.deepEqual(row19, { focused: true, index: '20', ticked: true });
    await page.keyboard.press('Home');
    await page.keyboard.press(' ');
    await page.waitForFunction(() => document.querySelector('#table .row.active')?.getAttribute('aria-rowindex') === '2');
    assert.equal(await page.$eval('#table .row.active input', (box) => box.checked), false, 'Space unticks the first row');

    // A table of 100,000 rows, shown as the latest input.
    const blocks = [];
    for (let k = 0; k < 100000; ++k) blocks.push(`(${k}) Body ${k}`, ...EROS.slice(1));
    await choose(page, [write('long-100000.txt', `${blocks.join('\n')}\n`)]);
    await page.waitForFunction(() => document.getElementById('table-count').textContent === '100,000 of 100,000 rows', { timeout: 60000 });
    // The scatter plot draws 100,000 rows at one place as a point of 2 px or more each way.
    await page.waitForFunction(() => document.getElementById('scatter-count').textContent === '100,000 of 100,000 rows drawn'
      && document.getElementById('scatter').dataset.dots === '[]', { timeout: 30000 });
    const point = await page.$eval('#scatter', (canvas) => {
      const [r, g, b] = getComputedStyle(document.documentElement).getPropertyValue('--point').split(',').map(Number);
      const { data, width } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
      const xs = [];
      const ys = [];
      for (let p = 0; p < data.length; p += 4) {
        if (data[p] !== r || data[p + 1] !== g || data[p + 2] !== b || data[p + 3] < 175) continue;
        xs.push((p / 4) % width);
        ys.push(Math.floor(p / 4 / width));
      }
      const ratio = window.devicePixelRatio || 1;
      return { pixels: xs.length, across: (Math.max(...xs) - Math.min(...xs) + 1) / ratio, down: (Math.max(...ys) - Math.min(...ys) + 1) / ratio };
    });
    assert.ok(point.pixels > 0 && point.across >= 2 && point.down >= 2, `the crowded point: ${JSON.stringify(point)}`);
    // Tab from the first control to the last: each once, the table once, never the document. (A
    // group of radio buttons is one stop, its checked button.)
    const controls = await page.$$eval('button, input, textarea, a[href], [tabindex="0"]', (all) => all
      .filter((control) => control.checkVisibility() && control.tabIndex >= 0 && !control.disabled && (control.type !== 'radio' || control.checked))
      .length);
    await page.evaluate(() => {
      document.body.tabIndex = -1;
      document.body.focus();
      document.body.removeAttribute('tabindex');
    });
    const reached = [];
    for (let k = 0; k < controls + 5; ++k) {
      await page.keyboard.press('Tab');
      const now = await page.evaluate(() => {
        const at = document.activeElement;
        if (!at || at === document.body) return null;
        if (!at.dataset.tabbed) at.dataset.tabbed = String(Math.random());
        return `${at.tagName} ${at.getAttribute('role') ?? ''} ${at.getAttribute('aria-label') ?? at.textContent.slice(0, 30)} ${at.dataset.tabbed}`;
      });
      if (now === null || reached.includes(now)) break;
      reached.push(now);
    }
    assert.equal(reached.length, controls, `controls reached by Tab:\n${reached.join('\n')}`);
    assert.ok(reached.some((control) => control.startsWith('DIV grid')), 'the table is one stop');
    // End and Page Up: the focus stays on the table, on the row it was moved to.
    await page.focus('#table [role=grid]');
    await page.keyboard.press('End');
    await page.keyboard.press('PageUp');
    await page.waitForFunction(() => {
      const row = Number(document.querySelector('#table .row.active')?.getAttribute('aria-rowindex'));
      return row < 100001 && row > 99980;
    });
    assert.equal(await page.evaluate(() => document.activeElement === document.querySelector('#table [role=grid]')), true);
    await done();
  });

  await test('an empty paste makes no card and says why; each paste has a name and a download of its own', async () => {
    const { page, done } = await openPage();
    const convertText = await page.waitForSelector('::-p-aria([name="Convert text"][role="button"])');
    await convertText.click();
    await page.waitForFunction(() => document.getElementById('paste-status').textContent.includes('nothing to convert'));
    assert.equal(await page.$$eval('.run', (cards) => cards.length), 0);
    const area = await page.waitForSelector('::-p-aria([name="Paste text"][role="textbox"])');
    const texts = [`${EROS.join('\n')}\n`, `A note.\n${EROS.join('\n').replace('Eros', 'Eros again')}\n`];
    for (const text of texts) {
      await area.evaluate((element, value) => { element.value = value; }, text);
      await convertText.click();
    }
    for (const [k, name] of ['pasted text', 'pasted text 2'].entries()) {
      const { table } = await expectProgramOutput(page, write(`pasted-${k}.txt`, texts[k]), name);
      assert.equal(table.name, `${name}.csv`);
    }
    assert.equal(await page.$eval('#paste-status', (element) => element.textContent), '');
    await done();
  });

  await test('a new input\'s table is shown until one is chosen, and Show table brings it into view', async () => {
    const { page, done } = await openPage({ width: 1280, height: 600 });
    await choose(page, ['examples/circular.txt']);
    await finishedRun(page, 'circular.txt');
    await page.waitForFunction(() => document.getElementById('result-heading').textContent === 'Table of circular.txt');
    const other = write('other.txt', `${EROS.join('\n')}\n`);
    await choose(page, [other]);
    await finishedRun(page, 'other.txt');
    await page.waitForFunction(() => document.getElementById('result-heading').textContent === 'Table of other.txt');
    const region = await page.waitForSelector('::-p-aria([name="circular.txt"][role="region"])');
    await page.evaluate(() => window.scrollTo(0, 0));
    await (await region.waitForSelector('::-p-aria([name="Show table"][role="button"])')).click();
    await page.waitForFunction(() => {
      const box = document.getElementById('result').getBoundingClientRect();
      return document.getElementById('result-heading').textContent === 'Table of circular.txt' && box.top >= -1 && box.top < window.innerHeight / 2;
    });
    // Chosen now: a later input converts without taking its place.
    await choose(page, [write('third.txt', `${EROS.join('\n')}\n`)]);
    await finishedRun(page, 'third.txt');
    await new Promise((resolve) => setTimeout(resolve, 300));
    assert.equal(await page.$eval('#result-heading', (element) => element.textContent), 'Table of circular.txt');
    await done();
  });

  await test('filtering by name ignores accents and case', async () => {
    const { page, done } = await openPage();
    await choose(page, ['examples/circular.txt']);
    await finishedRun(page, 'circular.txt');
    await page.type('::-p-aria([name="Filter by name"])', 'FODERA');
    await page.waitForFunction(() => document.getElementById('table-count').textContent === '1 of 5 rows', { timeout: 30000 });
    await page.waitForFunction(() => document.querySelector('#table .row .name')?.textContent === 'Foderà 11021');
    await done();
  });

  await test('the scatter plot moves with the arrow keys, zooms with + and - and on its points, and names the point in its middle', async () => {
    const { page, done } = await openPage();
    await choose(page, ['examples/circular.txt']);
    await finishedRun(page, 'circular.txt');
    const view = () => page.$eval('#scatter', (canvas) => JSON.parse(canvas.dataset.view ?? 'null'));
    await page.waitForFunction(() => document.getElementById('scatter').dataset.view);
    const whole = await view();
    await page.focus('#scatter');
    await page.keyboard.press('ArrowRight');
    await page.waitForFunction((x0) => JSON.parse(document.getElementById('scatter').dataset.view).x0 > x0, {}, whole.x0);
    const moved = await view();
    assert.ok(Math.abs(moved.x0 - whole.x0 - 0.1 * (whole.x1 - whole.x0)) < 1e-9 && moved.y0 === whole.y0);
    await page.keyboard.press('ArrowUp');
    await page.waitForFunction((y0) => JSON.parse(document.getElementById('scatter').dataset.view).y0 > y0, {}, whole.y0);
    await page.keyboard.press('+');
    await page.waitForFunction((width) => { const v = JSON.parse(document.getElementById('scatter').dataset.view); return v.x1 - v.x0 < width; }, {}, whole.x1 - whole.x0);
    await page.keyboard.press('0');
    await page.waitForFunction((x0) => JSON.parse(document.getElementById('scatter').dataset.view).x0 === x0, {}, whole.x0);
    // Zoom in, clicked, closes in on the points (their mean is a of 2.3, e of 0.27), not on the
    // middle of the plot's range.
    await page.click('#zoom-in');
    await page.waitForFunction((width) => { const v = JSON.parse(document.getElementById('scatter').dataset.view); return v.x1 - v.x0 < width; }, {}, whole.x1 - whole.x0);
    const zoomed = await view();
    const centre = [(zoomed.x0 + zoomed.x1) / 2, (zoomed.y0 + zoomed.y1) / 2];
    const before = [(whole.x0 + whole.x1) / 2, (whole.y0 + whole.y1) / 2];
    assert.ok(Math.abs(centre[0] - 2.34) < Math.abs(before[0] - 2.34) && Math.abs(centre[1] - 0.27) < Math.abs(before[1] - 0.27), JSON.stringify(zoomed));
    // Hovering a point names it.
    const [x, y] = await page.$eval('#scatter', (canvas) => {
      const dot = JSON.parse(canvas.dataset.dots)[0];
      const box = canvas.getBoundingClientRect();
      return [box.left + dot[0], box.top + dot[1]];
    });
    await page.mouse.move(x, y);
    await page.waitForFunction(() => !document.getElementById('scatter-tip').hidden);
    assert.match(await page.$eval('#scatter-tip', (tip) => tip.textContent), /^(Eros 433|2026 WQ7 \(Unnamed\)|Toutatis, revised 4179|Foderà 11021)$/);
    await done();
  });

  await test('the planets\' names fit beside their orbits and a long legend stays in its box', async () => {
    const blocks = [];
    for (let k = 0; k < 30; ++k) blocks.push(`(${k}) ${k === 0 ? 'A name long enough to be cut short in the legend of the orbit view' : `Body ${k}`}`, ...EROS.slice(1));
    const file = write('legend.txt', `${blocks.join('\n')}\n`);
    for (const width of [360, 480, 800, 1280]) {
      const { page, done } = await openPage({ width, height: 900 });
      await choose(page, [file]);
      await finishedRun(page, 'legend.txt');
      await page.waitForFunction(() => document.getElementById('orbits').dataset.labels);
      const { boxes } = JSON.parse(await page.$eval('#orbits', (canvas) => canvas.dataset.labels));
      assert.deepEqual(boxes.map((box) => box?.name), ['Earth', 'Mars', 'Jupiter'], `at ${width} px`);
      for (const [k, box] of boxes.entries()) {
        for (const other of boxes.slice(k + 1)) {
          assert.ok(box.x + box.width <= other.x || other.x + other.width <= box.x || box.y + box.height <= other.y || other.y + other.height <= box.y, `${box.name} and ${other.name} at ${width} px`);
        }
      }
      // Tick every row: the legend names twelve and counts the rest, within its box.
      await page.$$eval('#table .row input[type=checkbox]', (checks) => checks.forEach((check) => { if (!check.checked) check.click(); }));
      await page.waitForFunction(() => [...document.querySelectorAll('#orbit-legend li')].at(-1)?.textContent.startsWith('and '));
      const legend = await page.$eval('#orbit-legend', (list) => {
        const box = list.getBoundingClientRect();
        const items = [...list.children];
        return {
          inside: items.every((item) => item.getBoundingClientRect().right <= box.right + 1),
          last: items.at(-1).textContent,
          long: items.find((item) => item.title.includes('A name long'))?.title,
        };
      });
      assert.ok(legend.inside, `legend items within the box at ${width} px`);
      // Every checkbox, radio button and download link is a target of 24 by 24 pixels or more.
      await page.waitForSelector('::-p-aria([name="Download CSV"][role="link"])');
      const small = await page.$$eval('input[type=checkbox], input[type=radio], .run a', (targets) => targets
        .filter((target) => target.checkVisibility())
        .map((target) => ({ target: target.getAttribute('aria-label') ?? target.textContent ?? target.value, box: target.getBoundingClientRect() }))
        .filter(({ box }) => box.width < 24 || box.height < 24)
        .map(({ target, box }) => `${target}: ${box.width} by ${box.height}`));
      assert.deepEqual(small, [], `targets smaller than 24 px at ${width} px`);
      // Scrolled sideways, the table keeps the first row's name in view, and says it scrolls.
      const sideways = await page.$eval('#table .scroller', async (scroller) => {
        const hint = document.querySelector('#table .sideways').checkVisibility();
        scroller.scrollLeft = scroller.scrollWidth;
        await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
        const name = scroller.querySelector('.row .name').getBoundingClientRect();
        const box = scroller.getBoundingClientRect();
        return { hint, scrolled: scroller.scrollLeft > 0, inView: name.left >= box.left && name.right <= box.right };
      });
      assert.deepEqual(sideways, { hint: true, scrolled: true, inView: true }, `the table scrolled sideways at ${width} px`);
      assert.match(legend.last, /^and \d+ more$/);
      assert.equal(legend.long, '(0) A name long enough to be cut short in the legend of the orbit view');
      await done();
    }
  });

  await test('a one-finger drag over a picture scrolls the page', async () => {
    const { page, done } = await openPage({ width: 400, height: 700, hasTouch: true, isMobile: true });
    await choose(page, ['examples/circular.txt']);
    await finishedRun(page, 'circular.txt');
    await page.waitForFunction(() => document.getElementById('scatter').dataset.view);
    // Drags down the middle of an element, which scrolls the page up where touch pans it.
    const drag = async (selector) => {
      await page.$eval(selector, (element) => element.scrollIntoView({ block: 'center' }));
      const { x, y } = await page.$eval(selector, (element) => {
        const box = element.getBoundingClientRect();
        return { x: box.left + box.width / 2, y: box.top + box.height / 2 };
      });
      const before = await page.evaluate(() => window.scrollY);
      await page.touchscreen.touchStart(x, y - 80);
      for (let step = 1; step <= 10; ++step) await page.touchscreen.touchMove(x, y - 80 + 15 * step);
      await page.touchscreen.touchEnd();
      return page.waitForFunction((start) => window.scrollY < start - 50, { timeout: 3000 }, before).then(() => true, () => false);
    };
    // Where the browser does not scroll by emulated touch at all, there is nothing to test.
    if (!(await drag('#result-heading'))) {
      console.log(`# skipped: ${browserName} does not scroll the page by emulated touch`);
    } else {
      for (const picture of ['#orbits', '#scatter']) assert.ok(await drag(picture), `${picture} scrolls the page`);
    }
    await done();
  });
} finally {
  await browser.close();
  rmSync(work, { recursive: true, force: true });
}
console.log(`${browserName}: ${count - failures} of ${count} passed`);
process.exitCode = failures === 0 ? 0 : 1;
