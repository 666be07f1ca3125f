"""A voice from one speaker's recordings of single syllables: every
recording measured and screened, faulty units repaired from the same
speaker's other tones of the syllable, tone 3 given its running-speech
form, the neutral tone derived, everything shortened for running speech
and brought to one loudness."""

import os
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np
import soundfile as sf

from . import contours, praat, screening, shaping, units

RATE = 24000
PITCH_FLOOR, PITCH_CEILING = 100, 600
# Re-synthesis finds its pulses within the speaker's own range: a floor
# too low lets creaky frames take double periods.
PULSE_FLOOR, PULSE_CEILING = 120, 500
# Which recorded tone a missing or faulty unit is best made from: the
# nearest in shape, so that the least re-pitching is needed.
DONORS = {0: [1, 4, 2, 3], 1: [4, 2, 3], 2: [1, 3, 4], 3: [2, 1, 4], 4: [1, 2, 3]}
# Faults that the unit's own audio survives: only its pitch is redrawn.
PITCH_ONLY = {"tone", "no-pitch"}


@dataclass
class Recording:
    syllable: str
    tone: int
    path: Path            # the source at RATE
    original: Path
    m: screening.Measurement = None
    faults: list = field(default_factory=list)

    @property
    def name(self):
        return f"{self.syllable}{self.tone}"


@dataclass
class Unit:
    syllable: str
    tone: int
    decision: str = "missing"     # recorded, repaired, substituted, missing
    source: str = ""
    note: str = ""
    recording: Recording = None
    target: np.ndarray = None     # semitone shape imposed, None: as recorded
    limited: bool = False
    after: screening.Measurement = None

    @property
    def name(self):
        return f"{self.syllable}{self.tone}"


def _decode(args):
    """Decodes one recording; None when it cannot be read."""
    original, target, clip_source = args
    try:
        x = units.read_mono(original, RATE)
    except (RuntimeError, ValueError, OSError):
        return None
    if x.size == 0:
        return None
    # Measured on the file as published, before resampling smooths it.
    raw, _ = sf.read(str(original), dtype="float64", always_2d=True)
    excess = screening.clip_ratio(raw.mean(axis=1)) if clip_source else 0.0
    peak = max(np.abs(x).max(), 1e-9)
    # Headroom for the re-synthesis; the finish sets the level.
    sf.write(str(target), x * (0.5 / peak), RATE, subtype="FLOAT")
    return excess


def load_recordings(directory, wanted, work):
    """The recordings of the wanted syllables, decoded to RATE in work."""
    work = Path(work)
    (work / "src").mkdir(parents=True, exist_ok=True)
    found = {}
    for path in sorted(Path(directory).iterdir()):
        parsed = units.parse_recording_name(path.stem)
        if not parsed or parsed[0] not in wanted or parsed[1] == 0:
            continue
        rec = Recording(parsed[0], parsed[1], work / "src" / f"{parsed[0]}{parsed[1]}.wav", path)
        found[(rec.syllable, rec.tone)] = rec
    recs = list(found.values())
    with ProcessPoolExecutor(os.cpu_count() or 1) as pool:
        excess = list(pool.map(_decode, [(r.original, r.path, True) for r in recs], chunksize=16))
    unreadable = [r.original.name for r, e in zip(recs, excess) if e is None]
    kept = [(r, e) for r, e in zip(recs, excess) if e is not None]
    return [r for r, _ in kept], {r.name: e for r, e in kept}, unreadable


def measure_all(recs, excess, work):
    tracks = praat.track_pitch([r.path for r in recs], Path(work) / "f0", work,
                               PITCH_FLOOR, PITCH_CEILING)
    # The reference is the first tones' level; found from their own frames.
    firsts = [np.median(hz[hz > 0]) for r in recs if r.tone == 1
              for _, hz in [tracks[r.path]] if np.any(hz > 0)]
    reference = contours.reference_of(firsts)
    for r in recs:
        x = units.read_mono(r.path, RATE)
        t, hz = tracks[r.path]
        r.m = screening.measure(r.name, r.tone, x, RATE, t, hz, reference)
        r.m.clip_ratio = excess.get(r.name, r.m.clip_ratio)
    median_loudness = float(np.median([r.m.loudness_db for r in recs]))
    for r in recs:
        r.faults = screening.find_faults(r.m, median_loudness)
    return reference


def speaker_templates(recs):
    """Each tone's shape as this speaker says it: the median of her sound
    units of that tone (the fixed templates where too few)."""
    out = {}
    for tone in (1, 2, 3, 4):
        pts = [r.m.points for r in recs if r.tone == tone and not r.faults]
        out[tone] = np.median(pts, axis=0) if len(pts) >= 10 else contours.TEMPLATES[tone]
    out[0] = contours.NEUTRAL
    return out


def target_shape(tone, templates):
    if tone == 3:
        return contours.low_form(templates[3])
    return templates[tone]


def best_donor(by, syllable, tone, exclude=None):
    """The sound recording of another tone of the syllable that is nearest
    in shape, or None."""
    return next((by[(syllable, d)] for d in DONORS[tone]
                 if (syllable, d) in by and not by[(syllable, d)].faults
                 and by[(syllable, d)] is not exclude), None)


def use_donor(u, recs, tried):
    """Makes u from a recording of its syllable not yet tried; False when
    none is left."""
    by = {(r.syllable, r.tone): r for r in recs}
    for d in [u.tone] + DONORS[u.tone]:
        r = by.get((u.syllable, d))
        if r is not None and r.name not in tried and (d == u.tone or not r.faults):
            u.recording, u.source = r, r.name
            return True
    return False


