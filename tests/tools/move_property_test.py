#!/usr/bin/env python3
"""Random trees of real music through `twintone --move-duplicates`.

Encodes a small pool of distinct pieces once, then builds many random trees from it
(copies in nested folders, a symbolic link to a folder, hard links, symbolic links to
files, the same file named relative, absolute and through "..", truncated copies,
titles that differ in one accented letter), runs the command on each and checks:

  * nothing is lost or made: the same inodes hold the same bytes before and after;
  * every piece that had a whole copy in the tree still has one outside the target
    folder, as a regular file;
  * nothing else was moved: whatever sits in the target folder afterwards is music
    (whole or truncated) of a piece kept whole outside it, and no symbolic link;
  * each group's kept copy is still where the JSON report names it, and no moved file
    is that same file (device and inode) under another name.

Hazard families can be chosen with --hazards (default: all of them):
  identity    links, hard links, aliases on the command line, --follow-symlinks
  truncation  truncated copies that claim the whole piece's length in their headers
  unicode     pieces whose titles differ only in one accented letter (same artist)

Standard library only. Exit status 0 when every tree passes.
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

ARTIST = "The Test Ensemble"
# Pairs 0/1 and 2/3 differ in one accented letter.
TITLES = ["Café", "Cafè", "Résumé", "Résumê", "Machine Wars", "Metal Madness"]
ACCENT_PAIRS = [(0, 1), (2, 3)]
SECONDS = 10
# name, extension, ffmpeg codec arguments
FORMATS = [
    ("mp3", "mp3", ["-c:a", "libmp3lame", "-b:a", "128k", "-id3v2_version", "3"]),
    ("flac", "flac", ["-c:a", "flac"]),
    ("ogg", "ogg", ["-c:a", "libvorbis", "-q:a", "3"]),
]
ALL_HAZARDS = ("identity", "truncation", "unicode")


def melody_source(piece):
    """An ffmpeg lavfi source: notes of 0.4 s stepping through a scale by a stride of
    the piece's own, with two harmonics and a decaying envelope, so that pieces sound
    (and fingerprint) apart."""
    stride, offset = [(5, 0), (7, 3), (3, 8), (11, 1), (2, 6), (9, 4)][piece]
    freq = "220*pow(2,mod(floor(t*2.5)*%d+%d,13)/12)" % (stride, offset)
    expr = "exp(-4*mod(t,0.4))*(0.5*sin(2*PI*%s*t)+0.25*sin(4*PI*%s*t)+0.1*sin(6*PI*%s*t))" % (
        freq, freq, freq)
    return "aevalsrc=exprs='%s':s=22050:d=%d" % (expr, SECONDS)


def run_all(commands):
    with concurrent.futures.ThreadPoolExecutor(2) as ex:
        for result in ex.map(lambda c: subprocess.run(c, capture_output=True), commands):
            if result.returncode != 0:
                sys.exit("ffmpeg failed: " + result.stderr.decode(errors="replace"))


def encode_pool(folder):
    """Renders each piece once, then encodes it in every format; returns
    {(piece, format name): path}."""
    ffmpeg = ["ffmpeg", "-v", "error", "-nostdin", "-y"]
    renders = []
    for piece in range(len(TITLES)):
        wav = os.path.join(folder, "p%d.wav" % piece)
        renders.append(ffmpeg + ["-f", "lavfi", "-i", melody_source(piece), wav])
    run_all(renders)
    pool = {}
    encodes = []
    for piece, title in enumerate(TITLES):
        for name, ext, codec in FORMATS:
            path = os.path.join(folder, "p%d.%s" % (piece, ext))
            encodes.append(ffmpeg + ["-i", os.path.join(folder, "p%d.wav" % piece),
                                     "-ar", "44100", "-ac", "2"] + codec +
                           ["-metadata", "title=" + title, "-metadata", "artist=" + ARTIST,
                            "-metadata", "album=Pool", path])
            pool[(piece, name)] = path
    run_all(encodes)
    return pool


def cached_pool(cache, workdir):
    """The pool from cache/pool-<version>, encoded there first if missing. A pool is
    encoded in a scratch folder and renamed into place whole, so parallel runs never
    see half of one."""
    if not cache:
        return encode_pool(workdir)
    key = hashlib.sha1(repr((TITLES, ARTIST, SECONDS, FORMATS, melody_source(0))).encode())
    folder = os.path.join(cache, "move-pool-" + key.hexdigest()[:12])
    if not os.path.isdir(folder):
        os.makedirs(cache, exist_ok=True)
        scratch = tempfile.mkdtemp(prefix="move-pool-", dir=cache)
        encode_pool(scratch)
        try:
            os.rename(scratch, folder)
        except OSError:  # another run got there first
            shutil.rmtree(scratch, ignore_errors=True)
    return {(piece, name): os.path.join(folder, "p%d.%s" % (piece, ext))
            for piece in range(len(TITLES)) for name, ext, _ in FORMATS}


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha1(f.read()).hexdigest()


class Tree:
    """One random tree: files under <base>/lib, duplicates moved to the target."""

    def __init__(self, base, pool, seed, hazards):
        self.base = base
        self.rng = random.Random(seed)
        self.pool = pool
        self.hazards = hazards
        self.lib = os.path.join(base, "lib")
        self.whole = {}  # digest -> piece, for whole copies
        self.part = {}   # digest -> piece, for truncated copies
        self.args = []
        self.options = []
        self.fingerprint = self.rng.random() < 0.15
        inside = self.rng.random() < 0.2
        self.target = os.path.join(self.lib if inside else base, "dups")

    def place(self, piece, fmt, folder, name=None):
        ext = dict((n, e) for n, e, _ in FORMATS)[fmt]
        name = name or "%s-%d.%s" % (self.rng.choice(["song", "track", "x"]),
                                     self.rng.randrange(1000), ext)
        path = os.path.join(self.lib, folder, name)
        if os.path.lexists(path):
            return None
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(self.pool[(piece, fmt)], path)
        return path

    def build(self):
        rng = self.rng
        folders = ["", "a", "a/b", "c", "c/d"]
        pieces = rng.sample(range(len(TITLES)), rng.randint(2, 5))
        if "unicode" not in self.hazards and not self.fingerprint:
            for x, y in ACCENT_PAIRS:
                if x in pieces and y in pieces:
                    pieces.remove(y)
        elif "unicode" in self.hazards and rng.random() < 0.5:
            for piece in rng.choice(ACCENT_PAIRS):
                if piece not in pieces:
                    pieces.append(piece)
        placed = []
        for piece in pieces:
            for _ in range(rng.choice([1, 1, 2, 3])):
                path = self.place(piece, rng.choice(FORMATS)[0], rng.choice(folders))
                if path:
                    placed.append((piece, path))
        for piece, fmt in self.pool:
            self.whole[digest(self.pool[(piece, fmt)])] = piece
        with open(os.path.join(self.lib, "notes.txt"), "w") as f:
            f.write("not music\n")
        if "truncation" in self.hazards:
            for piece, path in rng.sample(placed, min(len(placed), rng.randint(0, 2))):
                cut = os.path.join(os.path.dirname(path), "a-" + os.path.basename(path))
                data = open(path, "rb").read()
                with open(cut, "wb") as f:
                    f.write(data[: int(len(data) * rng.uniform(0.05, 0.4))])
                self.part[digest(cut)] = piece
        self.args = ["lib"]
        if rng.random() < 0.9:
            self.options.append("-r")
        else:
            self.args = ["lib/" + f for f in folders if os.path.isdir(os.path.join(self.lib, f))]
        if "identity" in self.hazards:
            self.add_identity_hazards(placed)
        rng.shuffle(self.args)

    def add_identity_hazards(self, placed):
        rng = self.rng
        if os.path.isdir(os.path.join(self.lib, "a")) and rng.random() < 0.7:
            os.symlink("a", os.path.join(self.lib, "link"))
        for piece, path in rng.sample(placed, min(len(placed), rng.randint(0, 2))):
            hard = os.path.join(self.lib, "c", "hard-" + os.path.basename(path))
            os.makedirs(os.path.dirname(hard), exist_ok=True)
            if not os.path.lexists(hard):
                os.link(path, hard)
        for piece, path in rng.sample(placed, min(len(placed), rng.randint(0, 2))):
            # A link sorting first, to a copy elsewhere (the kept-link case).
            folder = os.path.join(self.lib, rng.choice(["", "a", "c"]))
            os.makedirs(folder, exist_ok=True)
            link = os.path.join(folder, "0-" + os.path.basename(path))
            if not os.path.lexists(link):
                os.symlink(os.path.relpath(path, folder), link)
        if rng.random() < 0.3:
            self.options.append("--follow-symlinks")
        for piece, path in rng.sample(placed, min(len(placed), rng.randint(0, 3))):
            rel = os.path.relpath(path, self.base)
            parts = rel.split(os.sep)
            spellings = [rel, os.path.join(self.base, rel)]
            if len(parts) > 2:
                spellings.append(os.path.join(*parts[:2], "..", *parts[1:]))
            if parts[1] == "a" and os.path.islink(os.path.join(self.lib, "link")):
                spellings.append(os.path.join("lib", "link", *parts[2:]))
            self.args += rng.sample(spellings, rng.randint(1, len(spellings)))
        if rng.random() < 0.3:
            self.args.append(os.path.abspath(self.lib))

    def snapshot(self):
        """{path: (inode, digest, is_link)} for everything below base except links' targets."""
        files = {}
        for folder, dirs, names in os.walk(self.base):
            for name in names + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
                path = os.path.join(folder, name)
                st = os.lstat(path)
                if os.path.islink(path):
                    files[path] = (None, None, True)
                else:
                    files[path] = (st.st_ino, digest(path), False)
        return files

    def check(self, before, after, result):
        problems = []
        if result.returncode != 0:
            problems.append("exit %d: %s" % (result.returncode, result.stderr.strip()[-400:]))
        inodes_before = {v[0]: v[1] for v in before.values() if not v[2]}
        inodes_after = {v[0]: v[1] for v in after.values() if not v[2]}
        if inodes_before != inodes_after:
            problems.append("files were lost, made or changed")
        in_target = lambda p: p.startswith(self.target + os.sep)
        outside = {p: v for p, v in after.items() if not in_target(p)}
        kept = {self.whole[v[1]] for v in outside.values() if not v[2] and v[1] in self.whole}
        had = {self.whole[v[1]] for v in before.values() if not v[2] and v[1] in self.whole}
        for piece in sorted(had - kept):
            problems.append("no whole copy of '%s' left outside the target" % TITLES[piece])
        problems += self.check_keepers(result.stdout)
        for path, (ino, dig, link) in sorted(after.items()):
            if not in_target(path) or before.get(path) == (ino, dig, link):
                continue
            piece = self.whole.get(dig, self.part.get(dig))
            if link:
                problems.append("a symbolic link was moved: " + path)
            elif piece is None:
                problems.append("something other than music was moved: " + path)
            elif piece not in kept:
                problems.append("moved, with no whole copy kept: " + path)
        return problems

    def check_keepers(self, report):
        """Each group's kept copy (its first member) still exists where the report
        names it, and no move took the same file under another name."""
        try:
            doc = json.loads(report)
            keepers = [g["members"][0]["path"] for g in doc["groups"]]
            moves = [m["to"] for m in doc["moves"]["items"] if m["status"] == "moved"]
        except (ValueError, KeyError, IndexError, TypeError) as error:
            return ["unreadable JSON report (%r)" % error]
        problems = []
        kept_ids = set()
        for path in keepers:
            try:
                st = os.stat(os.path.join(self.base, path))
                kept_ids.add((st.st_dev, st.st_ino))
            except OSError:
                problems.append("the kept copy is gone: " + path)
        for path in moves:
            st = os.lstat(os.path.join(self.base, path))
            if (st.st_dev, st.st_ino) in kept_ids:
                problems.append("moved the kept copy under another name: " + path)
        return problems


