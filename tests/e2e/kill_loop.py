#!/usr/bin/env python3
"""The real program killed at random moments, and the terminal after a signal.

1. Kill loop. A cache of a few hundred small pages and one large image (so
   that a run takes a while) is converted again and again, each run in a
   fresh folder, each killed at a moment drawn from a seeded random source and
   spread over the length of an undisturbed run: mostly with SIGKILL, some
   with SIGTERM and SIGINT. After each kill the profile must be whole: byte
   for byte the old one or the new one (LAST_TIME replaced). The rewrite of
   the profile goes through "VELDOR.INI.new" beside it, which is renamed over
   the profile when complete (lib/zeb_con.cpp, profile_put), so a kill between
   the creation and the rename leaves that file behind. That is accepted only
   because the next run replaces it: after every kill the program is run once
   more, undisturbed, in the same folder, and then the profile must be the new
   one, no temporary file may be left, and every copied file must equal the
   undisturbed run's (a kill leaves a part-copied file, which the next run
   copies anew, since LAST_TIME is stored only after the last copy). Bounded
   by a count of runs and a time limit.

2. A stale "VELDOR.INI.new" (what such a kill leaves) before a normal run: the
   run replaces it, the profile is the new one, nothing is left.

3. The terminal. With standard input a pseudo-terminal and -k, the program
   ends in its key wait, with echo and line mode off. SIGTERM and SIGINT
   there end it (by the signal), and the terminal attributes must be those of
   before. SIGKILL cannot be caught: the attributes stay as the key wait set
   them. That is why the program changes the terminal only around a single
   key check or read (platform/plat_posix.cpp, tty_raw and tty_restore),
   never for a whole run, so a SIGKILL outside those moments leaves the
   terminal as it was.

Usage: kill_loop.py --veldor PATH --mkcache PATH [--runs N] [--seconds S]
                    [--seed N] [--verbose]
"""

import argparse
import os
import pty
import random
import shutil
import signal
import subprocess
import sys
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fault_sweep as fs  # noqa: E402  (shared fixture helpers)

PAGES = 300
IMAGE_SIZE = 8 << 20
# A long last section that no key lookup reaches (each stops at the header
# before it) but that the rewrite of the profile copies line by line, so that
# the rewrite lasts long enough to be hit by a signal.
NOTES = b"[NOTES]\r\n" + b"".join(
    b";%05d kept by the rewrite line by line, untouched by key lookups\r\n" % i
    for i in range(40000))
OLD_PROFILE = fs.OLD_PROFILE + NOTES
NEW_PROFILE = fs.NEW_PROFILE + NOTES


def manifest():
    lines = ["index 1"]
    for i in range(PAGES):
        lines.append("rec http://www.example.com/p/page%03d.htm P%03d.HTM"
                     % (i, i))
    lines.append("rec http://www.example.com/img/big.gif BIG.GIF")
    lines.append("index 2")
    for i in range(PAGES):
        lines.append("file cache1/P%03d.HTM 1998-01-02T09:07:00Z "
                     "<title>Page\\s%03d</title>\\nline\\stwo\\n" % (i, i))
    lines.append("file-size cache1/BIG.GIF 1998-01-04T10:00:00Z %d"
                 % IMAGE_SIZE)
    return "\n".join(lines) + "\n"


class KillFixture(fs.Fixture):
    """The fixture of the fault sweeps with the big cache, which every run
    folder shares through a link instead of a copy."""

    def __init__(self, veldor, mkcache):
        fs.Fixture.__init__(self, veldor, mkcache, manifest=manifest(),
                            profile=OLD_PROFILE)

    def new_run_dir(self):
        with self.lock:
            self.count += 1
            n = self.count
        d = os.path.join(self.base, "run%d" % n, "w")
        os.makedirs(d)
        shutil.copy2(os.path.join(self.template, "VELDOR.INI"), d)
        shutil.copytree(os.path.join(self.template, "out"),
                        os.path.join(d, "out"))
        os.symlink(os.path.join(self.template, "cache"),
                   os.path.join(d, "cache"))
        return d


def start(fx, d, args=(), stdin=subprocess.DEVNULL, killed=False):
    env = fx.env()
    if killed:
        # A signal that comes while the leak checker of a sanitizer build
        # stops the process at its exit makes the checker's helper report
        # that it lost the process; a killed process has no leaks to check.
        opts = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (opts + ":" if opts else "") + "detect_leaks=0"
    # A session of its own, so that one that does not end can be killed
    # whole.
    return subprocess.Popen(["veldor"] + list(args), cwd=d, env=env,
                            stdin=stdin, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, start_new_session=True)


