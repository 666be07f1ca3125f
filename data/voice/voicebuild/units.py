"""Reading recordings and finishing rendered units: trimmed tight, faded at
the cuts, and brought to one speech loudness with headroom."""

import re
from pathlib import Path

import numpy as np
import soundfile as sf
from scipy.signal import resample_poly

from .screening import frame_levels

# The recordings' spellings that differ from the engine's: ju/qu/xu/yu are
# sometimes written with v.
_SPELLING = {"jv": "ju", "qv": "qu", "xv": "xu", "yv": "yu"}
_NAME = re.compile(r"^(?:cmn-)?([a-z]+)([0-5])$")

SPEECH_DB = -18.0       # speech loudness of a toned unit, dBFS
NEUTRAL_DB = -22.0      # the neutral tone is lighter
PEAK_LIMIT_DB = -1.0
FADE_S = 0.004


def parse_recording_name(stem):
    """(syllable, tone) of a recording's file stem, or None."""
    m = _NAME.match(stem.lower())
    if not m:
        return None
    syllable = _SPELLING.get(m.group(1), m.group(1))
    return syllable, int(m.group(2)) % 5


def read_mono(path, rate):
    """A file as float samples at rate (mono, resampled when needed)."""
    x, sr = sf.read(str(path), dtype="float64", always_2d=True)
    x = x.mean(axis=1)
    if sr != rate:
        g = np.gcd(int(sr), int(rate))
        x = resample_poly(x, rate // g, sr // g)
    return x


def trim(x, rate, below_db=30.0, lead_s=0.002, tail_s=0.004):
    """Cuts what lies more than below_db under the unit's loudest frame,
    keeping a little lead-in and tail."""
    levels, times = frame_levels(x, rate)
    keep = np.flatnonzero(levels > levels.max() - below_db)
    if keep.size == 0:
        return x[:0]
    a = max(0, int((times[keep[0]] - 0.005 - lead_s) * rate))
    b = min(len(x), int((times[keep[-1]] + 0.005 + tail_s) * rate))
    return x[a:b]


def fade(x, rate, seconds=FADE_S):
    n = min(int(seconds * rate), len(x) // 2)
    if n > 0:
        ramp = 0.5 - 0.5 * np.cos(np.linspace(0, np.pi, n))
        x = x.copy()
        x[:n] *= ramp
        x[-n:] *= ramp[::-1]
    return x


def speech_loudness_db(x, rate):
    """Mean power of the frames within 20 dB of the loudest: the level of
    the syllable's body, not of its silence or its consonant."""
    levels, _ = frame_levels(x, rate)
    body = levels[levels > levels.max() - 20.0]
    return float(10 * np.log10(np.mean(10 ** (body / 10)) + 1e-12))


def level_to(x, rate, target_db, peak_limit_db=PEAK_LIMIT_DB):
    """Scales to the target loudness unless the peak would pass the limit;
    returns the samples and whether the limit decided the gain."""
    if len(x) == 0:
        return x, False
    gain_db = target_db - speech_loudness_db(x, rate)
    peak_db = 20 * np.log10(max(np.abs(x).max(), 1e-9))
    limited = peak_db + gain_db > peak_limit_db
    if limited:
        gain_db = peak_limit_db - peak_db
    return x * 10 ** (gain_db / 20), limited


def finish(x, rate, target_db):
    x = trim(x, rate)
    x, limited = level_to(x, rate, target_db)
    return fade(x, rate), limited


def write_pcm16(path, x, rate):
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    sf.write(str(path), np.clip(x, -1.0, 1.0), rate, subtype="PCM_16")
