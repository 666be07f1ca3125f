// The npm library pinyin-pro on the benchmark corpus: Chinese text to an
// array of toned pinyin with tone numbers, the output closest to what the
// engine's conversion makes.
//
//   node bench/peers/pinyin_pro.mjs import MODULES_DIR
//       prints the time of importing the library (its ES module build) in
//       this fresh process
//   node bench/peers/pinyin_pro.mjs require MODULES_DIR
//       the same for require() of its CommonJS build
//   node bench/peers/pinyin_pro.mjs run MODULES_DIR CORPUS_DIR
//       prints conversion rates for bulk chunks, paragraphs and short lines
//
// MODULES_DIR is the folder whose node_modules holds pinyin-pro (data/).
// Output: one "name value" line per figure.
import fs from 'node:fs';
import path from 'node:path';
import {createRequire} from 'node:module';
import {pathToFileURL} from 'node:url';
import {performance} from 'node:perf_hooks';

const [mode, modulesDir, corpusDir] = process.argv.slice(2);
if (!['import', 'require', 'run'].includes(mode) || !modulesDir || (mode === 'run' && !corpusDir)) {
  console.error('usage: pinyin_pro.mjs import|require|run MODULES_DIR [CORPUS_DIR]');
  process.exit(2);
}

if (mode === 'require') {
  const start = performance.now();
  const load = createRequire(path.join(path.resolve(modulesDir), 'package.json'));
  const {pinyin: loaded} = load('pinyin-pro');
  const ms = performance.now() - start;
  if (typeof loaded !== 'function') process.exit(1);
  console.log(`pinyinpro.require_ms ${ms.toFixed(3)}`);
  process.exit(0);
}

const t0 = performance.now();
const require = createRequire(path.join(path.resolve(modulesDir), 'package.json'));
// The ES module build, as an application written with import would load it.
const manifestPath = require.resolve('pinyin-pro/package.json');
const manifest = JSON.parse(fs.readFileSync(manifestPath, 'utf8'));
const esmEntry = manifest.exports?.['.']?.import?.default ?? manifest.module ?? manifest.main;
const {pinyin} = await import(pathToFileURL(path.join(path.dirname(manifestPath), esmEntry)).href);
const importMs = performance.now() - t0;
const version = manifest.version;

const print = (name, value) => console.log(`pinyinpro.${name} ${value}`);

if (mode === 'import') {
  print('import_ms', importMs.toFixed(3));
  process.exit(0);
}

const isHan = (c) => c >= 0x4e00 && c <= 0x9fff;
const countHan = (s) => {
  let n = 0;
  for (let i = 0; i < s.length; i++) if (isHan(s.charCodeAt(i))) n++;
  return n;
};
const readLines = (name) =>
  fs.readFileSync(path.join(corpusDir, name), 'utf8').split('\n').filter((l) => l.length > 0);

const options = {toneType: 'num', type: 'array'};
let sink = 0;
// Wall seconds, and CPU seconds of the whole process (JIT and GC included).
let cpuSeconds = 0;
const convertAll = (texts) => {
  const cpu = process.cpuUsage();
  const start = performance.now();
  for (const t of texts) sink += pinyin(t, options).length;
  const wall = (performance.now() - start) / 1000;
  const used = process.cpuUsage(cpu);
  cpuSeconds = (used.user + used.system) / 1e6;
  return wall;
};

const bulk = fs.readFileSync(path.join(corpusDir, 'bulk.txt'), 'utf8').split('\x1e');
const paragraphs = readLines('paragraphs.txt');
const lines = readLines('lines.txt');

// Warm the JIT on a slice of each shape before timing.
convertAll(bulk.slice(0, 2));
convertAll(paragraphs.slice(0, 2000));
convertAll(lines.slice(0, 2000));

const bulkHan = bulk.reduce((n, t) => n + countHan(t), 0);
const paraHan = paragraphs.reduce((n, t) => n + countHan(t), 0);
const lineHan = lines.reduce((n, t) => n + countHan(t), 0);
const bulkSeconds = convertAll(bulk);
const bulkCpu = cpuSeconds;
const paraSeconds = convertAll(paragraphs);
const paraCpu = cpuSeconds;
const lineSeconds = convertAll(lines);
const lineCpu = cpuSeconds;

print('version', version);
print('import_ms', importMs.toFixed(3));
print('bulk_han', bulkHan);
print('bulk_seconds', bulkSeconds.toFixed(6));
print('bulk_han_per_s', (bulkHan / bulkSeconds).toFixed(0));
print('bulk_han_per_cpu_s', (bulkHan / bulkCpu).toFixed(0));
print('paragraph_han_per_s', (paraHan / paraSeconds).toFixed(0));
print('paragraph_han_per_cpu_s', (paraHan / paraCpu).toFixed(0));
print('paragraphs_per_s', (paragraphs.length / paraSeconds).toFixed(0));
print('line_han_per_s', (lineHan / lineSeconds).toFixed(0));
print('lines_per_s', (lines.length / lineSeconds).toFixed(0));
print('line_us', (lineSeconds / lines.length * 1e6).toFixed(3));
print('line_cpu_us', (lineCpu / lines.length * 1e6).toFixed(3));
print('sink', sink);
