#!/usr/bin/env node
// Runs a WASI program under Node: node wasi-run.mjs PROGRAM.wasm [ARGUMENT...]
//
// The program gets the arguments as given, the standard streams of this process and the whole
// file system from its root, so that absolute names reach the files they name; PWD tells it
// this process's working directory, against which relative names are taken. It exits with the
// program's status.
process.removeAllListeners('warning');  // Node calls WASI experimental, on standard error
const { WASI } = await import('node:wasi');
const { readFile } = await import('node:fs/promises');

const [program, ...args] = process.argv.slice(2);
if (!program) {
  process.stderr.write('usage: wasi-run.mjs PROGRAM.wasm [ARGUMENT...]\n');
  process.exit(125);
}
const wasi = new WASI({
  version: 'preview1',
  args: [program, ...args],
  env: { PWD: process.cwd() },
  preopens: { '/': '/' },
  returnOnExit: true,
});
const module = await WebAssembly.compile(await readFile(program));
const instance = await WebAssembly.instantiate(module, wasi.getImportObject());
process.exitCode = wasi.start(instance);
