#!/usr/bin/env node
// Reads every phrase of data/dict/checked-readings.tsv through vesk-pinyin
// (the engine's conversion and sandhi over the built dictionaries) and
// fails, listing them, where the syllables differ from the table's.
// Usage: node dict/check-readings.mjs --tool VESK_PINYIN --dict-dir DIR
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const TABLE = path.join(path.dirname(fileURLToPath(import.meta.url)), 'checked-readings.tsv');

function main() {
  const args = process.argv.slice(2);
  const option = (name) => { const i = args.indexOf(name); return i >= 0 ? args[i + 1] : null; };
  const tool = option('--tool');
  const dictDir = option('--dict-dir');
  if (!tool || !dictDir) {
    console.error('usage: check-readings.mjs --tool VESK_PINYIN --dict-dir DIR');
    process.exit(2);
  }
  const rows = readFileSync(TABLE, 'utf8').split('\n').filter((l) => l && !l.startsWith('#')).map((l) => l.split('\t'));
  const out = execFileSync(tool, ['--dict-dir', dictDir], { input: `${rows.map((r) => r[0]).join('\n')}\n` })
    .toString('utf8').split('\n');
  let wrong = 0;
  rows.forEach(([text, want, why], i) => {
    const got = (out[i] ?? '').trim();
    if (got === want) return;
    ++wrong;
    console.error(`${text}: read ${got}, expected ${want} (${why})`);
  });
  console.log(`checked readings: ${rows.length - wrong} / ${rows.length} as expected`);
  process.exit(wrong ? 1 : 0);
}

main();
