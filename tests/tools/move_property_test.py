#!/usr/bin/env python3
"""Random trees of real music through `twintone --move-duplicates`.

Hazards of three families: identity (links to folders and files, hard links, one file
named many ways, --follow-symlinks), truncation (cut copies whose headers claim the
whole length) and unicode (titles one accented letter apart). After each run the same
inodes hold the same bytes, every piece with a whole copy keeps one outside the target,
the target holds only music of pieces kept whole, never a link, and each group's kept
copy is where the report names it. Exit 0 when all pass.
"""
import argparse, concurrent.futures, hashlib, json, os, random, shutil, subprocess, sys, tempfile
from pathlib import Path

ARTIST = "The Test Ensemble"
TITLES = ["Café", "Cafè", "Résumé", "Résumê", "Machine Wars", "Metal Madness"]
ACCENT_PAIRS = [(0, 1), (2, 3)]  # titles differing in one accented letter
SECONDS = 10
FORMATS = {"mp3": ["-c:a", "libmp3lame", "-b:a", "128k", "-id3v2_version", "3"],
           "flac": ["-c:a", "flac"], "ogg": ["-c:a", "libvorbis", "-q:a", "3"]}
FOLDERS = ["", "a", "a/b", "c", "c/d"]


def melody(piece):
    """Notes of 0.4 s stepping through a scale by a stride of the piece's own, with
    harmonics and a decaying envelope, so that pieces fingerprint apart."""
    stride, offset = [(5, 0), (7, 3), (3, 8), (11, 1), (2, 6), (9, 4)][piece]
    f = "220*pow(2,mod(floor(t*2.5)*%d+%d,13)/12)" % (stride, offset)
    return ("aevalsrc=exprs='exp(-4*mod(t,0.4))*(0.5*sin(2*PI*%s*t)+0.25*sin(4*PI*%s*t)"
            "+0.1*sin(6*PI*%s*t))':s=22050:d=%d" % (f, f, f, SECONDS))


def cached_pool(cache):
    """Every piece in every format, encoded once into the cache: in a scratch folder
    renamed into place whole, so parallel runs never see half of one."""
    paths = lambda folder: {(p, fmt): os.path.join(folder, "p%d.%s" % (p, fmt))
                            for p in range(len(TITLES)) for fmt in FORMATS}
    key = hashlib.sha1(repr((TITLES, ARTIST, FORMATS, melody(0))).encode()).hexdigest()[:12]
    folder = os.path.join(cache, "move-pool-" + key)
    if not os.path.isdir(folder):
        os.makedirs(cache, exist_ok=True)
        scratch = tempfile.mkdtemp(prefix="move-pool-", dir=cache)
        ffmpeg = ["ffmpeg", "-v", "error", "-nostdin", "-y"]
        wav = lambda p: os.path.join(scratch, "p%d.wav" % p)
        for commands in ([ffmpeg + ["-f", "lavfi", "-i", melody(p), wav(p)]
                          for p in range(len(TITLES))],
                         [ffmpeg + ["-i", wav(p), "-ar", "44100", "-ac", "2"] + FORMATS[fmt] +
                          ["-metadata", "title=" + TITLES[p], "-metadata", "artist=" + ARTIST, to]
                          for (p, fmt), to in paths(scratch).items()]):
            with concurrent.futures.ThreadPoolExecutor(2) as ex:
                for done in ex.map(lambda c: subprocess.run(c, capture_output=True), commands):
                    done.returncode and sys.exit("ffmpeg failed: " + done.stderr.decode())
        if subprocess.run(["mv", "-T", scratch, folder]).returncode:  # another run won
            shutil.rmtree(scratch, ignore_errors=True)
    return paths(folder)


digest = lambda path: hashlib.sha1(Path(path).read_bytes()).hexdigest()


