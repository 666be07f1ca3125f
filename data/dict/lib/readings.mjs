// Syllables as the builder handles them: { pinyin, tone } in the engine's own
// spelling (ü as v, no marks), with conversions from the sources' notations
// and back to the tone-marked notation the engine's files use.
import { markSyllable, parseReading, unitIndex } from './notation.mjs';

// j, q, x and y are written with u where the sound is ü; the engine reads
// both, the files use the written form.
function canonical(pinyin, tone) {
  const plain = pinyin.replace(/^([jqxy])v/, '$1u');
  if (!/^[a-z]+$/.test(plain) || unitIndex(plain, tone) < 0) return null;
  // m and n have no first-tone mark in the notation.
  if (markSyllable(plain, tone) === null) return null;
  return { pinyin: plain, tone };
}

// A tone-marked reading from Unihan or pinyin-data; null when the engine
// cannot speak it (ê, hm, m̄ and the like).
const markedCache = new Map();
export function fromMarked(reading) {
  let s = markedCache.get(reading);
  if (s === undefined) {
    const { pinyin, tone } = parseReading(reading.normalize('NFC').trim());
    s = canonical(pinyin, tone);
    markedCache.set(reading, s);
  }
  return s;
}

// A numbered syllable as CC-CEDICT writes it (lu:e4, Zhong1, r5, de5).
const numberedCache = new Map();
export function fromNumbered(syllable) {
  let s = numberedCache.get(syllable);
  if (s === undefined) {
    s = parseNumbered(syllable);
    numberedCache.set(syllable, s);
  }
  return s;
}

function parseNumbered(syllable) {
  const m = /^([A-Za-z:]+)([1-5])$/.exec(syllable);
  if (!m) return null;
  let plain = m[1].toLowerCase().replace(/u:/g, 'v');
  // The erhua suffix 儿 is spoken as its own syllable.
  if (plain === 'r') plain = 'er';
  return canonical(plain, m[2] === '5' ? 0 : Number(m[2]));
}

export const key = (s) => `${s.pinyin}${s.tone}`;
export const sameReading = (a, b) => a.length === b.length && a.every((s, i) => key(s) === key(b[i]));

// Back to the tone-marked notation, checked against the engine's parser so
// that the file says exactly what was meant.
export function toMarked(s) {
  const marked = markSyllable(s.pinyin, s.tone);
  if (marked === null) return null;
  const back = parseReading(marked);
  const again = canonical(back.pinyin, back.tone);
  if (!again || key(again) !== key(s)) return null;
  return marked;
}
