// Builds the benchmark corpus: the modern Chinese prose of Debian's Chinese
// manual pages (manpages-zh), roff markup stripped, cut into the shapes the
// benchmarks speak. Every program reads the same files, so the engine and its
// peers work on identical text.
//
//   node bench/make_corpus.mjs OUT_DIR [MAN_DIR]
//
// OUT_DIR receives (UTF-8, one item per line unless noted):
//   paragraphs.txt  one prose paragraph per line
//   lines.txt       the short source lines of those paragraphs
//   sentences.txt   sentences of 8..40 Han characters
//   bulk.txt        paragraphs packed into chunks of at most 32768 UTF-16
//                   code units (64 KB), chunks separated by U+001E
//   sonic.txt       the leading paragraphs up to SONIC_HAN Han characters
//   espeak.txt      the leading paragraphs up to ESPEAK_HAN Han characters
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

const BULK_UNITS = 32768;
const SONIC_HAN = Number(process.env.VESK_BENCH_SONIC_HAN ?? 20000);
const ESPEAK_HAN = Number(process.env.VESK_BENCH_ESPEAK_HAN ?? 3000);

const outDir = process.argv[2];
const manDir = process.argv[3] ?? '/usr/share/man/zh_CN';
if (!outDir) {
  console.error('usage: make_corpus.mjs OUT_DIR [MAN_DIR]');
  process.exit(2);
}

// The engine's Han block.
const isHan = (c) => c >= 0x4e00 && c <= 0x9fff;
export function countHan(s) {
  let n = 0;
  for (let i = 0; i < s.length; i++) if (isHan(s.charCodeAt(i))) n++;
  return n;
}

function manFiles(dir) {
  const out = [];
  for (const section of fs.readdirSync(dir).sort()) {
    const sub = path.join(dir, section);
    if (!fs.statSync(sub).isDirectory()) continue;
    for (const name of fs.readdirSync(sub).sort()) {
      const file = path.join(sub, name);
      const st = fs.lstatSync(file);
      if (st.isFile()) out.push(file);  // symbolic links repeat other pages
    }
  }
  return out;
}

const specialChars = {em: '—', en: '–', bu: '•', co: '©', lq: '“', rq: '”',
                      aq: '\'', dq: '"', hy: '-', mi: '-', ti: '~', cq: '’',
                      oq: '‘', rg: '®', tm: '™', de: '°', mu: '×', di: '÷'};

// Inline escapes of one text line.
function stripEscapes(line) {
  let out = '';
  for (let i = 0; i < line.length; i++) {
    const c = line[i];
    if (c !== '\\') { out += c; continue; }
    const e = line[++i];
    if (e === undefined) break;
    const bracket = (start) => {  // [name] or (xx or x; returns end index
      if (line[start] === '[') {
        const end = line.indexOf(']', start);
        return end < 0 ? line.length : end;
      }
      if (line[start] === '(') return start + 2;
      return start;
    };
    switch (e) {
      case '"': return out;               // comment to end of line
      case 'f': case '*': case 'n': case 'g': case 'F': case 'm': case 'M':
        i = bracket(i + 1); break;
      case '(': {
        const name = line.substr(i + 1, 2);
        out += specialChars[name] ?? '';
        i += 2; break;
      }
      case '[': {
        const end = line.indexOf(']', i);
        const name = line.slice(i + 1, end < 0 ? line.length : end);
        out += specialChars[name] ?? '';
        i = end < 0 ? line.length : end; break;
      }
      case 's': {
        let j = i + 1;
        if (line[j] === '[' || line[j] === '(') { i = bracket(j); break; }
        if (line[j] === '+' || line[j] === '-') j++;
        while (j < line.length && /[0-9]/.test(line[j])) j++;
        i = j - 1; break;
      }
      case 'h': case 'v': case 'w': case 'o': case 'l': case 'L': case 'x':
      case 'D': case 'b': case 'X': case 'Z': case 'N': case 'C': case 'A': {
        const q = line[i + 1];
        const end = line.indexOf(q, i + 2);
        i = end < 0 ? line.length : end; break;
      }
      case 'k': i += 1; break;
      case '-': out += '-'; break;
      case 'e': case '\\': out += '\\'; break;
      case ' ': case '~': case '0': out += ' '; break;
      case '&': case '|': case '^': case 'c': case '%': case ':': case 'p':
      case 'd': case 'u': case 'r': case 't': case 'a':
        break;
      default: out += e;
    }
  }
  return out;
}