def finish(p, timeout):
    """Waits for p; one that does not end in time is killed. The exit code,
    output and error output, with None as exit code for a killed one."""
    try:
        out, err = p.communicate(timeout=timeout)
        return p.returncode, out, err
    except subprocess.TimeoutExpired:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except OSError:
            pass
        out, err = p.communicate()
        return None, out, err


def run_to_end(fx, d):
    rc, out, err = finish(start(fx, d), 120)
    return rc, fs.normalise(out, fs.root_names(d)), err


def mirror(d):
    """The copied files: everything in out\\ but the log and history page."""
    state = fs.snapshot(os.path.join(d, "out"), fs.root_names(d))
    return {k: v for k, v in state.items()
            if k not in (b"LOG.TXT", b"HISTORY.HTM")}


def read_profile(d):
    with open(os.path.join(d, "VELDOR.INI"), "rb") as f:
        return f.read()


def describe(profile):
    """A profile that is neither old nor new, told briefly (it is long)."""
    n = 0
    while n < min(len(profile), len(OLD_PROFILE)) and \
            profile[n] == OLD_PROFILE[n]:
        n += 1
    return "%d bytes, differing from the old one at byte %d: %r" % (
        len(profile), n, profile[max(0, n - 40):n + 40])


def temp_files(d):
    found = []
    for root, _, files in os.walk(d):
        for x in files:
            if x.encode() in fs.TEMP_NAMES:
                found.append(os.path.relpath(os.path.join(root, x), d))
    return found


def kill_loop(fx, args, rng, failures):
    # The length of an undisturbed run: the middle one of three.
    lengths = []
    for _ in range(3):
        d = fx.new_run_dir()
        t0 = time.monotonic()
        rc, out, err = run_to_end(fx, d)
        lengths.append(time.monotonic() - t0)
        if len(lengths) < 3:
            shutil.rmtree(os.path.dirname(d), ignore_errors=True)
    length = sorted(lengths)[1]
    base_mirror = mirror(d)
    base_files = [k for k, v in base_mirror.items() if v[0] == "file"]
    if rc != 0 or err or read_profile(d) != NEW_PROFILE or \
            fs.END not in out:
        failures.append("undisturbed run: rc %s, stderr %r" % (rc, err[:500]))
        return
    shutil.rmtree(os.path.dirname(d), ignore_errors=True)
    print("undisturbed run: %.2f s, %d files copied" % (length,
                                                         len(base_files)))

    stats = {"ended before the signal": 0, "before the first copy": 0,
             "while copying": 0, "after the copies": 0,
             "in the profile rewrite": 0, "after the profile rewrite": 0}
    deadline = time.monotonic() + args.seconds
    runs = 0
    while runs < args.runs and time.monotonic() < deadline:
        runs += 1
        d = fx.new_run_dir()
        delay = rng.uniform(0.0, length * 1.1)
        sig = rng.choice([signal.SIGKILL] * 6 + [signal.SIGTERM,
                                                 signal.SIGINT])
        p = start(fx, d, killed=True)
        time.sleep(delay)
        p.send_signal(sig)
        rc, out, err = finish(p, 60)
        label = "run %d (%s after %.3f s)" % (runs, signal.Signals(sig).name,
                                              delay)
        profile = read_profile(d)
        left = temp_files(d)
        # Where the signal came, told by what the run left (the console
        # output is a pipe and so is written in blocks).
        copied = {k: v for k, v in mirror(d).items() if v[0] == "file"}
        done = sum(1 for k, v in copied.items() if base_mirror.get(k) == v)
        if rc == 0:
            stats["ended before the signal"] += 1
        elif rc != -sig:
            failures.append("%s: exit %s, stderr %r" % (
                label, "none (did not end)" if rc is None else rc, err[:500]))
        elif profile == NEW_PROFILE:
            stats["after the profile rewrite"] += 1
        elif left:
            stats["in the profile rewrite"] += 1
        elif done == len(base_files):
            stats["after the copies"] += 1
        elif copied:
            stats["while copying"] += 1
        else:
            stats["before the first copy"] += 1
        if err and rc in (0, -sig):
            failures.append("%s: stderr %r" % (label, err[:500]))
        if profile not in (OLD_PROFILE, NEW_PROFILE):
            failures.append("%s: profile neither old nor new: %s"
                            % (label, describe(profile)))
        if left:
            if profile != OLD_PROFILE:
                failures.append("%s: %s left beside a rewritten profile"
                                % (label, left))
        # The next undisturbed run in the same folder sets everything right.
        rc, out, err = run_to_end(fx, d)
        if rc != 0 or err or fs.END not in out:
            failures.append("%s, next run: rc %s, stderr %r"
                            % (label, rc, err[:500]))
        if read_profile(d) != NEW_PROFILE:
            failures.append("%s, next run: profile %s"
                            % (label, describe(read_profile(d))))
        if temp_files(d):
            failures.append("%s, next run: %s left" % (label, temp_files(d)))
        if mirror(d) != base_mirror:
            diff = sorted(k.decode("latin-1") for k in
                          set(mirror(d).items()) ^ set(base_mirror.items()))
            failures.append("%s, next run: copies differ: %s"
                            % (label, diff[:10]))
        beside = sorted(set(os.listdir(os.path.dirname(d))) - {"w"})
        if beside:
            failures.append("%s: written beside the run folder: %s"
                            % (label, beside))
        if args.verbose:
            print("%s: rc %s, profile %s%s" % (
                label, rc,
                "new" if profile == NEW_PROFILE else "old",
                ", temporary file left" if left else ""))
        shutil.rmtree(os.path.dirname(d), ignore_errors=True)
    print("%d killed runs: %s" % (runs, ", ".join(
        "%s %d" % (k, v) for k, v in stats.items())))
    if stats["while copying"] == 0:
        failures.append("no signal came during a run: the runs are too short"
                        " to test anything")