class Tree:
    """One random tree: files under <base>/lib, duplicates moved to the target."""

    def __init__(self, base, pool, seed):
        self.base, self.pool, self.rng = base, pool, random.Random(seed)
        self.lib = os.path.join(base, "lib")
        self.whole = {digest(path): p for (p, _), path in pool.items()}  # digest -> piece
        self.part = {}  # digest -> piece, for truncated copies
        self.fingerprint = self.rng.random() < 0.15
        self.target = os.path.join(self.lib if self.rng.random() < 0.2 else base, "dups")
        self.options, self.args = [], ["lib"]

    def build(self):
        rng, lib = self.rng, self.lib
        pieces = rng.sample(range(len(TITLES)), rng.randint(2, 5))
        if rng.random() < 0.5:
            pieces += [p for p in rng.choice(ACCENT_PAIRS) if p not in pieces]
        placed = []
        for piece in pieces:
            for _ in range(rng.choice([1, 1, 2, 3])):
                fmt = rng.choice(list(FORMATS))
                path = os.path.join(lib, rng.choice(FOLDERS), "%s-%d.%s" % (
                    rng.choice(["song", "track", "x"]), rng.randrange(1000), fmt))
                if not os.path.lexists(path):
                    os.makedirs(os.path.dirname(path), exist_ok=True)
                    shutil.copyfile(self.pool[(piece, fmt)], path)
                    placed.append((piece, path))
        Path(lib, "notes.txt").write_text("not music\n")
        some = lambda n: rng.sample(placed, min(len(placed), rng.randint(0, n)))
        for piece, path in some(2):  # truncated copies
            cut = os.path.join(os.path.dirname(path), "a-" + os.path.basename(path))
            data = Path(path).read_bytes()
            Path(cut).write_bytes(data[: int(len(data) * rng.uniform(0.05, 0.4))])
            self.part[digest(cut)] = piece
        if rng.random() < 0.9:
            self.options.append("-r")
        else:  # each folder named, not entered
            self.args = ["lib/" + d for d in FOLDERS if os.path.isdir(os.path.join(lib, d))]
        if os.path.isdir(os.path.join(lib, "a")) and rng.random() < 0.7:
            os.symlink("a", os.path.join(lib, "link"))
        for piece, path in some(2):
            hard = os.path.join(lib, "c", "hard-" + os.path.basename(path))
            os.makedirs(os.path.dirname(hard), exist_ok=True)
            if not os.path.lexists(hard):
                os.link(path, hard)
        for piece, path in some(2):  # a link sorting first, to a copy elsewhere
            folder = os.path.join(lib, rng.choice(["", "a", "c"]))
            os.makedirs(folder, exist_ok=True)
            link = os.path.join(folder, "0-" + os.path.basename(path))
            if not os.path.lexists(link):
                os.symlink(os.path.relpath(path, folder), link)
        if rng.random() < 0.3:
            self.options.append("--follow-symlinks")
        for piece, path in some(3):  # the same file under several spellings
            rel = os.path.relpath(path, self.base)
            parts = rel.split(os.sep)
            spellings = [rel, os.path.join(self.base, rel)]
            if len(parts) > 2:
                spellings.append(os.path.join(*parts[:2], "..", *parts[1:]))
            if parts[1] == "a" and os.path.islink(os.path.join(lib, "link")):
                spellings.append(os.path.join("lib", "link", *parts[2:]))
            self.args += rng.sample(spellings, rng.randint(1, len(spellings)))
        if rng.random() < 0.3:
            self.args.append(os.path.abspath(lib))
        rng.shuffle(self.args)

    def snapshot(self):
        """{path: (inode, digest)} below base, (None, None) for a link."""
        files = {}
        for folder, dirs, names in os.walk(self.base):
            for name in names + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
                path = os.path.join(folder, name)
                files[path] = ((None, None) if os.path.islink(path)
                               else (os.lstat(path).st_ino, digest(path)))
        return files

    def check(self, before, after, result):
        problems = ["exit %d: %s" % (result.returncode, result.stderr.strip()[-400:])
                    ] if result.returncode else []
        inodes = lambda files: {ino: dig for ino, dig in files.values() if ino is not None}
        if inodes(before) != inodes(after):
            problems.append("files were lost, made or changed")
        in_target = lambda p: p.startswith(self.target + os.sep)
        wholes = lambda files: {self.whole[dig] for p, (_, dig) in files.items()
                                if dig in self.whole and not in_target(p)}
        kept = wholes(after)
        problems += ["no whole copy of '%s' left outside the target" % TITLES[p]
                     for p in sorted(wholes(before) - kept)]
        for path, entry in sorted(after.items()):
            if not in_target(path) or before.get(path) == entry:
                continue
            piece = self.whole.get(entry[1], self.part.get(entry[1]))
            if entry[0] is None:
                problems.append("a symbolic link was moved: " + path)
            elif piece is None:
                problems.append("something other than music was moved: " + path)
            elif piece not in kept:
                problems.append("moved, with no whole copy kept: " + path)
        try:
            doc = json.loads(result.stdout)
            keepers = [g["members"][0]["path"] for g in doc["groups"]]
            moves = [m["to"] for m in doc["moves"]["items"] if m["status"] == "moved"]
        except (ValueError, KeyError, IndexError, TypeError) as error:
            return problems + ["unreadable JSON report (%r)" % error]
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


def run_tree(twintone, workdir, pool, seed):
    base = os.path.join(workdir, "tree%d" % seed)
    os.makedirs(base)
    tree = Tree(base, pool, seed)
    tree.build()
    before = tree.snapshot()
    cmd = [twintone, "-q", "--json", "--move-duplicates", tree.target] + tree.options
    if tree.fingerprint:
        cmd += ["--fingerprint", "--seconds", str(SECONDS)]
    cmd += ["--"] + tree.args
    result = subprocess.run(cmd, cwd=base, capture_output=True, text=True, errors="replace")
    problems = tree.check(before, tree.snapshot(), result)
    return shutil.rmtree(base) if not problems else "tree %d (cd %s && %s):\n    %s" % (
        seed, base, " ".join("'%s'" % c for c in cmd), "\n    ".join(problems))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("twintone", help="the built command")
    for name, default in (("--trees", 200), ("--seed", 1), ("--jobs", 2)):
        parser.add_argument(name, type=int, default=default)
    parser.add_argument("--cache", help="folder to keep the encoded pool in between runs")
    args = parser.parse_args()
    twintone = os.path.abspath(args.twintone)
    workdir = tempfile.mkdtemp(prefix="twintone-trees-")
    pool = cached_pool(args.cache or workdir)
    seeds = range(args.seed, args.seed + args.trees)
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as ex:
        failures = [f for f in ex.map(lambda s: run_tree(twintone, workdir, pool, s), seeds) if f]
    print("%d of %d trees passed" % (args.trees - len(failures), args.trees))
    if failures:
        print("\n".join(failures[:20] + ["failing trees are kept under " + workdir]))
        return 1
    shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
