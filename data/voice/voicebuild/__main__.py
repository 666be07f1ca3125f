"""Command line of the voice builder.

  python3 -m voicebuild human --recordings DIR --tools TOOLS --engine DIR --name NAME
      [--dict FILE]... [--report TSV] [--picture PNG] [--work DIR]
  python3 -m voicebuild tones --units DIR --out DIR [--work DIR]
  python3 -m voicebuild check VOICE.vl --tools TOOLS

`human` makes NAME.vl in the engine directory from one speaker's syllable
recordings; `tones` gives synthetic units (espeak-ng's) the contours of
their tones; `check` measures the tones of a finished voice.
"""

import argparse
import shutil
import sys
import tempfile
import time
from pathlib import Path

from . import check, human, report, tones


def coverage(plans, needed):
    by = {u.name: u for u in plans}
    counts = {"recorded": 0, "repaired": 0, "missing": 0}
    missing = []
    for name in needed:
        u = by.get(name)
        kind = u.decision if u is not None and u.decision != "missing" else "missing"
        counts[kind] += 1
        if kind == "missing":
            missing.append(name)
    return counts, missing


def run_human(a):
    started = time.time()
    tools = Path(a.tools)
    work = Path(a.work or tempfile.mkdtemp(prefix="vesk-voice-"))
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    out_units = work / "units"
    standard = set(human.run_tool([tools / "vesk-voice", "syllables"]).split())
    recs, excess, unreadable = human.load_recordings(a.recordings, standard, work)
    for name in unreadable:
        print(f"voicebuild: warning: {name} cannot be read; its unit is made as if missing",
              file=sys.stderr)
    if not recs:
        print(f"voicebuild: no recordings of standard syllables in {a.recordings}", file=sys.stderr)
        return 1
    reference = human.measure_all(recs, excess, work)
    templates = human.speaker_templates(recs)
    plans = human.plan({r.syllable for r in recs}, recs, templates)
    human.render_units(plans, reference, work)
    human.finish_units(plans, work, out_units)
    human.check_after(plans, out_units, work, reference)
    # Shortening can tip a borderline contour over: such units are drawn
    # again on the speaker's own template, and where their own audio does
    # not take it, made from the syllable's other recordings in turn.
    tried = {u.name: {u.source} for u in plans}
    for attempt in range(5):
        failed = set(human.tone_failures_after(plans))
        again = [u for u in plans if u.name in failed]
        if attempt > 0:
            again = [u for u in again if human.use_donor(u, recs, tried[u.name])]
        for u in again:
            tried[u.name].add(u.source)
            u.decision = "repaired"
            u.target = human.target_shape(u.tone, templates)
            note = "re-pitched after shaping" if attempt == 0 else f"then from {u.source}"
            u.note = (u.note + "; " if u.note else "") + note
        if not again:
            break
        human.render_units(again, reference, work)
        human.finish_units(again, work, out_units)
        human.check_after(again, out_units, work, reference)
    letters = human.letter_units(tools, work, reference, out_units)

    vl = Path(a.engine) / f"{a.name}.vl"
    dicts = [x for d in a.dict for x in ("--dict", d)]
    build_log = human.run_tool([tools / "vesk-voice", "build", out_units, "-o", vl,
                                "--rate", str(human.RATE), "--fade-ms", "0",
                                "--pause-ms", "200"] + dicts)
    needed = human.run_tool([tools / "vesk-voice", "syllables", "--toned"] + dicts).split() \
        if a.dict else [u.name for u in plans]
    counts, missing = coverage(plans, needed)
    extra = [{"unit": f"letter-{c}", "decision": "substituted", "source": "espeak-ng",
              "note": "letter name moved into this voice's pitch range and loudness"}
             for c in "abcdefghijklmnopqrstuvwxyz" if f"letter-{c}" in letters]
    extra.append({"unit": "pause", "decision": "built", "note": "200 ms of silence"})
    if a.report:
        report.write_report(a.report, plans, extra, recs)
    if a.picture:
        report.draw(a.picture, plans, recs, "Human voice: pitch contours of the finished units")
    failures = human.tone_failures_after(plans)
    faulty = sum(1 for r in recs if r.faults)
    lines = [f"built    {vl.resolve()}: {len(recs)} recordings screened "
             f"(reference {reference:.0f} Hz), {faulty} with faults",
             f"coverage of the {len(needed)} toned units the dictionaries use: "
             f"{counts['recorded']} recorded, {counts['repaired']} repaired from the same "
             f"speaker, {counts['missing']} missing"
             + (f" ({' '.join(missing[:12])}{' ...' if len(missing) > 12 else ''})"
                if missing else "")
             + f"; letters: {len(letters)} of 26 substituted (espeak-ng); pause: built"]
    if a.report:
        lines.append(f"report   {Path(a.report).resolve()}")
    if a.picture:
        lines.append(f"picture  {Path(a.picture).resolve()}")
    for line in lines:
        print("voicebuild: " + line)
    print(f"voicebuild: built in {time.time() - started:.0f} s")
    if a.summary:
        Path(a.summary).write_text("".join(line + "\n" for line in lines), encoding="utf-8")
    if failures:
        print(f"voicebuild: units that still fail the tone check: {' '.join(failures)}",
              file=sys.stderr)
        return 1
    if not a.work:
        shutil.rmtree(work, ignore_errors=True)
    sys.stdout.write(build_log if a.verbose else "")
    return 0


def run_tones(a):
    return tones.impose_tones(Path(a.units), Path(a.out),
                              Path(a.work or tempfile.mkdtemp(prefix="vesk-tones-")))


def run_check(a):
    by_tone, reference = check.measure_voice(a.tools, a.voice, a.work)
    for line in check.summary(by_tone, reference):
        print(f"{Path(a.voice).name}: {line}")
    return 0


def main(argv=None):
    p = argparse.ArgumentParser(prog="voicebuild", description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="command", required=True)
    h = sub.add_parser("human", help="a voice from one speaker's syllable recordings")
    h.add_argument("--recordings", required=True)
    h.add_argument("--tools", required=True, help="folder of vesk-voice and vesk-voice-espeak")
    h.add_argument("--engine", required=True, help="engine directory that receives NAME.vl")
    h.add_argument("--name", required=True)
    h.add_argument("--dict", action="append", default=[])
    h.add_argument("--report")
    h.add_argument("--picture")
    h.add_argument("--summary", help="write the coverage lines here")
    h.add_argument("--work", help="keep the intermediate files here")
    h.add_argument("--verbose", action="store_true")
    t = sub.add_parser("tones", help="impose the tones' contours on synthetic units")
    t.add_argument("--units", required=True)
    t.add_argument("--out", required=True)
    t.add_argument("--work")
    c = sub.add_parser("check", help="measure the tones of a built voice library")
    c.add_argument("voice")
    c.add_argument("--tools", required=True, help="folder of vesk-voice")
    c.add_argument("--work")
    a = p.parse_args(argv)
    return {"human": run_human, "tones": run_tones, "check": run_check}[a.command](a)


if __name__ == "__main__":
    sys.exit(main())
