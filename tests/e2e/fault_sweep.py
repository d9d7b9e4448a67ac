#!/usr/bin/env python3
"""Fault sweeps over one whole small run of the real program.

The fixture is a small cache (six entries: a page with a title, a JIS page,
an image of 70000 bytes, a page older than the last run, an EUC page on a
second host, a missing cached file; the second cache folder has no index, so
the run ends on its message) and a profile with a history page, a log,
LAST_FROM and LAST_TIME already present, DIR_TIME on and one domain table
pair; the history page and the log already hold an earlier run. The run is
made once without a fault (the baseline), then again and again with
VELDOR_TEST_FAIL="op:n" (the nth call of that kind fails) and "op:n+" (every
call from the nth on fails), for every kind of the platform layer and every n
up to the number of calls of that kind in a run.

That number is found without help from the program: with "op:n+" every call
from n on fails, so the run differs from the baseline as long as n is at most
the number of calls whose failure shows (the last open, read and write of a
run are those of the profile rewrite, whose failure leaves LAST_TIME
unwritten; the last time stamp is that of the last copy). The smallest n from
which the run equals the baseline is found by bisection; the sweeps go a
margin past it, so that calls whose failure shows nowhere are covered too.

The calls made while the settings are loaded are told apart the same way,
with the switches -! -t, whose settings dump shows every value loaded (the
last key read is the domain table's DIR99, so its failure shows). A read that
fails there is, for the program, a key that is missing, and the run goes on
with the settings that the profile rules give for missing keys: its files may
land elsewhere in the run folder (no OUTDIR: in the program's folder), and
without the section name of [DOS32] DIR the time of the run is stored in a
new section with the empty name ("[]"), which is neither the old nor the new
profile. Such runs are held to the rules that hold for every run (exit,
messages, no temporary file, nothing outside the run folder, the profile
otherwise old or new) and are counted apart.

Every faulted run must:
  - end with exit code 0, by itself (no signal, no timeout), with nothing on
    standard error (the sanitizers report there);
  - print the start message, the end message and the whole summary (console
    output goes through stdout, never through a faulted stream);
  - leave the profile byte for byte as it was or as the baseline left it (old
    with LAST_TIME replaced); a fault while the settings load may also leave
    the old profile with LAST_TIME added under "[]";
  - leave no temporary profile file (VELDOR.INI.new, ZEB_LIB.TMP) anywhere;
  - leave the cache and everything outside its run folder as they were, and,
    for a fault after the settings were loaded, no file or folder that the
    baseline does not have.

Usage: fault_sweep.py --veldor PATH --mkcache PATH [--kinds open,read,...]
                      [--jobs N] [--verbose]
Exit code 0 when every run passed, 1 otherwise (each failure is listed with
the VELDOR_TEST_FAIL value that reproduces it).
"""

import argparse
import concurrent.futures
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading

KINDS = ["open", "read", "write", "mkdir", "rename", "settime", "remove"]
# errno given to a kind; the others fail with EIO.
ERRNO = {"write": "ENOSPC", "mkdir": "EACCES"}
MARGIN = 8        # faults swept this far past the found count
RUN_TIMEOUT = 30  # seconds; a run that takes longer counts as hung
CLOCK = "1998-01-15 10:20:30"

PROFILE = r"""[DOS32]
DIR=DIR
OPTION=OPTION
DOMAIN=DOMAIN
[DIR]
FATNAME=..\cache\
OUTDIR=out
HISTORY=.\HISTORY.HTM
HISTORYSET=3
HISTORYPUT=3
HISTORYDATE=3
LOG=.\LOG.TXT
LAST_FROM=1
LAST_TIME=1997/12/31 23:59

[OPTION]
DOMAIN_EXT=.DOM
IP_ADDRESS=00
ROOTHTML=INDEX.HTM
DOMAIN_SUB=0
CGI_NAME=0
DIR_TIME=1
[DOMAIN]
DOM99=nowhere.invalid
DIR99=NOWHERE
"""
OLD_TIME = b"LAST_TIME=1997/12/31 23:59"
NEW_TIME = b"LAST_TIME=1998/01/15 10:20"

MANIFEST = r"""index 1
rec http://www.example.com/ A1.HTM
rec http://www.example.com/docs/jis.html A2.HTM
rec http://www.example.com/img/logo.gif A3.GIF
rec http://www.example.com/old.htm A4.HTM
index 2
rec http://news.example.org/euc.htm A5.HTM
rec http://www.example.com/gone.html MISSING.HTM
file cache1/A1.HTM 1998-01-02T09:07:00Z <html>\r\n<TITLE>Top\spage</TITLE>\r\n</html>\r\n
file-hex cache1/A2.HTM 1998-01-03T09:08:02Z 3c5449544c453e1b2442467c4b5c386c1b28423c2f5449544c453e0a
file-size cache1/A3.GIF 1998-01-04T10:00:00Z 70000
file cache1/A4.HTM 1997-06-01T00:00:00Z <title>old</title>\n
file-hex cache1/A5.HTM 1998-01-05T00:00:00Z 3c7469746c653ea3c5a3d5a3c33c2f7469746c653e0d0a
"""

