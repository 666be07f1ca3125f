#!/usr/bin/env node
// Measures the engine's readings (vesk-pinyin over the built dictionaries:
// conversion + sandhi), syllable by syllable on the Han characters:
//   accuracy on data/gold/running-text.tsv, adjudicated readings of prose
//     from Debian packages (data/gold/README.md);
//   accuracy on the CPP polyphone benchmark's development split, when it
//     is there (VESK_CPP_DIR, by default ../shared/cpp beside the checkout);
//   agreement with a peer, the npm pinyin-pro library (its syllables put
//     through the engine's own tone sandhi, vesk-pinyin --sandhi), over the
//     Chinese manual pages of Debian's manpages-zh, roff stripped.
// Usage: node dict/compare-pinyin.mjs --tool PATH --dict-dir DIR [--report FILE]
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { gunzipSync } from 'node:zlib';

import { pinyin } from 'pinyin-pro';

import { parseReading } from './lib/notation.mjs';
import { packageVersion } from './lib/sources.mjs';

const MAN_DIR = process.env.VESK_MAN_DIR || '/usr/share/man/zh_CN';
const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const GOLD = path.join(REPO, 'data', 'gold', 'running-text.tsv');
const CPP_DIR = process.env.VESK_CPP_DIR || path.join(REPO, '..', 'shared', 'cpp');
const CPP_MARK = '\u2581';
const isHan = (c) => c >= '\u4e00' && c <= '\u9fff';

function parseArgs(argv) {
  const args = { tool: null, dictDir: null, report: null };
  for (let i = 2; i < argv.length; ++i) {
    const name = argv[i];
    const value = argv[++i];
    if (name === '--tool') args.tool = value;
    else if (name === '--dict-dir') args.dictDir = value;
    else if (name === '--report') args.report = value;
    else throw new Error(`unknown option ${name}`);
  }
  if (!args.tool || !args.dictDir) {
    throw new Error('usage: compare-pinyin.mjs --tool PATH --dict-dir DIR [--report FILE]');
  }
  return args;
}

// Manual pages in a stable order; .so redirections hold no text of their own.
function manPages() {
  const files = [];
  for (const section of readdirSync(MAN_DIR).sort()) {
    const dir = path.join(MAN_DIR, section);
    if (!statSync(dir).isDirectory()) continue;
    for (const name of readdirSync(dir).sort()) files.push(path.join(dir, name));
  }
  return files;
}

