#!/usr/bin/env bash
# Runs the engine's benchmarks and its peers on one corpus in one go, prints
# every figure and ratio, and writes the report into bench/README.md.
#
#   bench/run.sh [BUILD_DIR]      (default build-bench; `make bench` calls it)
#
# Needs the bench build in BUILD_DIR, the shipped dictionaries and the default
# voice in DATA_DIR (default build/engine, from `make data` and `make voice`),
# node with data/node_modules (pinyin-pro), espeak-ng, sox, and
# speech-dispatcher-espeak-ng with /usr/bin/python3 for the module latency.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd)
data=${VESK_BENCH_DATA_DIR:-$root/build/engine}
engine=$build/engine
corpus=$build/corpus
out=$build/bench-out
runs=${VESK_BENCH_RUNS:-7}
mkdir -p "$out"
results=$out/results.txt
: >"$results"

fail() { echo "bench: $*" >&2; exit 1; }
[[ -x $build/bench/vesk_engine_bench ]] || fail "no $build/bench/vesk_engine_bench (cmake --preset bench)"
[[ -f $engine/libvesksynth.so ]] || fail "no engine library in $engine"
for f in pinyin.txt phrases.txt; do
  [[ -f $data/$f ]] || fail "no $data/$f (make data)"
done
compgen -G "$data/*.vl" >/dev/null || fail "no voice in $data (make voice)"

# The engine directory a host would ship: library, dictionaries, voice(s).
cp -f "$data/pinyin.txt" "$data/phrases.txt" "$engine/"
rm -f "$engine"/*.vl
cp -f "$data"/*.vl "$engine/"

node "$root/bench/make_corpus.mjs" "$corpus"

median() { sort -g | awk '{v[NR]=$1} END {if (NR) print v[int((NR+1)/2)]}'; }
emit() { echo "$1 $2" >>"$results"; }

# Machine and date.
emit machine.date "$(date -u '+%Y-%m-%d %H:%M UTC')"
emit machine.cpu "$(lscpu | sed -n 's/^Model name: *//p' | head -1)"
emit machine.cores "$(nproc)"
emit machine.memory "$(awk '/^MemTotal:/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)"
emit machine.os "$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
emit machine.compiler "$(c++ --version | head -1)"
emit machine.node "$(node --version)"
emit machine.espeak "$(espeak-ng --version | head -1)"
emit machine.load_before "$(cut -d' ' -f1-3 /proc/loadavg)"
emit machine.commit "$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
emit machine.voice "$(cd "$engine" && ls *.vl | tr '\n' ' ')"

echo "bench: Initialize, $runs fresh processes"
for ((i = 0; i < runs; ++i)); do
  "$build/bench/vesk_engine_bench" init "$engine" >>"$out/init.txt.tmp"
done
for key in init_ms init_cpu_ms init_page_faults init_rss_growth_mb init_peak_growth_mb voice_file_mb init_rss_beyond_voice_mb; do
  emit "engine.$key" "$(awk -v k="engine.$key" '$1 == k {print $2}' "$out/init.txt.tmp" | median)"
done
rm -f "$out/init.txt.tmp"

echo "bench: pinyin-pro import, $runs fresh processes each"
for mode in import require; do
  for ((i = 0; i < runs; ++i)); do
    node "$root/bench/peers/pinyin_pro.mjs" "$mode" "$root/data"
  done | awk '{print $2}' | median | { read -r v; emit "pinyinpro.${mode}_ms" "$v"; }
done

echo "bench: engine through its exports"
"$build/bench/vesk_engine_bench" run "$engine" "$corpus" | tee "$out/engine.txt" >>"$results"

echo "bench: pinyin-pro on the same text"
node "$root/bench/peers/pinyin_pro.mjs" run "$root/data" "$corpus" |
  grep -v '^pinyinpro.import_ms' | tee "$out/pinyinpro.txt" >>"$results"

echo "bench: espeak-ng -v cmn on $(wc -m <"$corpus/espeak.txt") characters"
: >"$out/espeak.tmp"
for ((i = 0; i < 3; ++i)); do
  TIMEFORMAT='%U %S'
  { time espeak-ng -v cmn -w "$out/espeak.wav" -f "$corpus/espeak.txt"; } 2>>"$out/espeak.tmp"
done
audio=$(soxi -D "$out/espeak.wav")
cpu=$(awk '{print $1 + $2}' "$out/espeak.tmp" | median)
emit espeak.audio_s "$audio"
emit espeak.cpu_s "$cpu"
emit espeak.audio_s_per_cpu_s "$(awk -v a="$audio" -v c="$cpu" 'BEGIN {printf "%.6g", a / c}')"
rm -f "$out/espeak.tmp" "$out/espeak.wav"

echo "bench: speaking pace of each voice"
"$root/bench/voice_pace.sh" "$engine" "$corpus" "$build/tools/vesk-say/vesk-say" | tee -a "$out/pace.txt"

echo "bench: speech-dispatcher modules, SPEAK to the first audio block and to END"
[[ -x $build/tools/sd-vesk/sd_vesk ]] || fail "no $build/tools/sd-vesk/sd_vesk"
printf 'VeskEngine "%s"\n' "$engine" >"$out/vesk.conf"
/usr/bin/python3 "$root/bench/sd_module_latency.py" vesk \
  "$build/tools/sd-vesk/sd_vesk" "$out/vesk.conf" | tee -a "$results"
/usr/bin/python3 "$root/bench/sd_module_latency.py" espeak \
  /usr/lib/speech-dispatcher-modules/sd_espeak-ng \
  /etc/speech-dispatcher/modules/espeak-ng.conf | tee -a "$results"

echo "bench: engine parts (Google Benchmark)"
for program in "$build"/bench/bench_*; do
  [[ -x $program ]] || continue
  name=$(basename "$program")
  VESK_BENCH_ENGINE=$engine VESK_BENCH_CORPUS=$corpus "$program" \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json 2>/dev/null |
    tee "$out/$name.txt"
done
emit machine.load_after "$(cut -d' ' -f1-3 /proc/loadavg)"

node "$root/bench/report.mjs" "$results" "$out" "$root/bench/README.md"