# What an earlier run left in the output folder (Shift-JIS, LF line ends).
OLD_HISTORY = (b"<TITLE>History from TORVIK</TITLE>\n<H2>History from TORVIK"
               b"</H2>\n<DL><P>\n</DL>\n<HR><DT><H3>\x95\xcf\x8a\xb7\x8e\x9e"
               b"\x8d\x8f   97/12/31 23:59:00</H3>\n<DL><P>\n"
               b"    <DT><A HREF=\"file:///x/OLD.HTM\">old</A>\n")
OLD_LOG = b"\nVELDOR (MS-DOS,32\x83r\x83b\x83g\x94\xc5)\nan earlier run\n"

START = (b"\nVELDOR (MS-DOS,32\x83r\x83b\x83g\x94\xc5)\n"
         b"\x8f\x88\x97\x9d\x82\xf0\x8aJ\x8en\x82\xb5\x82\xdc\x82\xb7"
         b"\x81B\n\n")
END = (b"\n\x8f\x88\x97\x9d\x82\xf0\x8fI\x97\xb9\x82\xb5\x82\xdc\x82\xb5"
       b"\x82\xbd\x81B\n")
# The two summary messages, numbers left open; nothing may follow them.
SUMMARY = re.compile(
    b"\n\x8f\x88\x97\x9d\x8c\x8b\x89\xca:\n"
    b"  \x83L\x83\x83\x83b\x83V\x83\x85\x83t\x83@\x83C\x83\x8b [ \\d]{5}\n\n"
    b"  \x95\xcf\x8a\xb7\x83t\x83@\x83C\x83\x8b       [ \\d]{5}\n"
    b"    HTML\x83t\x83@\x83C\x83\x8b     [ \\d]{5}\n"
    b"    \x89\xe6\x91\x9c\x83t\x83@\x83C\x83\x8b     [ \\d]{5}\n\n"
    b"  \x83X\x83L\x83b\x83v\x83t\x83@\x83C\x83\x8b   [ \\d]{5}\n"
    b"    \x91O\x89\xf1\x8e\xc0\x8ds\x88\xc8\x91O     [ \\d]{5}\n"
    b"    \x83t\x83@\x83C\x83\x8b\x82\xc8\x82\xb5     [ \\d]{5}\n"
    b"    http \x88\xc8\x8aO        [ \\d]{5}\n"
    b"    CGI \x93\x99           [ \\d]{5}\n\n\\Z")

TEMP_NAMES = (b"VELDOR.INI.new", b"ZEB_LIB.TMP")
# Files whose baseline time is before this were stamped with a cached time,
# which the comparison keeps; the others carry the real time.
STAMPED_BEFORE = 946684800  # 2000-01-01


def crlf(data):
    return data.replace(b"\n", b"\r\n")


OLD_PROFILE = crlf(PROFILE.encode("ascii"))
NEW_PROFILE = OLD_PROFILE.replace(OLD_TIME, NEW_TIME)
# LAST_TIME stored after a failed read of [DOS32] DIR: section "".
EMPTY_SECTION_PROFILE = OLD_PROFILE + b"\r\n[]\r\n" + NEW_TIME + b"\r\n"


def root_names(run_dir):
    """The run folder in the program's path form and in host form."""
    host = os.fsencode(run_dir)
    return (host.replace(b"/", b"\\"), host)


def normalise(data, names):
    for n in names:
        data = data.replace(n, b"{ROOT}")
    return data


def snapshot(root, names=()):
    """Every entry below root: folders, and files with size, digest and
    mtime. Each text of names is replaced by "{ROOT}" before a file is
    digested, so that runs in different folders compare."""
    state = {}
    broot = os.fsencode(root)
    for d, dirs, files in os.walk(broot):
        rel = os.path.relpath(d, broot)
        for x in dirs:
            state[os.path.normpath(os.path.join(rel, x))] = ("dir",)
        for x in files:
            p = os.path.join(d, x)
            st = os.lstat(p)
            data = b""
            if os.path.isfile(p) and os.access(p, os.R_OK):
                with open(p, "rb") as f:
                    data = normalise(f.read(), names)
            state[os.path.normpath(os.path.join(rel, x))] = (
                "file", len(data), hashlib.sha1(data).hexdigest(),
                int(st.st_mtime))
    return state