// The running text of a roff page: requests and comments go, the arguments
// of text macros (.SH, .B, .TP lines) stay, escapes are removed so that they
// do not cut a run of characters in two.
export function roffText(source) {
  const lines = [];
  for (let line of source.split('\n')) {
    if (/^[.']\s*\\"/.test(line) || /^\\"/.test(line)) continue;
    if (/^[.']/.test(line)) {
      const m = /^[.']\s*([A-Za-z]{1,3})\s*(.*)$/.exec(line);
      if (!m || !/^(SH|SS|B|I|BI|BR|IB|IR|RB|RI|SM|SB|TP|IP|TQ|HP|LP|PP|P|UR|MT)$/.test(m[1])) continue;
      line = m[2].replace(/"/g, '');
    }
    line = line
      .replace(/\\f(\[[^\]]*\]|\(..|.)/g, '')
      .replace(/\\\*(\[[^\]]*\]|\(..|.)/g, '')
      .replace(/\\\((..)/g, ' ')
      .replace(/\\\[[^\]]*\]/g, ' ')
      .replace(/\\[sS][-+]?\d+/g, '')
      .replace(/\\[&,/:|^c%)]/g, '')
      .replace(/\\(.)/g, '$1');
    if ([...line].some(isHan)) lines.push(line);
  }
  return lines;
}

// pinyin-pro's syllable for every character of a line (null where it gives
// none), in the engine's spelling: zhong1, lv4, de0.
function peerSyllables(line) {
  const items = pinyin(line, { type: 'all', toneSandhi: false, v: false });
  return items.map((item) => {
    if (!item.isZh || !item.pinyin) return [item.origin, null];
    const { pinyin: spelling, tone } = parseReading(item.pinyin.normalize('NFC'));
    if (!/^[a-z]+$/.test(spelling)) return [item.origin, null];
    return [item.origin, `${spelling.replace(/^([jqxy])v/, '$1u')}${tone}`];
  });
}

function runTool(tool, args, input) {
  return execFileSync(tool, args, { input, maxBuffer: 1 << 30 }).toString('utf8').split('\n');
}

function percent(n, d) {
  return d ? ((100 * n) / d).toFixed(2) : 'n/a';
}

// Each gold line: source, text, and the spoken syllables of its Han
// characters; a|b accepts either.
function goldAccuracy(tool, dictDir, work) {
  const rows = readFileSync(GOLD, 'utf8').split('\n').filter((l) => l && !l.startsWith('#')).map((l) => l.split('\t'));
  const textFile = path.join(work, 'gold.txt');
  writeFileSync(textFile, `${rows.map((r) => r[1]).join('\n')}\n`);
  const out = runTool(tool, ['--chinese-only', '--dict-dir', dictDir, textFile]);
  const bySource = new Map();
  const misses = [];
  rows.forEach(([source, text, gold], i) => {
    const want = gold.split(' ');
    const got = out[i].split(' ').filter(Boolean);
    const hanAt = [...text].map((c, k) => (isHan(c) ? k : -1)).filter((k) => k >= 0);
    const e = bySource.get(source) ?? { right: 0, all: 0 };
    want.forEach((alternatives, k) => {
      ++e.all;
      if (alternatives.split('|').includes(got[k])) ++e.right;
      else {
        const at = hanAt[k];
        const chars = [...text];
        misses.push(`${chars.slice(Math.max(0, at - 4), at).join('')}[${chars[at]}]${chars.slice(at + 1, at + 5).join('')}\t${got[k] ?? '-'}\t${alternatives}`);
      }
    });
    bySource.set(source, e);
  });
  const total = [...bySource.values()].reduce((a, e) => ({ right: a.right + e.right, all: a.all + e.all }), { right: 0, all: 0 });
  return { bySource, total, misses };
}

// The CPP development split: one labelled polyphone per sentence; a reading
// is right when it equals the label, or is the third-tone sandhi of it.
function cppAccuracy(tool, dictDir, work) {
  const sentFile = path.join(CPP_DIR, 'dev.sent');
  if (!existsSync(sentFile)) return null;
  const sents = readFileSync(sentFile, 'utf8').split('\n').filter(Boolean);
  const labels = readFileSync(path.join(CPP_DIR, 'dev.lb'), 'utf8').split('\n');
  const textFile = path.join(work, 'cpp.txt');
  writeFileSync(textFile, `${sents.map((s) => s.split(CPP_MARK).join('')).join('\n')}\n`);
  const out = runTool(tool, ['--chinese-only', '--dict-dir', dictDir, textFile]);
  const norm = (t) => t.toLowerCase().replace('u:', 'v').replace(/5$/, '0').replace(/^([jqxy])v/, '$1u');
  let right = 0;
  let scored = 0;
  sents.forEach((s, i) => {
    const k = [...s.slice(0, s.indexOf(CPP_MARK))].filter(isHan).length;
    const got = out[i].split(' ').filter(Boolean);
    if (got.length !== [...s].filter(isHan).length) return;
    ++scored;
    const want = norm(labels[i].trim());
    const sandhi = want.endsWith('3') && got[k] === `${want.slice(0, -1)}2` && (got[k + 1] ?? '').endsWith('3');
    if (got[k] === want || sandhi) ++right;
  });
  return { right, scored, sentences: sents.length };
}

function main() {
  const args = parseArgs(process.argv);
  const lines = [];
  const pages = manPages();
  for (const file of pages) {
    const raw = readFileSync(file);
    const text = (file.endsWith('.gz') ? gunzipSync(raw) : raw).toString('utf8');
    lines.push(...roffText(text));
  }

  // Peer: one syllable per Han character, then the engine's sandhi run by run.
  const peer = [];
  const sandhiInput = [];
  for (const line of lines) {
    const hanOnly = [];
    const syllables = [];
    for (const [origin, syllable] of peerSyllables(line)) {
      for (const c of origin) {
        if (!isHan(c)) continue;
        hanOnly.push(c);
        // A multi-character item would not align; it counts as no syllable.
        syllables.push([...origin].length === 1 ? syllable : null);
      }
    }
    peer.push(syllables);
    sandhiInput.push(`${line.replace(/\t/g, ' ')}\t${syllables.map((s) => s ?? '-').join(' ')}`);
  }
  const work = mkdtempSync(path.join(os.tmpdir(), 'vesk-compare-'));
  try {
    const textFile = path.join(work, 'text.txt');
    const sandhiFile = path.join(work, 'sandhi.txt');
    writeFileSync(textFile, `${lines.join('\n')}\n`);
    writeFileSync(sandhiFile, `${sandhiInput.join('\n')}\n`);
    const engineOut = runTool(args.tool, ['--chinese-only', '--dict-dir', args.dictDir, textFile]);
    const peerOut = runTool(args.tool, ['--sandhi', sandhiFile]);

    let compared = 0;
    let same = 0;
    let sameTone = 0;
    let skipped = 0;
    let unalignedLines = 0;
    const disagreements = new Map();
    lines.forEach((line, i) => {
      const han = [...line].filter(isHan);
      const engine = engineOut[i].split(' ').filter(Boolean);
      const theirs = peerOut[i].split(' ').filter(Boolean);
      if (engine.length !== han.length || theirs.length !== han.length) {
        ++unalignedLines;
        skipped += han.length;
        return;
      }
      const hanIndex = [...line].map((c, k) => (isHan(c) ? k : -1)).filter((k) => k >= 0);
      const chars = [...line];
      han.forEach((c, k) => {
        if (engine[k] === '-' || theirs[k] === '-') {
          ++skipped;
          return;
        }
        ++compared;
        if (engine[k] === theirs[k]) ++same;
        if (engine[k].slice(-1) === theirs[k].slice(-1)) ++sameTone;
        if (engine[k] !== theirs[k]) {
          const at = hanIndex[k];
          const context = chars.slice(Math.max(0, at - 2), at + 3).join('');
          const label = `${c} engine ${engine[k]} peer ${theirs[k]}`;
          const entry = disagreements.get(label) ?? { count: 0, contexts: new Set() };
          entry.count += 1;
          if (entry.contexts.size < 4) entry.contexts.add(context);
          disagreements.set(label, entry);
        }
      });
    });

    const gold = goldAccuracy(args.tool, args.dictDir, work);
    const cpp = cppAccuracy(args.tool, args.dictDir, work);
    const sources = [...gold.bySource].map(([name, e]) => `${name} ${percent(e.right, e.all)} % of ${e.all}`).join(', ');
    const summary = [
      `gold running text (data/gold): ${gold.total.right} / ${gold.total.all} syllables right = ${percent(gold.total.right, gold.total.all)} % (${sources})`,
      cpp
        ? `CPP development split: ${cpp.right} / ${cpp.scored} sentences right = ${percent(cpp.right, cpp.scored)} % (${cpp.sentences - cpp.scored} not aligned)`
        : `CPP development split: not found in ${CPP_DIR} (set VESK_CPP_DIR)`,
      `peer agreement on manpages-zh: pages: ${pages.length}, lines with Han text: ${lines.length}`,
      `Han characters compared: ${compared} (skipped ${skipped}; lines not aligned ${unalignedLines})`,
      `whole syllable with tone agrees: ${same} = ${percent(same, compared)} %`,
      `tone agrees: ${sameTone} = ${percent(sameTone, compared)} %`,
      `peer: pinyin-pro ${packageVersion('pinyin-pro')}, its syllables put through the engine's tone sandhi`,
    ];
    console.log(summary.join('\n'));
    if (args.report) {
      const sorted = [...disagreements].sort((a, b) => b[1].count - a[1].count || (a[0] < b[0] ? -1 : 1));
      const body = sorted.map(([label, e]) => `${e.count}\t${label}\t${[...e.contexts].join(' | ')}`);
      writeFileSync(
        args.report,
        `${summary.join('\n')}\n\ngold misses (context, engine, gold)\n${gold.misses.join('\n')}\n\n` +
          `count\tcharacter and readings\tcontexts\n${body.join('\n')}\n`,
      );
      console.log(`disagreements by character: ${args.report}`);
    }
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
}

main();
