"""Tones for a synthetic voice: espeak-ng's Mandarin voice speaks every
syllable at nearly one pitch, so each unit is re-synthesised (PSOLA) on its
tone's contour, placed on the voice's own pitch."""

import re
import shutil
from pathlib import Path

import numpy as np

from . import contours, praat, screening, shaping, units

_TONED = re.compile(r"^[a-z]+([0-4])$")
FLOOR, CEILING = 60, 250
# Citation shapes, evened out: a synthetic voice has no melody of its own
# to keep, and a rise or fall spread over the whole vowel is heard best.
SHAPES = {
    1: np.zeros(9),
    2: np.array([-5.0, -5.0, -4.5, -3.5, -2.5, -1.5, -0.5, 0.5, 1.5]),
    3: contours.TONE3_LOW,
    4: np.array([1.0, 0.5, -0.5, -1.8, -3.2, -4.6, -6.0, -7.2, -8.0]),
    0: contours.NEUTRAL,
}
# The synthetic voice's first-tone level above its own median pitch, and how
# much of a native speaker's range its tones span: a low male voice cannot
# go the full octave under its first tone without croaking.
LEVEL_ABOVE_MEDIAN_ST = 5.0
RANGE_SCALE = 0.75


def impose_tones(src_dir, out_dir, work):
    """Writes every WAV of src_dir into out_dir, syllables on their tone's
    contour and everything else as it is. Returns 0."""
    src_dir, out_dir, work = Path(src_dir), Path(out_dir), Path(work)
    out_dir.mkdir(parents=True, exist_ok=True)
    work.mkdir(parents=True, exist_ok=True)
    paths = sorted(src_dir.glob("*.wav"))
    toned = [p for p in paths if _TONED.match(p.stem)]
    for p in paths:
        if p not in toned:
            shutil.copy(p, out_dir / p.name)
    if not toned:
        return 0
    tracks = praat.track_pitch(toned, work / "f0", work, FLOOR, CEILING)
    voiced = np.concatenate([hz[hz > 0] for _, hz in tracks.values()] or [np.zeros(0)])
    reference = float(np.median(voiced)) * 2 ** (LEVEL_ABOVE_MEDIAN_ST / 12) if voiced.size else 120.0
    (work / "render").mkdir(parents=True, exist_ok=True)
    jobs = []
    for p in toned:
        tone = int(_TONED.match(p.stem).group(1))
        x = units.read_mono(p, units_rate(p))
        t, hz = tracks[p]
        m = screening.measure(p.stem, tone, x, units_rate(p), t, hz, reference)
        part = shaping.Part(0.0, m.duration, m.voiced_start, m.voiced_end) \
            if m.contour.size else None
        target = SHAPES[tone] * RANGE_SCALE if part is not None else None
        if part is None:
            part = shaping.Part(0.0, m.duration, 0.0, m.duration)
        jobs.append(shaping.job(work / "render", p.stem, p, part, target, reference, tone,
                                FLOOR, CEILING, shorten=False))
    praat.render(jobs, work / "batches")
    for p in toned:
        shutil.copy(work / "render" / p.name, out_dir / p.name)
    return 0


def units_rate(path):
    import soundfile as sf
    return sf.info(str(path)).samplerate
