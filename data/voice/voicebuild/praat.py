"""Runs the Praat scripts beside this file in batch processes, split over the
machine's cores: one process start per batch, not per unit."""

import os
import subprocess
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent


class PraatError(RuntimeError):
    pass


def _run(script, args):
    # Praat reads relative paths against the script's folder: pass absolute ones.
    args = [Path(a).resolve() if isinstance(a, Path) else a for a in args]
    cmd = ["praat", "--run", str(HERE / script)] + [str(a) for a in args]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise PraatError(f"praat {script} failed: {done.stderr.strip()[-500:]}")


def _chunks(items, n):
    n = max(1, min(n, len(items)))
    return [items[i::n] for i in range(n)]


def _parallel(script, work_dir, items, write_batch, extra_args):
    work_dir = Path(work_dir).resolve()
    work_dir.mkdir(parents=True, exist_ok=True)
    jobs = []
    for k, chunk in enumerate(_chunks(items, os.cpu_count() or 1)):
        batch = work_dir / f"{script}.{k}.batch"
        write_batch(batch, chunk)
        jobs.append([batch] + extra_args)
    with ThreadPoolExecutor(len(jobs)) as pool:
        list(pool.map(lambda a: _run(script, a), jobs))


def track_pitch(paths, out_dir, work_dir, floor=75, ceiling=600):
    """F0 per 5 ms frame of every file: {path: (times, hz)}, hz 0 unvoiced."""
    given = list(paths)
    paths = [Path(p).resolve() for p in given]
    if not paths:
        return {}
    out_dir = Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)

    def write(batch, chunk):
        batch.write_text("".join(f"{p}\n" for p in chunk), encoding="utf-8")

    _parallel("pitch.praat", work_dir, paths, write, [out_dir, floor, ceiling])
    result = {}
    for g, p in zip(given, paths):
        table = np.loadtxt(out_dir / (p.stem + ".f0"), ndmin=2)
        result[g] = (table[:, 0], table[:, 1]) if table.size else (np.zeros(0), np.zeros(0))
    return result


def write_tier(path, kind, duration, points):
    """A PitchTier or DurationTier in Praat's text format."""
    lines = ['File type = "ooTextFile"', f'Object class = "{kind}"', "",
             "xmin = 0", f"xmax = {duration:.6f}", f"points: size = {len(points)}"]
    for k, (t, v) in enumerate(points, 1):
        lines += [f"points [{k}]:", f"    number = {t:.6f}", f"    value = {v:.6f}"]
    Path(path).write_text("\n".join(lines) + "\n", encoding="utf-8")


RENDER_COLUMNS = ["source", "output", "start", "end", "pitch", "duration", "floor", "ceiling",
                  "seed"]


def render(jobs, work_dir):
    """Each job a dict of RENDER_COLUMNS; tiers are file paths or '-'."""
    if not jobs:
        return

    def write(batch, chunk):
        rows = ["\t".join(RENDER_COLUMNS)]
        rows += ["\t".join(str(job[c]) for c in RENDER_COLUMNS) for job in chunk]
        batch.write_text("\n".join(rows) + "\n", encoding="utf-8")

    _parallel("render.praat", work_dir, jobs, write, [])
