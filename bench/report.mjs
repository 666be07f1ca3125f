// Turns the figures of one bench/run.sh into the report: every figure, each
// ratio against its peer and target, printed and written into the README
// between its report markers.
//
//   node bench/report.mjs RESULTS OUT_DIR README
import fs from 'node:fs';
import path from 'node:path';

const [resultsPath, outDir, readmePath] = process.argv.slice(2);
if (!resultsPath || !outDir || !readmePath) {
  console.error('usage: report.mjs RESULTS OUT_DIR README');
  process.exit(2);
}

const values = new Map();
for (const line of fs.readFileSync(resultsPath, 'utf8').split('\n')) {
  const at = line.indexOf(' ');
  if (at > 0) values.set(line.slice(0, at), line.slice(at + 1).trim());
}
const text = (key) => values.get(key) ?? 'n/a';
const num = (key) => {
  const v = Number(values.get(key));
  return Number.isFinite(v) ? v : NaN;
};

const fmt = (v, digits = 3) => {
  if (!Number.isFinite(v)) return 'n/a';
  const a = Math.abs(v);
  if (a >= 1e6) return `${(v / 1e6).toPrecision(digits)} M`;
  if (a >= 1e4) return `${(v / 1e3).toPrecision(digits)} k`;
  if (a >= 10 ** digits) return v.toFixed(0);
  return v.toPrecision(digits);
};
const ratio = (a, b) => (Number.isFinite(a) && Number.isFinite(b) && b !== 0 ? a / b : NaN);
const times = (r) => (Number.isFinite(r) ? `${r.toPrecision(3)}x` : 'n/a');
const verdict = (ok) => (ok === undefined ? '' : ok ? 'met' : '**missed**');

const rows = [];
// name, Vesk, peer, ratio, target, met
function row(name, vesk, peer, r, target, ok) {
  rows.push([name, vesk, peer, r, target, verdict(ok)]);
}

// Conversion through Speak.
const bulkRatio = ratio(num('engine.bulk_han_per_s'), num('pinyinpro.bulk_han_per_s'));
row('Conversion through Speak, bulk (~64 KB per Speak), Han chars/s',
    fmt(num('engine.bulk_han_per_s')), `pinyin-pro ${fmt(num('pinyinpro.bulk_han_per_s'))}`,
    times(bulkRatio), '>= 10x pinyin-pro', bulkRatio >= 10);
const paraRatio = ratio(num('engine.paragraph_han_per_s'), num('pinyinpro.paragraph_han_per_s'));
row('Conversion through Speak, one Speak per paragraph, Han chars/s',
    fmt(num('engine.paragraph_han_per_s')), `pinyin-pro ${fmt(num('pinyinpro.paragraph_han_per_s'))}`,
    times(paraRatio), 'report', undefined);
row('Time per paragraph (Speak to completion call), us',
    fmt(num('engine.paragraph_us')),
    `pinyin-pro ${fmt(1e6 / num('pinyinpro.paragraphs_per_s'))}`,
    times(ratio(1e6 / num('pinyinpro.paragraphs_per_s'), num('engine.paragraph_us'))), 'report', undefined);
const bulkCpuRatio = ratio(num('engine.bulk_han_per_cpu_s'), num('pinyinpro.bulk_han_per_cpu_s'));
row('The same per CPU second of the process, bulk, Han chars per CPU s',
    fmt(num('engine.bulk_han_per_cpu_s')), `pinyin-pro ${fmt(num('pinyinpro.bulk_han_per_cpu_s'))}`,
    times(bulkCpuRatio), 'report (load-independent)', undefined);
const paraCpuRatio = ratio(num('engine.paragraph_han_per_cpu_s'), num('pinyinpro.paragraph_han_per_cpu_s'));
row('The same per CPU second, one Speak per paragraph', fmt(num('engine.paragraph_han_per_cpu_s')),
    `pinyin-pro ${fmt(num('pinyinpro.paragraph_han_per_cpu_s'))}`, times(paraCpuRatio),
    'report (load-independent)', undefined);