def comparable(state):
    out = {}
    for k, v in state.items():
        if v[0] == "file" and v[3] >= STAMPED_BEFORE:
            v = v[:3]
        out[k] = v
    return out


class Fixture:
    """A template run folder (profile, cache, earlier output) copied for
    every run, and the folder that puts the program on PATH under its bare
    name, so that it finds the profile in its run folder."""

    def __init__(self, veldor, mkcache, manifest=MANIFEST,
                 profile=OLD_PROFILE):
        self.base = os.path.realpath(tempfile.mkdtemp(prefix="veldor-faults-"))
        self.bin = os.path.join(self.base, "bin")
        os.mkdir(self.bin)
        shutil.copy2(veldor, os.path.join(self.bin, "veldor"))
        self.template = os.path.join(self.base, "template")
        os.mkdir(self.template)
        self.profile = profile
        with open(os.path.join(self.template, "VELDOR.INI"), "wb") as f:
            f.write(profile)
        man = os.path.join(self.base, "manifest")
        with open(man, "w", encoding="latin-1") as f:
            f.write(manifest)
        subprocess.run([mkcache, man, os.path.join(self.template, "cache")],
                       check=True)
        out = os.path.join(self.template, "out")
        os.mkdir(out)
        with open(os.path.join(out, "HISTORY.HTM"), "wb") as f:
            f.write(crlf(OLD_HISTORY))
        with open(os.path.join(out, "LOG.TXT"), "wb") as f:
            f.write(crlf(OLD_LOG))
        self.cache_state = snapshot(os.path.join(self.template, "cache"))
        self.template_state = snapshot(self.template)
        self.count = 0
        self.lock = threading.Lock()

    def new_run_dir(self):
        """A copy of the template, one level below a folder of its own, so
        that a file written just above the run folder is seen."""
        with self.lock:
            self.count += 1
            n = self.count
        d = os.path.join(self.base, "run%d" % n, "w")
        shutil.copytree(self.template, d, symlinks=True)
        return d

    def env(self, fail=None):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("LC_", "VELDOR_"))}
        env.update({"LANG": "C", "TZ": "UTC", "VELDOR_TEST_CLOCK": CLOCK,
                    "PATH": self.bin + os.pathsep +
                    env.get("PATH", "/usr/bin")})
        if fail:
            env["VELDOR_TEST_FAIL"] = fail
        return env

    def intact(self):
        """What is wrong with the fixture's own folders after the runs."""
        bad = []
        left = sorted(set(os.listdir(self.base)) -
                      {"bin", "template", "manifest"})
        if left:
            bad.append("left in the fixture folder: %s" % left)
        if snapshot(self.template) != self.template_state:
            bad.append("the template folder was changed")
        return bad

    def cleanup(self):
        shutil.rmtree(self.base, ignore_errors=True)


class Result:
    """One run: exit, console output and the run folder afterwards."""

    def same_as(self, other):
        return (self.stdout == other.stdout and self.profile == other.profile
                and comparable(self.state) == comparable(other.state))


def run_once(fx, fail=None, args=()):
    d = fx.new_run_dir()
    r = Result()
    r.fail = fail
    r.timed_out = False
    try:
        proc = subprocess.run(["veldor"] + list(args), cwd=d,
                              env=fx.env(fail), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=RUN_TIMEOUT)
        r.rc, r.stdout, r.stderr = proc.returncode, proc.stdout, proc.stderr
    except subprocess.TimeoutExpired as e:
        r.timed_out = True
        r.rc, r.stdout, r.stderr = None, e.stdout or b"", e.stderr or b""
    r.stdout = normalise(r.stdout, root_names(d))
    with open(os.path.join(d, "VELDOR.INI"), "rb") as f:
        r.profile = f.read()
    state = snapshot(d, root_names(d))
    r.state = {k: v for k, v in state.items()
               if not (k == b"cache" or k.startswith(b"cache/"))}
    r.cache_changed = snapshot(os.path.join(d, "cache")) != fx.cache_state
    above = os.path.dirname(d)
    r.beside = sorted(set(os.listdir(above)) - {"w"})
    shutil.rmtree(above, ignore_errors=True)
    return r


