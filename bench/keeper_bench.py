#!/usr/bin/env python3
"""Which copy the command's `best` keeps, and what listening to the copies costs it.

  bench/keeper_bench.py TWINTONE [--repetitions=N] [--library=DIR]

Makes the library of bench/keeper_library.sh (once, default /tmp/twintone-keeper-library),
then:
  1. the keeper share: one fingerprint run with --no-quality (best goes by what the files
     claim: length, format, bitrate) and one without (by what they sound like); a group
     counts when its keeper is the piece's original.* file;
  2. the cost: N repetitions of a first run (each with an empty cache) with --no-quality
     and without, back to back, the side going first alternating; then four re-runs of
     each from the cache its first run filled. Each figure is the median of the pairs' ratios
     of wall time and of CPU time (user + system of the command, all its threads).
Prints the processor's model name and the load average first.
"""
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RERUNS = 4  # cached re-runs per side and repetition: each takes well under a second


def model_name():
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        for line in out.splitlines():
            if line.startswith("Model name:"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown"


def run(twintone, args):
    """(wall seconds, CPU seconds, stdout) of one command."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run([twintone] + args, capture_output=True, text=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0:
        sys.exit("twintone failed (%d): %s" % (proc.returncode, proc.stderr))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, proc.stdout


def keeper_share(doc):
    groups = doc["groups"]
    kept = 0
    above = []  # per group, the copies ranked above the original
    for g in groups:
        names = [os.path.basename(m["path"]) for m in g["members"]]
        rank = next((i for i, n in enumerate(names) if n.startswith("original.")), len(names))
        kept += rank == 0
        above += names[:rank]
    print("    ranked above the original: %d copies (%s)" % (
        len(above), ", ".join("%s %d" % (n, above.count(n)) for n in sorted(set(above)))))
    for g in groups:
        keeper = g["members"][0]
        print("    %-28s %s" % (os.path.relpath(keeper["path"], os.path.dirname(
            os.path.dirname(keeper["path"]))), g["keep_reason"]))
    return kept, len(groups), sum(len(g["members"]) for g in groups)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if len(args) != 1:
        sys.exit(__doc__)
    twintone = os.path.abspath(args[0])
    reps = 5
    library = os.environ.get("TWINTONE_KEEPER_LIBRARY", "/tmp/twintone-keeper-library")
    for a in sys.argv[1:]:
        if a.startswith("--repetitions="):
            reps = int(a.split("=", 1)[1])
        elif a.startswith("--library="):
            library = a.split("=", 1)[1]
    subprocess.run([os.path.join(HERE, "keeper_library.sh"), library], check=True)
    print("CPU: %s; load average %s" % (model_name(), " ".join(
        "%.2f" % x for x in os.getloadavg())))
    base = ["--fingerprint", "-r", "-q", "--json"]
    with tempfile.TemporaryDirectory() as tmp:
        for label, extra in (("claims (--no-quality)", ["--no-quality"]), ("sound", [])):
            _, _, out = run(twintone, base + extra + ["--no-cache", library])
            print("  keeper by %s:" % label)
            kept, groups, files = keeper_share(json.loads(out))
            print("  => original kept in %d of %d groups (%d files grouped)" %
                  (kept, groups, files))
        first, again = {"off": [], "on": []}, {"off": [], "on": []}
        for rep in range(reps):
            order = ("off", "on") if rep % 2 == 0 else ("on", "off")
            for side in order:
                cache = os.path.join(tmp, "%s-%d.sqlite" % (side, rep))
                extra = ["--no-quality"] if side == "off" else []
                first[side].append(run(twintone, base + extra + ["--cache", cache, library]))
            for _ in range(RERUNS):
                for side in order:
                    cache = os.path.join(tmp, "%s-%d.sqlite" % (side, rep))
                    extra = ["--no-quality"] if side == "off" else []
                    again[side].append(run(twintone, base + extra + ["--cache", cache, library]))
        for name, runs in (("first run", first), ("cached re-run", again)):
            wall = statistics.median(b[0] / a[0] for a, b in zip(runs["off"], runs["on"]))
            cpu = statistics.median(b[1] / a[1] for a, b in zip(runs["off"], runs["on"]))
            print("  %s: quality off best %.2f s wall, %.2f s CPU; on best %.2f s wall, "
                  "%.2f s CPU; on against off (median of %d pairs): %+.1f %% wall, %+.1f %% CPU"
                  % (name, min(r[0] for r in runs["off"]), min(r[1] for r in runs["off"]),
                     min(r[0] for r in runs["on"]), min(r[1] for r in runs["on"]), len(runs["on"]),
                     (wall - 1) * 100, (cpu - 1) * 100))


if __name__ == "__main__":
    main()