const lineRatio = ratio(num('engine.lines_per_s'), num('pinyinpro.lines_per_s'));
row('One Speak per short line, lines/s', fmt(num('engine.lines_per_s')),
    `pinyin-pro ${fmt(num('pinyinpro.lines_per_s'))}`, times(lineRatio), '>= 1x pinyin-pro',
    lineRatio >= 1);
row('One Speak per short line, CPU us per line', fmt(num('engine.line_cpu_us')),
    `pinyin-pro ${fmt(num('pinyinpro.line_cpu_us'))}`,
    times(ratio(num('pinyinpro.line_cpu_us'), num('engine.line_cpu_us'))), 'report (load-independent)',
    undefined);

// Start-up.
const importMs = Math.min(num('pinyinpro.import_ms'), num('pinyinpro.require_ms'));
const initRatio = ratio(importMs, num('engine.init_ms'));
row('Initialize (dictionaries + voice), ms, median of fresh processes',
    fmt(num('engine.init_ms')),
    `pinyin-pro import ${fmt(num('pinyinpro.import_ms'))} (ESM), require ${fmt(num('pinyinpro.require_ms'))} (CJS)`,
    `${times(initRatio)} faster than the quicker`, '< pinyin-pro import', initRatio > 1);
row('Initialize, resident memory beyond the voice file, MB',
    fmt(num('engine.init_rss_beyond_voice_mb')),
    `voice file ${fmt(num('engine.voice_file_mb'))} MB, total growth ${fmt(num('engine.init_rss_growth_mb'))} MB`,
    '', '<= 64 MB', num('engine.init_rss_beyond_voice_mb') <= 64);

// Audio.
const audioRatio = ratio(num('engine.audio_s_per_cpu_s'), num('espeak.audio_s_per_cpu_s'));
row('Speaking at default settings, audio s per CPU s', fmt(num('engine.audio_s_per_cpu_s')),
    `espeak-ng -v cmn ${fmt(num('espeak.audio_s_per_cpu_s'))}`, times(audioRatio), '>= 2000x espeak-ng',
    audioRatio >= 2000);
const sonicRatio = ratio(num('engine.rate70_cpu_s'), num('sonic.cpu_s'));
row('Speaking at rate 70 (Sonic), CPU s for the Sonic text', fmt(num('engine.rate70_cpu_s')),
    `Sonic alone ${fmt(num('sonic.cpu_s'))}`, `${times(sonicRatio)} Sonic's cost`,
    'within 1.2x Sonic', sonicRatio <= 1.2);
row('Speaking at rate 70, audio s per CPU s', fmt(num('engine.rate70_audio_s_per_cpu_s')),
    `Sonic alone ${fmt(num('sonic.audio_s_per_cpu_s'))}`, '', 'report', undefined);

// Latency.
row('Speak to first play callback, sentence, p50 / p99, us',
    `${fmt(num('engine.first_audio_p50_us'))} / ${fmt(num('engine.first_audio_p99_us'))}`, '', '',
    'p99 <= 100 us', num('engine.first_audio_p99_us') <= 100);
row('Stop during speech, return time p50 / p99, us',
    `${fmt(num('engine.stop_p50_us'))} / ${fmt(num('engine.stop_p99_us'))}`, '', '',
    'p99 <= 200 us', num('engine.stop_p99_us') <= 200);

const sdRatio = ratio(num('sd.espeak.first_block_ms'), num('sd.vesk.first_block_ms'));
row('Speech Dispatcher module, SPEAK to first audio block / to 702 END, sentence, median ms',
    `${fmt(num('sd.vesk.first_block_ms'))} / ${fmt(num('sd.vesk.end_ms'))}`,
    `sd_espeak-ng ${fmt(num('sd.espeak.first_block_ms'))} / ${fmt(num('sd.espeak.end_ms'))}`,
    `first block ${times(sdRatio)} sooner`, 'first block <= 1/5 sd_espeak-ng', sdRatio >= 5);

const table = (header, body) =>
  [`| ${header.join(' | ')} |`, `|${header.map(() => '---').join('|')}|`,
   ...body.map((r) => `| ${r.join(' | ')} |`)].join('\n');