def run_tree(twintone, workdir, pool, seed, hazards):
    base = os.path.join(workdir, "tree%d" % seed)
    os.makedirs(base)
    tree = Tree(base, pool, seed, hazards)
    tree.build()
    before = tree.snapshot()
    cmd = [twintone, "-q", "--json", "--move-duplicates", tree.target] + tree.options
    if tree.fingerprint:
        cmd += ["--fingerprint", "--seconds", str(SECONDS)]
    cmd += ["--"] + tree.args
    result = subprocess.run(cmd, cwd=base, capture_output=True, text=True, errors="replace")
    problems = tree.check(before, tree.snapshot(), result)
    if not problems:
        shutil.rmtree(base)
        return None
    return "tree %d (%s; cd %s && %s):\n    %s" % (
        seed, "fingerprint" if tree.fingerprint else "tags", base,
        " ".join("'%s'" % c for c in cmd), "\n    ".join(problems))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("twintone", help="the built command")
    parser.add_argument("--trees", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--cache", help="folder to keep the encoded pool in between runs")
    parser.add_argument("--hazards", default=",".join(ALL_HAZARDS),
                        help="comma-separated subset of: " + ", ".join(ALL_HAZARDS))
    args = parser.parse_args()
    hazards = set(h for h in args.hazards.split(",") if h)
    if not hazards <= set(ALL_HAZARDS):
        parser.error("unknown hazard in --hazards")
    twintone = os.path.abspath(args.twintone)
    workdir = tempfile.mkdtemp(prefix="twintone-trees-")
    failures = []
    try:
        pool = cached_pool(args.cache, workdir)
        seeds = range(args.seed, args.seed + args.trees)
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as ex:
            for failure in ex.map(lambda s: run_tree(twintone, workdir, pool, s, hazards), seeds):
                if failure:
                    failures.append(failure)
    finally:
        if not failures:
            shutil.rmtree(workdir, ignore_errors=True)
    for failure in failures[:20]:
        print(failure)
    print("%d of %d trees passed (hazards: %s)" % (
        args.trees - len(failures), args.trees, ",".join(sorted(hazards))))
    if failures:
        print("failing trees are kept under " + workdir)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
