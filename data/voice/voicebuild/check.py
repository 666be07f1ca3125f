"""Measures a built voice library as the engine plays it: every unit is
extracted with vesk-voice, its pitch tracked, and the tones' contours
summarised (does tone 2 rise, tone 4 fall, and by how much)."""

import re
import tempfile
from pathlib import Path

import numpy as np

from . import contours, praat, units

_TONED = re.compile(r"^([a-z]+)([0-4])$")


def measure_voice(tools, voice_file, work=None):
    """{tone: [(unit, points)]} of the voice's syllable units, and the
    voice's reference pitch."""
    from .human import run_tool
    work = Path(work or tempfile.mkdtemp(prefix="vesk-check-"))
    folder = work / "units"
    run_tool([Path(tools) / "vesk-voice", "extract", voice_file, "--all", "-o", folder])
    paths = sorted(p for p in folder.glob("*.wav") if _TONED.match(p.stem))
    firsts = [p for p in paths if p.stem.endswith("1")]
    rough = praat.track_pitch(firsts, work / "f0-rough", work, 60, 600)
    reference = contours.reference_of(
        [np.median(hz[hz > 0]) for _, hz in rough.values() if np.any(hz > 0)])
    tracks = praat.track_pitch(paths, work / "f0", work, reference * 2 ** (-15 / 12),
                               reference * 2 ** (10 / 12))
    by_tone = {t: [] for t in range(5)}
    for p in paths:
        _, hz = tracks[p]
        c, _ = contours.voiced_contour(hz, reference)
        if c is not None:
            by_tone[int(_TONED.match(p.stem).group(2))].append((p.stem, contours.shape(c)))
    return by_tone, reference


def summary(by_tone, reference):
    """Lines: per tone the units, how many are heard as that tone, and the
    median rise (tone 2) or fall (tone 4) in semitones."""
    lines = [f"reference (median pitch of tone 1): {reference:.0f} Hz"]
    for tone in (1, 2, 3, 4):
        items = by_tone[tone]
        if not items:
            continue
        heard = sum(1 for _, p in items if contours.classify(p)[0] == tone)
        rise = np.median([p[-1] - p[:5].min() for _, p in items])
        fall = np.median([p[:5].max() - p[-1] for _, p in items])
        extra = {2: f", median rise {rise:.1f} st", 4: f", median fall {fall:.1f} st",
                 1: f", median span {np.median([np.ptp(p) for _, p in items]):.1f} st",
                 3: f", median lowest {np.median([p.min() for _, p in items]):.1f} st"}[tone]
        lines.append(f"tone {tone} ({contours.TONE_CLASSES[tone]}): {len(items)} units, "
                     f"{heard} heard as tone {tone}{extra}")
    return lines
