"""The voice builder on small generated recordings whose contours and faults
are known: screening flags exactly the faulty units, repair gives the wanted
contour, and the whole build yields a voice library the tools can read.

  VESK_VOICE_TOOLS=build/tools/vesk-voice /usr/bin/python3 tests/data/voice_build_test.py
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import numpy as np
import soundfile as sf

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "data" / "voice"))

from voicebuild import contours, human, praat, screening, tones, units  # noqa: E402

RATE = 24000
REFERENCE = 220.0


def vowel(points_st, seconds=0.45, reference=REFERENCE, amplitude=0.4, decay=0.08,
          rate=RATE):
    """A buzz with a vowel's spectral tilt whose F0 follows points_st (the
    shape over the voiced part), with a soft attack and a decay of `decay`
    seconds (0: stops dead)."""
    n = int(seconds * rate)
    shape = np.interp(np.linspace(0, 1, n), np.linspace(0, 1, len(points_st)), points_st)
    f0 = reference * 2 ** (shape / 12)
    phase = 2 * np.pi * np.cumsum(f0) / rate
    x = sum(np.sin(k * phase) / k for k in range(1, 16))
    env = np.ones(n)
    attack = int(0.02 * rate)
    env[:attack] = np.linspace(0, 1, attack)
    if decay > 0:
        d = int(decay * rate)
        env[-d:] = np.linspace(1, 0, d) ** 2
    return amplitude * x / np.abs(x).max() * env


def recording(x, lead=0.25, tail=0.3, rate=RATE, seed=0):
    """With silence and a faint noise floor around it, as recorded."""
    rng = np.random.default_rng(seed)
    y = np.concatenate([np.zeros(int(lead * rate)), x, np.zeros(int(tail * rate))])
    return y + rng.normal(0, 10 ** (-60 / 20), len(y))


def citation(tone):
    return contours.TEMPLATES[tone]


def screen(named):
    """Screens {name: samples} with the builder's own tracker; {name: m}."""
    work = Path(tempfile.mkdtemp(prefix="vesk-screen-test-"))
    try:
        paths = {}
        for name, x in named.items():
            paths[name] = work / f"{name}.wav"
            sf.write(str(paths[name]), x, RATE, subtype="FLOAT")
        tracks = praat.track_pitch(list(paths.values()), work / "f0", work, 75, 600)
        ms = {}
        for name, p in paths.items():
            t, hz = tracks[p]
            ms[name] = screening.measure(name, int(name[-1]), units.read_mono(p, RATE),
                                         RATE, t, hz, REFERENCE)
        median = float(np.median([m.loudness_db for m in ms.values()]))
        for m in ms.values():
            m.faults = screening.find_faults(m, median)
        return ms
    finally:
        shutil.rmtree(work, ignore_errors=True)


class ContourTest(unittest.TestCase):
    def test_each_tone_shape_is_classified_as_its_tone(self):
        for tone in (1, 2, 3, 4):
            self.assertEqual(contours.classify(contours.TEMPLATES[tone])[0], tone)
        self.assertEqual(contours.classify(contours.TONE3_LOW)[0], 3)

    def test_octave_jumps_are_folded_back_onto_the_contour(self):
        hz = np.full(40, 220.0)
        hz[20:26] = 440.0      # a doubled stretch
        hz[30] = 110.0         # one halved frame
        c, span = contours.voiced_contour(hz, 220.0)
        self.assertEqual(span, (0, 39))
        self.assertLess(np.abs(c).max(), 0.5)

    def test_unvoiced_unit_has_no_contour(self):
        self.assertEqual(contours.voiced_contour(np.zeros(50), 220.0), (None, None))

    def test_low_form_keeps_the_start_and_drops_the_final_rise(self):
        dip = np.array([-6.0, -8.0, -10.0, -11.5, -12.0, -11.0, -9.0, -7.0, -5.0])
        low = contours.low_form(dip)
        self.assertAlmostEqual(low[0], -6.0)
        self.assertTrue(np.all(np.diff(low) <= 0), low)
        self.assertLessEqual(low[-1], -11.5)


