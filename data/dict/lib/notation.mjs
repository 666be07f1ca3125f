// Pinyin notations: tone-marked readings as the engine's dictionaries hold
// them, numbered syllables as word lists ship them, and the engine's own
// reading of both (mark stripping and unit index), mirrored here so that the
// builder never writes a reading the engine cannot speak.

// The engine's tone-mark rows, in its matching order. Every row starts with
// a UTF-8 lead byte, so matching whole characters of a valid string is the
// same as the engine's byte-wise matching.
const MARK_ROWS = [
  ['ā', 'a', 1], ['á', 'a', 2], ['ǎ', 'a', 3], ['à', 'a', 4],
  ['ē', 'e', 1], ['é', 'e', 2], ['ě', 'e', 3], ['è', 'e', 4],
  ['ī', 'i', 1], ['í', 'i', 2], ['ǐ', 'i', 3], ['ì', 'i', 4],
  ['ō', 'o', 1], ['ó', 'o', 2], ['ǒ', 'o', 3], ['ò', 'o', 4],
  ['ū', 'u', 1], ['ú', 'u', 2], ['ǔ', 'u', 3], ['ù', 'u', 4],
  ['ǖ', 'v', 1], ['ǘ', 'v', 2], ['ǚ', 'v', 3], ['ǜ', 'v', 4],
  ['ü', 'v', 0], ['ń', 'n', 2], ['ň', 'n', 3], ['ǹ', 'n', 4],
  ['ḿ', 'm', 2], ['m\u0300', 'm', 4],
];

// Marked reading -> { pinyin, tone }, as the engine parses it. Characters
// outside the table stay in the spelling (lower-cased if A-Z), which then
// has no unit index.
export function parseReading(reading) {
  let pinyin = '';
  let tone = 0;
  for (let i = 0; i < reading.length;) {
    const row = MARK_ROWS.find(([m]) => reading.startsWith(m, i));
    if (row) {
      pinyin += row[1];
      if (row[2] !== 0) tone = row[2];
      i += row[0].length;
    } else {
      const c = reading[i];
      pinyin += c >= 'A' && c <= 'Z' ? c.toLowerCase() : c;
      i += 1;
    }
  }
  return { pinyin, tone };
}

const INITIAL_BASE = {
  b: 416, c: 832, d: 1248, f: 2080, g: 2496, h: 2912, sh: 3328, j: 3744,
  k: 4160, l: 4576, m: 4992, n: 5408, p: 6240, q: 6656, r: 7072, s: 7488,
  t: 7904, zh: 8320, ch: 8736, w: 9152, x: 9568, y: 9984, z: 10400,
};
const FINAL_OFFSET = {
  a: 0, ui: 16, ve: 16, ian: 32, an: 48, e: 64, eng: 80, en: 96, ng: 96, n: 96,
  ing: 112, i: 128, in: 144, ong: 160, iong: 160, iao: 176, iang: 192,
  uang: 192, uan: 208, van: 208, o: 224, uo: 224, ou: 240, er: 240, ia: 256,
  ua: 256, ei: 272, ang: 288, ie: 304, u: 320, v: 336, uai: 336, ao: 352,
  ai: 368, iu: 384, un: 400, vn: 400,
};

function splitSyllable(pinyin) {
  const s = pinyin.replace(/[A-Z]/g, (c) => c.toLowerCase());
  for (const two of ['zh', 'ch', 'sh']) {
    if (s.startsWith(two)) return [two, s.slice(2)];
  }
  if (s.length && 'bpmfdtnlgkhjqxrzcsyw'.includes(s[0])) return [s[0], s.slice(1)];
  return ['', s];
}

// The engine's unit index of a syllable, or -1.
export function unitIndex(pinyin, tone) {
  let spelling = pinyin;
  if (spelling === 'ng' || spelling === 'n' || spelling === 'm') {
    spelling = 'en';
    if (tone === 3) tone = 4;
  }
  let [initial, final] = splitSyllable(spelling);
  if (final === 'ue') final = 've';
  let block;
  if (initial) {
    if (!(initial in INITIAL_BASE)) return -1;
    block = INITIAL_BASE[initial];
  } else {
    block = { a: 0, e: 1664, o: 5824 }[final[0]] ?? 0;
  }
  if (!Object.hasOwn(FINAL_OFFSET, final)) return -1;
  return block + FINAL_OFFSET[final] + tone;
}

const MARKS = {
  a: 'āáǎà', e: 'ēéěè', i: 'īíǐì', o: 'ōóǒò', u: 'ūúǔù', ü: 'ǖǘǚǜ',
  n: [null, 'ń', 'ň', 'ǹ'], m: [null, 'ḿ', null, 'm\u0300'],
};

// Plain syllable (ü as ü or v, any case) and tone 0..4 -> marked reading, or
// null when the notation has no way to write it (m or n in the first tone).
export function markSyllable(plain, tone) {
  let s = plain.toLowerCase().replace(/u:|v/g, 'ü');
  // j, q, x and y never take ü in writing.
  s = s.replace(/^([jqxy])ü/, '$1u');
  if (tone === 0) return s;
  let at = -1;
  if (s.includes('a')) at = s.indexOf('a');
  else if (s.includes('e')) at = s.indexOf('e');
  else if (s.includes('ou')) at = s.indexOf('o');
  else {
    for (let i = s.length - 1; i >= 0; --i) {
      if ('iouü'.includes(s[i])) { at = i; break; }
    }
  }
  if (at < 0) {
    // Syllabic nasals: the mark sits on the n or m.
    at = s.search(/[nm]/);
    if (at < 0) return null;
  }
  const mark = MARKS[s[at]]?.[tone - 1];
  if (!mark) return null;
  return s.slice(0, at) + mark + s.slice(at + 1);
}
