"""Pitch contours of syllable units and the four Mandarin tones.

A contour is a sequence of F0 values in semitones relative to the voice's
reference: the median pitch of its first-tone units, the top of the normal
speaking range. Templates below give each tone's shape over the voiced part
of a syllable read alone (9 points from 10 % to 90 % of the voiced span), as
Chao's tone letters describe them (55, 35, 214, 51) and as a native
speaker's citation forms measure; the tone-3 low form (21) is how a third
tone sounds inside running speech.
"""

import math

import numpy as np
from scipy.signal import medfilt

TONE_CLASSES = {1: "level-high", 2: "rising", 3: "dipping", 4: "falling"}
SHAPE_POINTS = np.linspace(0.1, 0.9, 9)

TEMPLATES = {
    1: np.zeros(9),
    2: np.array([-5.5, -5.5, -5.4, -5.2, -4.6, -3.7, -2.4, -0.9, 1.1]),
    3: np.array([-7.6, -8.5, -9.9, -11.0, -11.5, -11.5, -11.0, -9.8, -7.5]),
    4: np.array([-0.2, -0.3, -0.3, -1.0, -2.2, -3.8, -5.5, -6.4, -6.5]),
}
# The third tone inside running speech: a low fall with no final rise.
TONE3_LOW = np.array([-6.5, -7.5, -8.5, -9.5, -10.2, -10.8, -11.2, -11.5, -11.5])
# The neutral tone after most tones: short, mid-low, falling a little.
NEUTRAL = np.array([-6.0, -6.3, -6.6, -6.9, -7.2, -7.5, -7.8, -8.1, -8.4])


def semitones(hz, reference_hz):
    """Semitones of hz above reference_hz; NaN where hz is not a pitch."""
    hz = np.asarray(hz, dtype=float)
    with np.errstate(divide="ignore", invalid="ignore"):
        out = 12.0 * np.log2(hz / reference_hz)
    out[~np.isfinite(out)] = np.nan
    return out


def hertz(st, reference_hz):
    return reference_hz * np.power(2.0, np.asarray(st, dtype=float) / 12.0)


def voiced_span(f0, max_gap=6):
    """(first, last) frame of the longest run of pitched frames, bridging
    gaps of up to max_gap unpitched frames; None when nothing is pitched."""
    idx = np.flatnonzero(np.isfinite(f0) & (f0 > 0))
    if idx.size == 0:
        return None
    runs, start, prev = [], idx[0], idx[0]
    for i in idx[1:]:
        if i - prev > max_gap:
            runs.append((start, prev))
            start = i
        prev = i
    runs.append((start, prev))
    return max(runs, key=lambda r: r[1] - r[0])


def fold_octave_jumps(st):
    """Trackers jump an octave on creaky or breathy frames: a frame about 12
    semitones off the frames before it is folded back onto them, and one
    that still lies far off is dropped."""
    out = np.array(st, dtype=float)
    overall = np.nanmedian(out) if np.any(np.isfinite(out)) else 0.0
    for i in range(len(out)):
        if not np.isfinite(out[i]):
            continue
        recent = out[max(0, i - 8):i]
        recent = recent[np.isfinite(recent)]
        ref = np.median(recent) if recent.size >= 3 else overall
        d = out[i] - ref
        if abs(d) > 7:
            out[i] -= 12 * round(d / 12)
        if abs(out[i] - ref) > 6:
            out[i] = np.nan
    return out


def voiced_contour(f0_hz, reference_hz):
    """The semitone contour over the voiced part with octave jumps folded
    and gaps interpolated, and the span's frame indices; (None, None) when
    the unit has no voiced part."""
    f0 = np.asarray(f0_hz, dtype=float)
    span = voiced_span(f0)
    if span is None or span[1] - span[0] < 3:
        return None, None
    st = fold_octave_jumps(semitones(f0[span[0]:span[1] + 1], reference_hz))
    ok = np.isfinite(st)
    if ok.sum() < 3:
        return None, None
    x = np.arange(len(st))
    return np.interp(x, x[ok], st[ok]), span


def shape(contour):
    """The contour at SHAPE_POINTS, smoothed against single-frame glitches."""
    c = np.asarray(contour, dtype=float)
    if len(c) >= 5:
        c = medfilt(c, 5)
    return np.interp(SHAPE_POINTS * (len(c) - 1), np.arange(len(c)), c)


def distances(points):
    """RMS distance in semitones from each tone's template; tone 3 matches
    either its citation dip or its low form."""
    d = {t: float(np.sqrt(np.mean((points - tpl) ** 2))) for t, tpl in TEMPLATES.items()}
    d[3] = min(d[3], float(np.sqrt(np.mean((points - TONE3_LOW) ** 2))))
    return d


def classify(points):
    """The tone whose template lies nearest, and all distances."""
    d = distances(points)
    return min(d, key=d.get), d


def template_points(tone, running=True):
    """The target shape of a tone in semitones; running speech takes the
    low form of tone 3."""
    if tone == 0:
        return NEUTRAL
    if tone == 3 and running:
        return TONE3_LOW
    return TEMPLATES[tone]


def low_form(points):
    """A recorded third tone in its running-speech form: its own start and
    its own bottom, without the final rise."""
    p = np.asarray(points, dtype=float)
    bottom_at = int(np.argmin(p[:7]))
    # Kept inside the range a third tone spans, whatever the tracker said.
    bottom = min(max(float(p[bottom_at]), -13.0), -9.0)
    start = min(max(float(p[0]), -9.0), -4.0)
    out = np.empty_like(p)
    knee = max(bottom_at, 5)
    for i in range(len(p)):
        if i <= knee:
            out[i] = start + (bottom - start) * i / knee
        else:
            out[i] = bottom - 0.5 * (i - knee) / (len(p) - 1 - knee)
    return out


def reference_of(first_tone_medians_hz):
    """The voice's reference pitch: the median of its first-tone units."""
    v = [h for h in first_tone_medians_hz if h and math.isfinite(h)]
    return float(np.median(v)) if v else float("nan")