class ScreeningTest(unittest.TestCase):
    def test_flags_exactly_the_faulty_recordings(self):
        named = {f"ok{t}": recording(vowel(citation(t)), seed=t) for t in (1, 2, 3, 4)}
        named["cut1"] = recording(vowel(citation(1), decay=0))
        clipped = np.clip(vowel(citation(1)) * 4, -0.4, 0.4)
        named["clip1"] = recording(clipped)
        click = vowel(citation(1))
        click[int(0.25 * RATE)] += 0.35
        click[int(0.25 * RATE) + 1] -= 0.35
        named["click1"] = recording(click)
        named["wrong4"] = recording(vowel(citation(2)))  # a rise named tone 4

        ms = screen(named)
        faults = {name: m.faults for name, m in ms.items()}
        for t in (1, 2, 3, 4):
            self.assertEqual(faults[f"ok{t}"], [], ms[f"ok{t}"])
            self.assertEqual(ms[f"ok{t}"].heard_tone, t)
        self.assertEqual(faults["cut1"], ["cut-short"])
        # Clipping may also leave a transient where it sets in.
        self.assertEqual(faults["clip1"][0], "clipped")
        self.assertEqual(faults["click1"], ["click"])
        self.assertEqual(faults["wrong4"], ["tone"])
        self.assertEqual(ms["wrong4"].heard_tone, 2)

    def test_loudness_far_from_the_rest_is_flagged(self):
        named = {f"a{t}": recording(vowel(citation(t)), seed=t) for t in (1, 2, 3, 4)}
        named["quiet1"] = recording(vowel(citation(1), amplitude=0.4 * 10 ** (-16 / 20)))
        faults = {n: m.faults for n, m in screen(named).items()}
        self.assertEqual(faults["quiet1"], ["loudness"])
        self.assertEqual(faults["a2"], [])


class ToneImpositionTest(unittest.TestCase):
    def test_flat_synthetic_units_are_given_their_tones(self):
        work = Path(tempfile.mkdtemp(prefix="vesk-tones-test-"))
        try:
            src, out = work / "src", work / "out"
            src.mkdir()
            for tone in (1, 2, 3, 4):
                flat = recording(vowel(np.zeros(9), reference=110.0, seconds=0.35),
                                 lead=0.02, tail=0.02)
                sf.write(str(src / f"ma{tone}.wav"), flat, RATE)
            sf.write(str(src / "letter-a.wav"), flat, RATE)
            self.assertEqual(tones.impose_tones(src, out, work / "work"), 0)
            self.assertTrue((out / "letter-a.wav").exists())
            tracks = praat.track_pitch(sorted(out.glob("ma*.wav")), work / "f0", work, 50, 300)
            shapes = {}
            for p, (_, hz) in tracks.items():
                c, _ = contours.voiced_contour(hz, 110.0)
                shapes[p.stem] = contours.shape(c)
            self.assertLess(np.ptp(shapes["ma1"]), 1.5)
            self.assertGreater(shapes["ma2"][-1] - shapes["ma2"][0], 4.0)
            self.assertGreater(shapes["ma4"][0] - shapes["ma4"][-1], 5.0)
            self.assertLess(shapes["ma3"].max(), shapes["ma1"].min() - 3.0)
        finally:
            shutil.rmtree(work, ignore_errors=True)


