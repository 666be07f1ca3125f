#!/usr/bin/env bash
# Builds the espeak-ng voice: every syllable the dictionaries use in all five
# tones, the 26 letter names and a short pause. espeak-ng's Mandarin voice
# says every syllable at nearly one pitch, so each unit is re-synthesised
# (PSOLA, with Praat) on its tone's contour; then every unit is trimmed of its
# silence and faded at the cuts so that the units, played back to back, join
# into fluent speech.
#
#   data/voice/build-default-voice.sh TOOLS_DIR ENGINE_DIR [NAME]
#
# TOOLS_DIR holds vesk-voice and vesk-voice-espeak; ENGINE_DIR holds
# pinyin.txt and phrases.txt and receives NAME.vl.
set -euo pipefail

tools=${1:?usage: $0 TOOLS_DIR ENGINE_DIR [NAME]}
engine=${2:?usage: $0 TOOLS_DIR ENGINE_DIR [NAME]}
name=${3:-电子男声}
here=$(cd "$(dirname "$0")" && pwd)

# One speed and pitch for every unit, so the voice stays even. Isolated
# syllables come out long; a little above espeak-ng's normal speed gives a
# natural pace once they are joined.
speed=${VESK_VOICE_SPEED:-190}
pitch=${VESK_VOICE_PITCH:-50}
rate=${VESK_VOICE_RATE:-16000}
pause_ms=${VESK_VOICE_PAUSE_MS:-200}

dicts=()
for f in "$engine/pinyin.txt" "$engine/phrases.txt"; do
  [[ -f $f ]] && dicts+=(--dict "$f")
done
if ((${#dicts[@]} == 0)); then
  echo "build-default-voice: no dictionaries in $engine; recording every standard syllable" >&2
fi

started=$SECONDS
work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-voice.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$tools/vesk-voice" syllables --espeak "${dicts[@]}" > "$work/list.txt"
"$tools/vesk-voice-espeak" --voice cmn-latn-pinyin --speed "$speed" \
  --pitch "$pitch" -o "$work/units" "$work/list.txt"
(cd "$here" && /usr/bin/python3 -m voicebuild tones --units "$work/units" \
  --out "$work/toned" --work "$work/tones")
"$tools/vesk-voice" build "$work/toned" -o "$engine/$name.vl" --rate "$rate" \
  --trim --fade-ms 5 --highpass 60 --normalize -3 --pause-ms "$pause_ms" \
  "${dicts[@]}"
echo "build-default-voice: $engine/$name.vl in $((SECONDS - started)) s"
