#!/usr/bin/python3
"""--interactive in a real pseudo-terminal: keys choose a keeper, mark a copy not a
duplicate and quit; the files are checked after, and so is the terminal's mode, after
a finished review and after Ctrl-C. The pair marked not a duplicate is kept apart by
the next run, and grouped again once --forget-distinct forgot it.
  terminal_review_pty.py TWINTONE"""
import json, os, pty, select, shutil, subprocess, sys, tempfile, termios


def noise(path, seed, title, bitrate):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    f"anoisesrc=duration=12:color=pink:seed={seed}:amplitude=0.5",
                    "-metadata", f"title={title}", "-b:a", bitrate, path], check=True)


class Session:
    """The command on the slave side of a pty, keys written to the master."""

    def __init__(self, args, env):
        self.master, slave = pty.openpty()
        self.slave = slave
        self.proc = subprocess.Popen(args, stdin=slave, stdout=subprocess.DEVNULL, stderr=slave,
                                     env=env, start_new_session=True)
        self.seen = b""

    def wait_for(self, text):
        while text.encode() not in self.seen:
            ready, _, _ = select.select([self.master], [], [], 60)
            assert ready, f"no {text!r} after: {self.seen[-400:]!r}"
            self.seen += os.read(self.master, 4096)
        self.seen = self.seen[self.seen.index(text.encode()) + len(text):]

    def keys(self, text):
        os.write(self.master, text.encode())

    def finish(self):
        code = self.proc.wait(60)
        mode = termios.tcgetattr(self.slave)[3]
        os.close(self.master), os.close(self.slave)
        return code, bool(mode & termios.ECHO) and bool(mode & termios.ICANON)


def main():
    twintone = sys.argv[1]
    work = tempfile.mkdtemp(prefix="twintone-pty-")
    env = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"))
    try:
        lib, moved = os.path.join(work, "lib"), os.path.join(work, "moved")
        for seed, title in enumerate(["Alpha", "Beta", "Gamma"]):
            # B's copy, at the higher bitrate, is kept first and numbered 1.
            for folder, bitrate in (("A", "64k"), ("B", "96k")):
                noise(os.path.join(lib, folder, f"{title}.mp3"), seed + 1, title, bitrate)
        args = [twintone, "-q", "-r", "-f", "-i", "--move-duplicates", moved, lib]

        # Ctrl-C: nothing moves, the terminal is put back.
        s = Session(args, env)
        s.wait_for("Group 1 of 3")
        s.keys("\x03")
        code, restored = s.finish()
        assert code == 130 and restored, (code, restored)
        assert not os.path.exists(moved), "nothing is acted on after Ctrl-C"

        # Alpha: keep A's copy. Beta: A's copy is not a duplicate. Gamma: quit before it.
        s = Session(args, env)
        s.wait_for("Group 1 of 3")
        s.keys("2")
        s.wait_for("[keep]")
        s.keys("\r")
        s.wait_for("Group 2 of 3")
        s.keys("n2")
        s.wait_for("[not a dup]")
        s.keys("\r")
        s.wait_for("Group 3 of 3")
        s.keys("q")
        code, restored = s.finish()
        assert code == 0 and restored, (code, restored)
        left = sorted(os.path.relpath(os.path.join(d, f), work)
                      for d, _, files in os.walk(work) for f in files if f.endswith(".mp3"))
        assert left == ["lib/A/Alpha.mp3", "lib/A/Beta.mp3", "lib/A/Gamma.mp3", "lib/B/Beta.mp3",
                        "lib/B/Gamma.mp3", "moved/B/Alpha.mp3"], left

        def report():
            run = subprocess.run([twintone, "-q", "-r", "-f", "--json", lib], env=env,
                                 capture_output=True, check=True)
            return json.loads(run.stdout)["summary"]
        summary = report()
        assert summary["groups"] == 1 and summary["kept_apart"] == 1, summary
        forget = subprocess.run([twintone, "--forget-distinct"], env=env, capture_output=True)
        assert forget.returncode == 0 and b"forgot 1 pair" in forget.stderr, forget
        summary = report()
        assert summary["groups"] == 2 and "kept_apart" not in summary, summary

        # Standard input that is no terminal is refused before any work.
        refused = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, env=env)
        assert refused.returncode == 2 and b"not one" in refused.stderr, refused
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