@unittest.skipUnless(os.environ.get("VESK_VOICE_TOOLS"), "VESK_VOICE_TOOLS names no tools")
class HumanVoiceBuildTest(unittest.TestCase):
    """The whole build, as make voice runs it, on two syllables: ma without
    its third tone, ba with a clipped fourth."""

    def test_missing_and_faulty_units_are_repaired_from_the_same_syllable(self):
        tools = Path(os.environ["VESK_VOICE_TOOLS"]).resolve()
        work = Path(tempfile.mkdtemp(prefix="vesk-human-test-"))
        try:
            rec = work / "recordings"
            rec.mkdir()
            for syl, seed in (("ma", 1), ("ba", 2)):
                for tone in (1, 2, 3, 4):
                    if (syl, tone) == ("ma", 3):
                        continue
                    x = vowel(citation(tone), reference=300.0, seconds=0.5)
                    if (syl, tone) == ("ba", 4):
                        x = np.clip(x * 4, -0.4, 0.4)
                    sf.write(str(rec / f"cmn-{syl}{tone}.wav"),
                             recording(x, rate=RATE, seed=seed + tone), RATE)
            (rec / "notes.txt").write_text("not a recording\n")
            # Damaged input: bytes that are no sound at all, and a sound too
            # short to carry a pitch.
            (rec / "cmn-ba2.mp3").write_bytes(b"ID3" + bytes(range(256)) * 8)
            (rec / "cmn-ba2.wav").unlink()
            sf.write(str(rec / "cmn-ba3.wav"), np.full(int(0.005 * RATE), 0.3), RATE)
            engine = work / "engine"
            engine.mkdir()
            report = work / "report.tsv"
            done = subprocess.run(
                [sys.executable, "-m", "voicebuild", "human", "--recordings", str(rec),
                 "--tools", str(tools), "--engine", str(engine), "--name", "test",
                 "--report", str(report), "--picture", str(work / "voice.png"),
                 "--work", str(work / "build")],
                cwd=ROOT / "data" / "voice", capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr + done.stdout)
            self.assertIn("6 recordings screened", done.stdout)
            self.assertIn("2 with faults", done.stdout)
            self.assertIn("cmn-ba2.mp3 cannot be read", done.stderr)

            rows = {}
            lines = report.read_text(encoding="utf-8").splitlines()
            header = lines[0].split("\t")
            for line in lines[1:]:
                r = dict(zip(header, line.split("\t")))
                rows[r["unit"]] = r
            self.assertEqual(rows["ma3"]["decision"], "repaired")
            self.assertEqual(rows["ma3"]["source"], "ma2")
            self.assertEqual(rows["ma3"]["after_heard"], "dipping")
            self.assertEqual(rows["ba4"]["decision"], "repaired")
            self.assertIn("clipped", rows["ba4"]["note"])
            self.assertNotEqual(rows["ba4"]["source"], "ba4")
            self.assertEqual(rows["ba4"]["after_heard"], "falling")
            self.assertEqual(rows["ma1"]["decision"], "recorded")
            for unit in ("ba2", "ba3"):
                self.assertEqual(rows[unit]["decision"], "repaired")
                self.assertEqual(rows[unit]["source"], "ba1")
            self.assertEqual(rows["ma0"]["decision"], "repaired")
            self.assertEqual(rows["letter-a"]["decision"], "substituted")
            self.assertTrue((work / "voice.png").stat().st_size > 1000)

            info = subprocess.run([str(tools / "vesk-voice"), "info", str(engine / "test.vl")],
                                  capture_output=True, text=True)
            self.assertEqual(info.returncode, 0, info.stderr)
            self.assertIn("sample rate: 24000 Hz", info.stdout)
            self.assertIn("tone 1: 2, tone 2: 2, tone 3: 2, tone 4: 2, neutral: 2", info.stdout)
            self.assertIn("letters:     26 of 26", info.stdout)
            self.assertIn("pause:       yes", info.stdout)

            # As the engine will play them: one loudness, headroom, and the
            # length of a syllable in running speech.
            played = work / "played"
            subprocess.run([str(tools / "vesk-voice"), "extract", str(engine / "test.vl"),
                            "--all", "-o", str(played)], check=True, capture_output=True)
            for wav in sorted(played.glob("*.wav")):
                if wav.stem == "pause":
                    continue
                x, rate = sf.read(str(wav))
                self.assertLessEqual(np.abs(x).max(), 10 ** (-1 / 20) + 1e-3, wav.stem)
                neutral = wav.stem.endswith("0")
                want = units.NEUTRAL_DB if neutral else units.SPEECH_DB
                self.assertAlmostEqual(units.speech_loudness_db(x, rate), want, delta=1.0,
                                       msg=wav.stem)
                if not wav.stem.startswith("letter-"):
                    self.assertLess(len(x) / rate, 0.2 if neutral else 0.32, wav.stem)
                    self.assertGreater(len(x) / rate, 0.1, wav.stem)
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
