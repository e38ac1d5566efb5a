// Builds the page: one HTML file that holds its style, its script, the worker's script and the
// converter module, and works opened from disk as well as from any static host.
//
//   node web/build.mjs CONVERTER.wasm OUTPUT.html
//
// The scripts are ES modules that import one another by relative name. They are joined here
// into one script each (the page's, the worker's), dependencies first, with their import lines
// and export keywords taken out: a worker made from a blob: URL opened from disk must be a
// classic script with no imports. So the modules share one scope: two modules may not declare
// the same top-level name, which this checks.
import { createHash } from 'node:crypto';
import { readFileSync, writeFileSync } from 'node:fs';
import { basename, dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

// A guard against growth unawares, not a limit of browsers: the converter, which holds the
// reading by labels beside the table's, is most of the page.
const LARGEST_PAGE_BYTES = 320 * 1024;
const here = dirname(fileURLToPath(import.meta.url));
const [converterPath, outputPath] = process.argv.slice(2);
if (!converterPath || !outputPath) {
  console.error('usage: node web/build.mjs CONVERTER.wasm OUTPUT.html');
  process.exit(2);
}

const IMPORT = /^import\s*\{[^}]*\}\s*from\s*'\.\/([\w-]+\.js)';\n/gm;
const EXPORT = /^export\s+(?=(?:async\s+)?(?:function|const|let|class)\b)/gm;
const DECLARATION = /^(?:async\s+)?(?:function\*?|const|let|class)\s+([\w$]+)/gm;

function bundle(entry) {
  const included = [];
  const declared = new Map();
  const add = (file) => {
    if (included.some((part) => part.file === file)) return;
    const source = readFileSync(join(here, file), 'utf8');
    for (const [, dependency] of source.matchAll(IMPORT)) add(dependency);
    const code = source.replace(IMPORT, '').replace(EXPORT, '');
    if (/^\s*(import|export)\b/m.test(code)) throw new Error(`${file}: an import or export the page build cannot join`);
    for (const [, name] of code.matchAll(DECLARATION)) {
      if (declared.has(name)) throw new Error(`${file} and ${declared.get(name)} both declare ${name}`);
      declared.set(name, file);
    }
    included.push({ file, code: `// ${basename(file)}\n${code}` });
  };
  add(entry);
  return included.map((part) => part.code).join('\n');
}

// A JavaScript string literal of the text, safe inside a <script> element.
const stringLiteral = (text) => JSON.stringify(text).replace(/</g, '\\u003c');
const hash = (text) => `'sha256-${createHash('sha256').update(text, 'utf8').digest('base64')}'`;
const fill = (text, marker, value) => {
  if (!text.includes(marker)) throw new Error(`no ${marker} to fill`);
  return text.split(marker).join(value);
};

const converter = readFileSync(converterPath).toString('base64');
const worker = fill(bundle('worker.js'), '@CONVERTER_WASM_BASE64@', converter);
const script = fill(bundle('page.js'), "'@WORKER_SOURCE@'", stringLiteral(worker));
const style = readFileSync(join(here, 'style.css'), 'utf8');
// Nothing is fetched: the page's own script and style by their hashes, the worker from the
// blob: URL the script makes, the converter compiled from the bytes in it; the table is handed
// out as a blob: URL.
const policy = [
  "default-src 'none'",
  `script-src ${hash(script)} 'wasm-unsafe-eval'`,
  'worker-src blob:',
  `style-src ${hash(style)}`,
  'img-src data:',
  'connect-src blob:',
  "base-uri 'none'",
  "form-action 'none'",
].join('; ');
let page = readFileSync(join(here, 'orbitcsv.html'), 'utf8');
page = fill(page, '@CONTENT_SECURITY_POLICY@', policy);
page = fill(page, '@STYLE@', style);
page = fill(page, '@SCRIPT@', script);
if (/<\/script/i.test(script)) throw new Error('the script holds </script');
const size = Buffer.byteLength(page);
if (size > LARGEST_PAGE_BYTES) throw new Error(`the page is ${size} bytes, more than ${LARGEST_PAGE_BYTES}`);
writeFileSync(outputPath, page);
console.log(`${basename(outputPath)}: ${size} bytes (converter ${readFileSync(converterPath).length} bytes)`);
