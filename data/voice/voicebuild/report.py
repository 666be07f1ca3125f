"""The voice's report (a row per unit: what was measured, what was wrong,
what was done) and its picture (every unit's contour, per tone)."""

import csv
from pathlib import Path

import numpy as np

from . import contours

COLUMNS = ["unit", "decision", "source", "note", "faults", "heard", "contour_st",
           "median_hz", "loudness_db", "peak_db", "end_level_db", "end_drop_db",
           "clip_ratio", "clicks", "after_heard", "after_contour_st", "after_s",
           "peak_limited"]


def _pts(points):
    if points is None or not np.all(np.isfinite(points)):
        return ""
    return " ".join(f"{v:.1f}" for v in points)


def _heard(m):
    if m is None or not m.contour.size:
        return ""
    return contours.TONE_CLASSES.get(m.heard_tone, "")


def row(u, own):
    """own: the unit's own recording (None when it has none), whose
    measurements the row shows, whatever the unit was made from."""
    r = own
    m = r.m if r is not None else None
    a = u.after
    return {
        "unit": u.name, "decision": u.decision, "source": u.source, "note": u.note,
        "faults": ",".join(r.faults) if m is not None else "",
        "heard": _heard(m), "contour_st": _pts(m.points) if m else "",
        "median_hz": f"{m.median_hz:.0f}" if m and np.isfinite(m.median_hz) else "",
        "loudness_db": f"{m.loudness_db:.1f}" if m else "",
        "peak_db": f"{m.peak_db:.1f}" if m else "",
        "end_level_db": f"{m.end_level_db:.1f}" if m else "",
        "end_drop_db": f"{m.end_drop_db:.1f}" if m else "",
        "clip_ratio": f"{m.clip_ratio:.2f}" if m else "",
        "clicks": str(m.clicks) if m else "",
        "after_heard": _heard(a) if u.tone else "",
        "after_contour_st": _pts(a.points) if a is not None else "",
        "after_s": f"{a.duration:.3f}" if a is not None else "",
        "peak_limited": "yes" if u.limited else "",
    }


def write_report(path, plans, extra_rows, screened):
    """Units in name order, then the recordings no unit uses (screened only)."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    used = {u.name for u in plans}
    own = {r.name: r for r in screened}
    with open(path, "w", newline="", encoding="utf-8") as f:
        w = csv.DictWriter(f, COLUMNS, delimiter="\t", lineterminator="\n")
        w.writeheader()
        for u in sorted(plans, key=lambda u: (u.syllable, u.tone)):
            w.writerow(row(u, own.get(u.name)))
        for r in extra_rows:
            w.writerow({**{c: "" for c in COLUMNS}, **r})
        for rec in sorted(screened, key=lambda r: r.name):
            if rec.name not in used:
                w.writerow({**{c: "" for c in COLUMNS}, "unit": rec.name,
                            "decision": "unused", "faults": ",".join(rec.faults),
                            "heard": _heard(rec.m), "contour_st": _pts(rec.m.points)})


def draw(path, plans, screened, title):
    """Five panels, tones 1 to 4 and neutral: every finished unit's contour
    in grey, repaired ones in red over it, and the recorded contours that
    failed the tone check dashed."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, 5, figsize=(20, 4.8), sharey=True)
    names = {1: "tone 1 (level-high)", 2: "tone 2 (rising)", 3: "tone 3 (low form)",
             4: "tone 4 (falling)", 0: "neutral"}
    x = contours.SHAPE_POINTS
    own = {r.name: r for r in screened}
    for ax, tone in zip(axes, (1, 2, 3, 4, 0)):
        group = [u for u in plans if u.tone == tone and u.after is not None and u.after.contour.size]
        repaired = [u for u in group if u.decision == "repaired"]
        for u in group:
            if u.decision != "repaired":
                ax.plot(x, u.after.points, color="0.55", lw=0.5, alpha=0.35)
        for u in repaired:
            ax.plot(x, u.after.points, color="tab:red", lw=0.8, alpha=0.6)
        for u in group:
            r = own.get(u.name)
            if r is not None and "tone" in r.faults:
                ax.plot(x, r.m.points, color="tab:blue", lw=0.8, ls="--", alpha=0.7)
        ax.set_title(f"{names[tone]}\n{len(group)} units, {len(repaired)} repaired")
        ax.set_xlabel("time in the voiced part")
        ax.grid(alpha=0.3)
    axes[0].set_ylabel("semitones re first-tone level")
    axes[0].set_ylim(-20, 8)
    fig.suptitle(title + "   (grey: as recorded and shaped; red: repaired; "
                 "blue dashed: recorded contour that failed the tone check)")
    fig.tight_layout()
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=80)
    plt.close(fig)