// Google Benchmark parts.
const partRows = [];
for (const file of fs.readdirSync(outDir).filter((f) => f.endsWith('.json')).sort()) {
  const data = JSON.parse(fs.readFileSync(path.join(outDir, file), 'utf8'));
  const program = file.replace(/\.json$/, '');
  for (const b of data.benchmarks ?? []) {
    const name = `${program}: ${b.name}`;
    if (b.error_occurred) {
      partRows.push([name, 'skipped', '', b.error_message ?? '']);
      continue;
    }
    const extra = [];
    if (b.items_per_second) extra.push(`${fmt(b.items_per_second)} items/s`);
    if (b.audio_rate) extra.push(`${fmt(b.audio_rate)} audio s/s`);
    if (b.syllables) extra.push(`${fmt(b.syllables)} syllables`);
    if (b.bytes_per_second) extra.push(`${fmt(b.bytes_per_second / 1e6)} MB/s of CPU time`);
    partRows.push([name, `${b.real_time.toPrecision(4)} ${b.time_unit}`,
                   `${b.cpu_time.toPrecision(4)} ${b.time_unit}`, extra.join(', ')]);
  }
}

const report = `## Latest report

${text('machine.date')}, commit ${text('machine.commit')}; ${text('machine.cpu')}, ${text('machine.cores')} cores, ${text('machine.memory')}; ${text('machine.os')}; ${text('machine.compiler')}; node ${text('machine.node')}; ${text('machine.espeak')}.
Load average before / after the run: ${text('machine.load_before')} / ${text('machine.load_after')} (other work on the machine inflates wall times and the p99 figures).

Corpus: ${fmt(num('engine.paragraph_count'))} paragraphs, ${fmt(num('engine.line_count'))} short lines, ${fmt(num('engine.bulk_han'))} Han characters of the Chinese manual pages (manpages-zh). Voice: ${text('machine.voice')}(${text('engine.sample_rate')} Hz). pinyin-pro ${text('pinyinpro.version')}.

${table(['Figure', 'Vesk', 'Peer', 'Ratio', 'Target', ''], rows)}

Details: bulk audio ${fmt(num('engine.bulk_audio_s'))} s in ${fmt(num('engine.bulk_cpu_s'))} CPU s (${fmt(num('engine.bulk_chunks'))} play calls); espeak-ng ${fmt(num('espeak.audio_s'))} s of audio in ${fmt(num('espeak.cpu_s'))} CPU s. Sonic text ${fmt(num('engine.sonic_text_han'))} Han chars: ${fmt(num('sonic.input_audio_s'))} s in, ${fmt(num('sonic.output_audio_s'))} s out; engine at default settings ${fmt(num('engine.default_text_cpu_s'))} CPU s on it. Initialize: ${fmt(num('engine.init_cpu_ms'))} CPU ms, ${fmt(num('engine.init_page_faults'))} page faults, peak memory growth ${fmt(num('engine.init_peak_growth_mb'))} MB. First audio max ${fmt(num('engine.first_audio_max_us'))} us, Stop max ${fmt(num('engine.stop_max_us'))} us (${fmt(num('engine.stop_after_end'))} of 2000 texts had already been spoken to their end when Stop came, and are not counted).

Parts (Google Benchmark, one thread, no thread start; items are Han characters, for SyllableUnitIndex syllables):

${table(['Benchmark', 'Wall', 'CPU', 'Rate'], partRows)}
`;

console.log('\n' + report);

const begin = '<!-- report:begin -->';
const end = '<!-- report:end -->';
let readme = fs.existsSync(readmePath) ? fs.readFileSync(readmePath, 'utf8') : '';
const block = `${begin}\n${report}${end}`;
if (readme.includes(begin) && readme.includes(end)) {
  readme = readme.slice(0, readme.indexOf(begin)) + block + readme.slice(readme.indexOf(end) + end.length);
} else {
  readme = `${readme.trimEnd()}\n\n${block}\n`;
}
fs.writeFileSync(readmePath, readme);
console.log(`report written to ${readmePath}`);