const fontMacros = new Set(['B', 'I', 'R', 'SM', 'SB']);
const alternatingMacros = new Set(['BI', 'BR', 'IB', 'IR', 'RB', 'RI']);
const breakMacros = new Set(['PP', 'LP', 'P', 'TP', 'IP', 'HP', 'sp', 'RS',
                             'RE', 'nf', 'fi', 'br', 'SH', 'SS', 'TH', 'bp',
                             'in', 'ti', 'Sh', 'Sp', 'Ip', 'TS', 'TE', 'EX',
                             'EE', 'Vb', 'Ve', 'ce', 'UR', 'UE', 'TQ', 'PD']);

function macroArgs(rest) {
  const args = [];
  const re = /"((?:[^"]|"")*)"|(\S+)/g;
  let m;
  while ((m = re.exec(rest)) !== null) args.push(m[1] !== undefined ? m[1].replace(/""/g, '"') : m[2]);
  return args;
}

// Paragraphs of one page, each a list of its text lines.
function pageParagraphs(source) {
  const paragraphs = [];
  let current = [];
  let skipUntilDots = false;
  let inTable = false;
  const flush = () => { if (current.length) paragraphs.push(current); current = []; };
  for (const raw of source.split(/\r?\n/)) {
    if (skipUntilDots) { if (/^\.\.\s*$/.test(raw)) skipUntilDots = false; continue; }
    const m = /^[.'][ \t]*(\S*)[ \t]*(.*)$/.exec(raw);
    if (m) {
      const name = m[1];
      if (name.startsWith('\\"') || name === '') continue;
      if (name === 'de' || name === 'de1' || name === 'am' || name === 'ig') { skipUntilDots = true; continue; }
      if (name === 'TS') { flush(); inTable = true; continue; }
      if (name === 'TE') { inTable = false; continue; }
      if (fontMacros.has(name)) {
        const text = stripEscapes(macroArgs(m[2]).join(' ')).trim();
        if (text) current.push(text);
        continue;
      }
      if (alternatingMacros.has(name)) {
        const text = stripEscapes(macroArgs(m[2]).join('')).trim();
        if (text) current.push(text);
        continue;
      }
      if (breakMacros.has(name)) {
        flush();
        if (name === 'SH' || name === 'SS') {
          const heading = stripEscapes(macroArgs(m[2]).join(' ')).trim();
          if (heading) { current.push(heading); flush(); }
        }
        continue;
      }
      continue;  // requests without text: .if, .ds, .nh, .ad, .ne ...
    }
    if (inTable) continue;
    const text = stripEscapes(raw).trim();
    if (text === '') { flush(); continue; }
    current.push(text);
  }
  flush();
  return paragraphs;
}

function isProse(text) {
  const han = countHan(text);
  const visible = text.replace(/\s/g, '').length;
  return han >= 8 && han * 2 >= visible;
}

const paragraphs = [];
const lines = [];
for (const file of manFiles(manDir)) {
  let bytes = fs.readFileSync(file);
  if (file.endsWith('.gz')) bytes = zlib.gunzipSync(bytes);
  for (const para of pageParagraphs(bytes.toString('utf8'))) {
    const text = para.join(' ').replace(/\s+/g, ' ').trim();
    if (!isProse(text)) continue;
    paragraphs.push(text);
    for (const line of para) if (countHan(line) >= 4) lines.push(line.replace(/\s+/g, ' '));
  }
}

const sentences = [];
for (const p of paragraphs) {
  for (const s of p.split(/(?<=[。！？])/)) {
    const t = s.trim();
    const han = countHan(t);
    if (han >= 8 && han <= 40) sentences.push(t);
  }
}

const chunks = [];
let chunk = '';
for (const p of paragraphs) {
  if (chunk && chunk.length + 1 + p.length > BULK_UNITS) { chunks.push(chunk); chunk = ''; }
  chunk = chunk ? chunk + '\n' + p : p;
}
if (chunk) chunks.push(chunk);

function leading(limit) {
  const out = [];
  let han = 0;
  for (const p of paragraphs) {
    if (han >= limit) break;
    out.push(p);
    han += countHan(p);
  }
  return out.join('\n');
}

fs.mkdirSync(outDir, {recursive: true});
const write = (name, text) => fs.writeFileSync(path.join(outDir, name), text + '\n');
write('paragraphs.txt', paragraphs.join('\n'));
write('lines.txt', lines.join('\n'));
write('sentences.txt', sentences.join('\n'));
fs.writeFileSync(path.join(outDir, 'bulk.txt'), chunks.join('\x1e'));
write('sonic.txt', leading(SONIC_HAN));
write('espeak.txt', leading(ESPEAK_HAN));

const han = paragraphs.reduce((n, p) => n + countHan(p), 0);
console.log(`corpus: ${paragraphs.length} paragraphs, ${lines.length} lines, ` +
            `${sentences.length} sentences, ${chunks.length} bulk chunks, ${han} Han characters`);
