#!/usr/bin/env bash
# Speaking pace of every voice in an engine directory: syllables per second
# of audio at the rates 0, 50 (default) and 100, over the corpus's
# sentences with every character but the Han block and the sentence marks
# taken out, so that each character is one syllable.
#   bench/voice_pace.sh ENGINE_DIR CORPUS_DIR [VESK_SAY] [SENTENCES]
set -euo pipefail
engine=${1:?usage: $0 ENGINE_DIR CORPUS_DIR [VESK_SAY] [SENTENCES]}
corpus=${2:?usage: $0 ENGINE_DIR CORPUS_DIR [VESK_SAY] [SENTENCES]}
say=${3:-$(dirname "$0")/../build/tools/vesk-say/vesk-say}
count=${4:-400}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

head -n "$count" "$corpus/sentences.txt" |
  perl -CSD -pe 's/[^\x{4E00}-\x{9FFF}，。！？；：、,.!?;:\n]//g' >"$work/text.txt"
syllables=$(perl -CSD -ne '$n += () = /[\x{4E00}-\x{9FFF}]/g; END { print $n }' "$work/text.txt")
"$say" --engine "$engine" --list-voices 2>/dev/null | cut -f1 | while read -r voice; do
  line="pace: $voice:"
  for rate in 0 50 100; do
    "$say" --engine "$engine" -q --raw --raw-text --voice "$voice" --rate "$rate" \
      -o "$work/out.raw" -f "$work/text.txt" 2>/dev/null
    hz=$("$say" --engine "$engine" --list-voices 2>/dev/null | awk -F'\t' -v v="$voice" '$1 == v {print $2+0}')
    seconds=$(awk -v b="$(stat -c %s "$work/out.raw")" -v r="$hz" 'BEGIN {printf "%.1f", b / 2 / r}')
    line+=" rate $rate $(awk -v s="$syllables" -v t="$seconds" 'BEGIN {printf "%.2f", s / t}') syllables/s ($seconds s);"
  done
  echo "${line%;} over $syllables syllables"
done