def stale_temp(fx, failures):
    d = fx.new_run_dir()
    with open(os.path.join(d, "VELDOR.INI.new"), "wb") as f:
        f.write(b"[DIR]\r\nLAST_TIME=half writ")
    rc, out, err = run_to_end(fx, d)
    bad = []
    if rc != 0 or err:
        bad.append("rc %s, stderr %r" % (rc, err))
    if read_profile(d) != NEW_PROFILE:
        bad.append("profile %s" % describe(read_profile(d)))
    if temp_files(d):
        bad.append("%s still there" % temp_files(d))
    shutil.rmtree(os.path.dirname(d), ignore_errors=True)
    failures.extend("stale temporary file: " + b for b in bad)
    if not bad:
        print("stale VELDOR.INI.new: replaced by the run")


def terminal(fx, sig, failures):
    """The program in its key wait on a pseudo-terminal, ended by sig."""
    name = signal.Signals(sig).name
    d = fx.new_run_dir()
    # Only the key wait matters here: a cache of nothing makes the run short.
    with open(os.path.join(d, "VELDOR.INI"), "wb") as f:
        f.write(OLD_PROFILE.replace(b"FATNAME=..\\cache\\",
                                       b"FATNAME=.\\none\\"))
    try:
        master, slave = pty.openpty()
    except OSError as e:
        print("SKIP %s in the key wait: no pseudo-terminal (%s)" % (name, e))
        shutil.rmtree(os.path.dirname(d), ignore_errors=True)
        return
    try:
        before = termios.tcgetattr(slave)
        p = start(fx, d, ["-k"], stdin=slave, killed=True)
        # Wait until the key wait has turned off echo and line mode.
        raw = False
        limit = time.monotonic() + 30
        while time.monotonic() < limit and p.poll() is None:
            lflag = termios.tcgetattr(slave)[3]
            if not lflag & (termios.ECHO | termios.ICANON):
                raw = True
                break
            time.sleep(0.01)
        if not raw:
            finish(p, 0)
            failures.append("%s: the program never reached its key wait"
                            % name)
            return
        p.send_signal(sig)
        rc, out, err = finish(p, 30)
        after = termios.tcgetattr(slave)
        if rc != -sig:
            failures.append("%s in the key wait: exit %s" % (
                name, "none (did not end)" if rc is None else rc))
        if err:
            failures.append("%s in the key wait: stderr %r" % (name, err))
        if sig == signal.SIGKILL:
            state = "left as the key wait set it" if after != before else \
                "as before"
            print("SIGKILL in the key wait: terminal %s (cannot be caught)"
                  % state)
        elif after != before:
            failures.append("%s in the key wait: terminal not restored: %r"
                            " instead of %r" % (name, after, before))
        else:
            print("%s in the key wait: terminal restored" % name)
    finally:
        os.close(master)
        os.close(slave)
        shutil.rmtree(os.path.dirname(d), ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--veldor", required=True)
    ap.add_argument("--mkcache", required=True)
    ap.add_argument("--runs", type=int, default=40)
    ap.add_argument("--seconds", type=float, default=45.0)
    ap.add_argument("--seed", type=int, default=1108)
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()

    fx = KillFixture(args.veldor, args.mkcache)
    failures = []
    try:
        kill_loop(fx, args, random.Random(args.seed), failures)
        stale_temp(fx, failures)
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGKILL):
            terminal(fx, sig, failures)
        failures += fx.intact()
    finally:
        fx.cleanup()
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