def check(r, baseline, fx, load_phase):
    """The broken invariants of one faulted run (empty: it passed)."""
    bad = []
    if r.timed_out:
        bad.append("no end within %d s" % RUN_TIMEOUT)
    elif r.rc != 0:
        bad.append("exit code %s" % r.rc)
    if r.stderr:
        bad.append("stderr: " + r.stderr.decode("utf-8", "replace")[:3000])
    if not r.stdout.startswith(START):
        bad.append("no start message")
    if END not in r.stdout:
        bad.append("no end message")
    else:
        tail = r.stdout[r.stdout.rindex(END) + len(END):]
        if not SUMMARY.match(tail):
            bad.append("no whole summary after the end message: %r" % tail)
    allowed = [fx.profile, baseline.profile]
    if load_phase:
        allowed.append(EMPTY_SECTION_PROFILE)
    if r.profile not in allowed:
        bad.append("profile is neither old nor new: %r" % r.profile)
    if r.cache_changed:
        bad.append("the cache was changed")
    if r.beside:
        bad.append("written beside the run folder: %s" % r.beside)
    for k, v in sorted(r.state.items()):
        name = k.decode("latin-1")
        if os.path.basename(k) in TEMP_NAMES:
            bad.append("temporary file left: %s" % name)
        elif load_phase:
            continue
        elif k not in baseline.state:
            bad.append("unexpected %s: %s" % (v[0], name))
        elif v[0] != baseline.state[k][0]:
            bad.append("%s became a %s" % (name, v[0]))
    return bad


def fail_spec(kind, n, persist):
    fault = "%s:%d%s" % (kind, n, "+" if persist else "")
    if kind in ERRNO:
        fault += ":" + ERRNO[kind]
    return fault


def first_unchanged(kind, same, limit=4096):
    """The smallest n for which same("kind:n+") holds, assuming that it holds
    from there on (failing every call from n on changes nothing only when no
    call from n on is one whose failure shows)."""
    lo, hi = 1, 1
    while hi <= limit and not same(fail_spec(kind, hi, True)):
        lo, hi = hi + 1, hi * 2
    if hi > limit:
        return limit
    if same(fail_spec(kind, lo, True)):
        return lo
    while hi - lo > 1:  # same(lo) fails, same(hi) holds
        mid = (lo + hi) // 2
        if same(fail_spec(kind, mid, True)):
            hi = mid
        else:
            lo = mid
    return hi


def dump_part(r):
    """The console output before the start message: the settings dump."""
    i = r.stdout.find(START)
    return r.stdout if i < 0 else r.stdout[:i]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--veldor", required=True)
    ap.add_argument("--mkcache", required=True)
    ap.add_argument("--kinds", default=",".join(KINDS))
    ap.add_argument("--jobs", type=int, default=max(2, os.cpu_count() or 2))
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()
    kinds = [k for k in args.kinds.split(",") if k]

    fx = Fixture(args.veldor, args.mkcache)
    failures = []
    try:
        baseline = run_once(fx)
        bad = check(baseline, baseline, fx, False)
        if baseline.profile != NEW_PROFILE:
            bad.append("LAST_TIME not stored: %r" % baseline.profile)
        dump_base = dump_part(run_once(fx, args=["-!", "-t"]))
        if b"DOM00=nowhere.invalid" not in dump_base:
            bad.append("no settings dump with the domain table at -! -t")
        if bad:
            print("FAIL baseline run:\n  " + "\n  ".join(bad))
            return 1

        jobs = []  # (fault, load_phase)
        for kind in kinds:
            count = first_unchanged(
                kind, lambda s: run_once(fx, s).same_as(baseline)) - 1
            loading = first_unchanged(
                kind, lambda s: dump_part(run_once(fx, s, ["-!", "-t"])) ==
                dump_base) - 1
            print("%-8s %4d calls whose failure shows, %3d of them while the"
                  " settings load; sweeping 1..%d, single and persistent"
                  % (kind, count, loading, count + MARGIN))
            for n in range(1, count + MARGIN + 1):
                for persist in (False, True):
                    jobs.append((fail_spec(kind, n, persist), n <= loading))

        def one(job):
            fault, load_phase = job
            r = run_once(fx, fault)
            return fault, load_phase, r, check(r, baseline, fx, load_phase)

        changed = empty_section = 0
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            for fault, load_phase, r, bad in pool.map(one, jobs):
                same = r.same_as(baseline)
                changed += not same
                if r.profile == EMPTY_SECTION_PROFILE:
                    empty_section += 1
                    if args.verbose:
                        print("NOTE %s: LAST_TIME stored under []" % fault)
                if bad:
                    failures.append((fault, bad))
                if args.verbose:
                    print("%-22s %s%s" % (
                        fault, "load " if load_phase else "",
                        "; ".join(bad) if bad else
                        ("ok, as the baseline" if same else "ok")))
        bad = fx.intact()
        if bad:
            failures.append(("(all runs)", bad))
        print("%d faulted runs: %d differ from the baseline, %d stored"
              " LAST_TIME under [] (a read of [DOS32] DIR failed), %d broke"
              " an invariant" % (len(jobs), changed, empty_section,
                                 len(failures)))
    finally:
        fx.cleanup()

    for fault, bad in failures:
        print("FAIL VELDOR_TEST_FAIL=%s" % fault)
        for b in bad:
            print("  " + b)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
