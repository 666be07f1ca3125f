"""Render jobs: which part of a recording to keep, the pitch contour to give
it and how much to shorten it for running speech."""

import zlib
from dataclasses import dataclass
from pathlib import Path

import numpy as np

from . import contours, praat

# Syllable length in running speech, by tone (seconds, from the first sound
# to the end of the vowel). Read alone, syllables last 0.5 to 1 s; strung
# together at about these lengths, prose reads at 4 to 5 syllables a second.
TARGET_S = {0: 0.15, 1: 0.23, 2: 0.23, 3: 0.21, 4: 0.20}
# A long consonant before the vowel (s, sh, x, c, ch, q, f, h) is halved,
# down to ONSET_MIN_S; the vowel keeps at least BODY_MIN_S, for it carries
# the tone.
ONSET_MIN_S = 0.05
ONSET_MAX_S = 0.09
BODY_MIN_S = {0: 0.08, 1: 0.12, 2: 0.13, 3: 0.12, 4: 0.12}


@dataclass
class Part:
    """The kept part of a recording and its voiced span, in seconds of the
    recording."""
    start: float
    end: float
    voiced_start: float
    voiced_end: float


def kept_part(m, lead=0.005, tail=0.01):
    """From just before the first sound to just after the syllable's body."""
    start = max(0.0, m.speech_start - lead)
    end = min(m.duration, max(m.body_end, start + 0.05) + tail)
    vs = m.voiced_start if np.isfinite(m.voiced_start) else start
    ve = m.voiced_end if np.isfinite(m.voiced_end) else end
    vs, ve = min(max(vs, start), end), min(max(ve, start), end)
    return Part(start, end, vs, max(ve, vs))


def pitch_tier_points(part, st_points, reference_hz):
    """(time, Hz) in the part's own time: the shape's points spread over the
    voiced span, held flat to its edges."""
    span = part.voiced_end - part.voiced_start
    times = part.voiced_start - part.start + contours.SHAPE_POINTS * span
    hz = contours.hertz(st_points, reference_hz)
    pts = [(max(0.0, part.voiced_start - part.start), hz[0])]
    pts += list(zip(times, hz))
    pts.append((part.voiced_end - part.start, hz[-1]))
    return pts


def duration_tier_points(part, tone, scale=1.0):
    """Factors for the onset (up to the voice) and for the rest, so that the
    whole lasts about TARGET_S[tone] * scale, never squeezing the vowel
    below BODY_MIN_S."""
    length = part.end - part.start
    onset = part.voiced_start - part.start
    body = max(length - onset, 1e-3)
    onset_new = onset if onset <= ONSET_MIN_S else \
        min(max(onset * 0.5, ONSET_MIN_S), ONSET_MAX_S)
    body_new = max(TARGET_S[tone] * scale - onset_new, BODY_MIN_S[tone] * scale)
    fo = onset_new / onset if onset > 0 else 1.0
    fb = min(1.0, body_new / body)
    edge = min(max(onset, 0.003), length - 0.003)
    return [(0.0, fo), (edge - 0.002, fo), (edge + 0.002, fb), (length, fb)]


def job(work, name, source, part, st_points, reference_hz, tone, floor, ceiling,
        duration_scale=1.0, shorten=True):
    """One render job; its tiers are written into work."""
    work = Path(work).resolve()
    length = part.end - part.start
    pitch = "-"
    if st_points is not None and part.voiced_end - part.voiced_start > 0.02:
        pitch = work / f"{name}.PitchTier"
        praat.write_tier(pitch, "PitchTier", length,
                         pitch_tier_points(part, st_points, reference_hz))
    duration = "-"
    if shorten:
        duration = work / f"{name}.DurationTier"
        praat.write_tier(duration, "DurationTier", length,
                         duration_tier_points(part, tone, duration_scale))
    return {"source": Path(source).resolve(), "output": (work / f"{name}.wav").resolve(),
            "start": f"{part.start:.4f}", "end": f"{part.end:.4f}",
            "pitch": pitch, "duration": duration, "floor": floor, "ceiling": ceiling,
            "seed": zlib.crc32(name.encode()) % 1000003 + 1}