def plan(syllables, recs, templates):
    """What every unit is made from."""
    by = {(r.syllable, r.tone): r for r in recs}
    plans = []
    for syl in sorted(syllables):
        for tone in (1, 2, 3, 4, 0):
            u = Unit(syl, tone)
            own = by.get((syl, tone))
            if own is not None and not own.faults:
                u.decision, u.recording, u.source = "recorded", own, own.name
                if tone == 3:
                    u.target = contours.low_form(own.m.points)
                    u.note = "low form of its own contour"
            elif own is not None and set(own.faults) <= PITCH_ONLY and own.m.contour.size:
                u.decision, u.recording, u.source = "repaired", own, own.name
                u.target = target_shape(tone, templates)
                u.note = "own recording re-pitched (" + ",".join(own.faults) + ")"
            else:
                donor = best_donor(by, syl, tone)
                if donor is not None:
                    u.decision, u.recording, u.source = "repaired", donor, donor.name
                    u.target = target_shape(tone, templates)
                    why = ",".join(own.faults) if own is not None else "not recorded"
                    u.note = f"from {donor.name} re-pitched ({why})" if tone else \
                        f"neutral tone from {donor.name}: short, light, mid-low"
            plans.append(u)
    return plans


def render_units(plans, reference, work):
    work = Path(work)
    (work / "render").mkdir(parents=True, exist_ok=True)
    jobs = []
    for u in plans:
        if u.recording is None:
            continue
        part = shaping.kept_part(u.recording.m)
        jobs.append(shaping.job(work / "render", u.name, u.recording.path, part, u.target,
                                reference, u.tone, PULSE_FLOOR, PULSE_CEILING))
    praat.render(jobs, work / "batches")


def finish_units(plans, work, out_dir):
    for u in plans:
        if u.recording is None:
            continue
        x = units.read_mono(Path(work) / "render" / f"{u.name}.wav", RATE)
        y, u.limited = units.finish(x, RATE, units.NEUTRAL_DB if u.tone == 0 else units.SPEECH_DB)
        units.write_pcm16(Path(out_dir) / f"{u.name}.wav", y, RATE)


def letter_units(tools, work, reference, out_dir, voice="cmn-latn-pinyin+f2"):
    """The 26 letter names from espeak-ng (this speaker recorded none), moved
    into her pitch range and loudness so that a spelled word does not jump."""
    work = Path(work)
    raw = work / "letters-raw"
    listing = work / "letters.txt"
    listing.write_text("".join(f"letter-{c} {c.upper()}\n" for c in "abcdefghijklmnopqrstuvwxyz"))
    run_tool([Path(tools) / "vesk-voice-espeak", "--voice", voice, "-o", raw, listing])
    paths = sorted(raw.glob("letter-*.wav"))
    src = work / "letters-src"
    src.mkdir(parents=True, exist_ok=True)
    for p in paths:
        x = units.read_mono(p, RATE)
        sf.write(str(src / p.name), x * (0.5 / max(np.abs(x).max(), 1e-9)), RATE, subtype="FLOAT")
    paths = sorted(src.glob("letter-*.wav"))
    tracks = praat.track_pitch(paths, work / "letters-f0", work, 60, 600)
    jobs, made = [], []
    for p in paths:
        t, hz = tracks[p]
        x = units.read_mono(p, RATE)
        own = np.median(hz[hz > 0]) if np.any(hz > 0) else reference
        m = screening.measure(p.stem, 0, x, RATE, t, hz, own)
        part = shaping.kept_part(m)
        # Its own melody, placed a little under her first-tone level.
        target = m.points - 2.0 if m.contour.size else None
        jobs.append(shaping.job(work / "render", p.stem, p, part, target, reference, 1,
                                60, 600, shorten=False))
        made.append(p.stem)
    praat.render(jobs, work / "batches")
    for stem in made:
        x = units.read_mono(work / "render" / f"{stem}.wav", RATE)
        y, _ = units.finish(x, RATE, units.SPEECH_DB)
        units.write_pcm16(Path(out_dir) / f"{stem}.wav", y, RATE)
    return made


def check_after(plans, out_dir, work, reference):
    """Measures the finished units as the engine will play them."""
    made = [u for u in plans if u.recording is not None]
    # Now that the speaker's range is known, a floor under her lowest tone
    # and above half her usual pitch keeps the tracker off subharmonics.
    floor, ceiling = reference * 2 ** (-15 / 12), reference * 2 ** (10 / 12)
    tracks = praat.track_pitch([Path(out_dir) / f"{u.name}.wav" for u in made],
                               Path(work) / "after-f0", work, floor, ceiling)
    for u in made:
        p = Path(out_dir) / f"{u.name}.wav"
        t, hz = tracks[p]
        u.after = screening.measure(u.name, u.tone, units.read_mono(p, RATE), RATE, t, hz, reference)


def tone_failures_after(plans):
    return [u.name for u in plans if u.after is not None and u.tone in (1, 2, 3, 4)
            and u.after.heard_tone != u.tone]


def run_tool(cmd):
    import subprocess
    done = subprocess.run([str(c) for c in cmd], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{Path(str(cmd[0])).name} failed: {done.stderr.strip()[-400:]}")
    return done.stdout
