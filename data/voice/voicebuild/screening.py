"""Measurements of one recorded unit and the faults they reveal.

Each measure is taken on the unit's own signal, at the voice's rate, with
levels in dB relative to full scale:
- speech bounds: where the frame level rises above the noise floor and the
  unit's own peak less 40 dB;
- loudness: the mean power over the voiced part (the vowel carries it);
- ending: how loud the last 20 ms of speech are against the loudness, and
  how suddenly the level then drops (a cut ending stops at speaking level);
- clipping: the share of loud samples lying at the very peak, where
  flat-topped waves pile up;
- clicks: 1 ms frames inside the vowel whose high-frequency energy stands
  far above the frames around them (a vowel has no broadband transients;
  the bursts of stops lie before it and are left out).
"""

from dataclasses import dataclass, field

import numpy as np
from scipy.ndimage import median_filter

from . import contours

FRAME_S = 0.010
HOP_S = 0.005

CUT_END_LEVEL_DB = -12.0   # last 20 ms within this of the loudness ...
CUT_DROP_DB = 18.0         # ... then this much lower 15 ms later
CLIP_RATIO = 0.2           # share of loud samples at the peak
CLICK_RATIO_DB = 24.0      # a 1 ms frame this far above its neighbourhood
BODY_DB = 28.0             # the syllable's body: frames this close to its peak
LOUDNESS_OUTLIER_DB = 10.0


@dataclass
class Measurement:
    name: str
    tone: int
    duration: float = 0.0
    speech_start: float = 0.0
    speech_end: float = 0.0
    body_end: float = 0.0
    voiced_start: float = float("nan")
    voiced_end: float = float("nan")
    contour: np.ndarray = field(default_factory=lambda: np.zeros(0))
    points: np.ndarray = field(default_factory=lambda: np.full(9, np.nan))
    median_hz: float = float("nan")
    heard_tone: int = 0
    loudness_db: float = -120.0
    peak_db: float = -120.0
    end_level_db: float = 0.0
    end_drop_db: float = 0.0
    clip_ratio: float = 0.0
    clicks: int = 0
    faults: list = field(default_factory=list)


def frame_levels(x, rate):
    """dB level of 10 ms frames every 5 ms, and the frames' centre times."""
    n, h = int(FRAME_S * rate), int(HOP_S * rate)
    if len(x) < n:
        return np.full(1, -120.0), np.zeros(1)
    starts = np.arange(0, len(x) - n + 1, h)
    power = np.array([np.mean(x[s:s + n] ** 2) for s in starts])
    return 10 * np.log10(power + 1e-12), (starts + n / 2) / rate


def speech_frames(levels):
    """Indices of the frames above the noise floor and the peak less 40 dB."""
    floor = np.percentile(levels, 10)
    return np.flatnonzero(levels > max(levels.max() - 40.0, floor + 12.0))


def speech_bounds(levels, times):
    """(start, end) in seconds of the frames above the speech threshold."""
    idx = speech_frames(levels)
    if idx.size == 0:
        return 0.0, 0.0
    return times[idx[0]] - FRAME_S / 2, times[idx[-1]] + FRAME_S / 2


def clip_ratio(x):
    """Of the samples above half the peak, the share within 5 % of it. A
    wave that was never clipped is peaky (under 0.07 in every recording of
    the human voice); flat tops pile up at the peak."""
    a = np.abs(x)
    peak = a.max()
    if peak <= 0:
        return 0.0
    return np.count_nonzero(a >= 0.95 * peak) / max(1, np.count_nonzero(a >= 0.5 * peak))


def count_clicks(x, rate, start, end):
    """Broadband transients between start and end (seconds)."""
    a, b = int(start * rate), int(end * rate)
    if b - a < int(0.05 * rate):
        return 0
    d2 = np.diff(x[a:b], 2)
    n = max(1, int(0.001 * rate))
    frames = len(d2) // n
    if frames < 10:
        return 0
    energy = (d2[:frames * n].reshape(frames, n) ** 2).mean(1) + 1e-14
    around = median_filter(energy, size=41, mode="nearest")
    loud = np.flatnonzero(10 * np.log10(energy / around) > CLICK_RATIO_DB)
    # A click is a lone event: loud frames recurring within 10 ms of each
    # other are a rough or clipped wave, not clicks.
    clicks, start = 0, 0
    while start < loud.size:
        end = start
        while end + 1 < loud.size and loud[end + 1] - loud[end] <= 3:
            end += 1
        before = loud[start] - loud[start - 1] if start > 0 else 99
        after = loud[end + 1] - loud[end] if end + 1 < loud.size else 99
        if before > 10 and after > 10 and loud[end] - loud[start] < 3:
            clicks += 1
        start = end + 1
    return clicks


def measure(name, tone, x, rate, f0_times, f0_hz, reference_hz):
    m = Measurement(name=name, tone=tone, duration=len(x) / rate)
    if len(x) == 0:
        m.faults.append("empty")
        return m
    m.peak_db = float(20 * np.log10(max(np.abs(x).max(), 1e-6)))
    levels, times = frame_levels(x, rate)
    m.speech_start, m.speech_end = speech_bounds(levels, times)
    # Read alone, a syllable dies away slowly; in running speech that tail
    # is not there.
    body = np.flatnonzero(levels > levels.max() - BODY_DB)
    m.body_end = min(m.speech_end, times[body[-1]] + FRAME_S / 2) if body.size else m.speech_end
    m.clip_ratio = float(clip_ratio(x))

    contour, span = contours.voiced_contour(f0_hz, reference_hz)
    if contour is not None:
        m.voiced_start, m.voiced_end = float(f0_times[span[0]]), float(f0_times[span[1]])
        m.contour = contour
        m.points = contours.shape(contour)
        m.median_hz = float(contours.hertz(np.median(contour), reference_hz))
        m.heard_tone, _ = contours.classify(m.points)
        inside = (times >= m.voiced_start) & (times <= m.voiced_end)
        m.loudness_db = float(10 * np.log10(np.mean(10 ** (levels[inside] / 10)) + 1e-12))
        m.clicks = count_clicks(x, rate, m.voiced_start + 0.02, m.voiced_end)
    else:
        inside = (times >= m.speech_start) & (times <= m.speech_end)
        if inside.any():
            m.loudness_db = float(10 * np.log10(np.mean(10 ** (levels[inside] / 10)) + 1e-12))

    speech = speech_frames(levels)
    if speech.size:
        last = speech[-1]
        tail = levels[max(speech[0], last - 3):last + 1]
        m.end_level_db = float(np.mean(tail) - m.loudness_db)
        after = levels[min(last + 3, len(levels) - 1)]
        m.end_drop_db = float(levels[last] - after)
    return m


def find_faults(m, median_loudness_db):
    """The faults of one measured unit, against the loudness of the rest."""
    faults = list(m.faults)
    if m.points is None or not np.all(np.isfinite(m.points)):
        faults.append("no-pitch")
    elif m.tone in contours.TONE_CLASSES and m.heard_tone != m.tone:
        faults.append("tone")
    if m.end_level_db > CUT_END_LEVEL_DB and m.end_drop_db > CUT_DROP_DB:
        faults.append("cut-short")
    if m.clip_ratio > CLIP_RATIO:
        faults.append("clipped")
    if m.clicks > 0:
        faults.append("click")
    if abs(m.loudness_db - median_loudness_db) > LOUDNESS_OUTLIER_DB:
        faults.append("loudness")
    return faults
