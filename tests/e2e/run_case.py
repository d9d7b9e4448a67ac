#!/usr/bin/env python3
"""Runs one end-to-end case of the real program.

A case is a folder holding case.txt, made of sections that start with a line
"%NAME [options]":

  %env VAR=VALUE ...      environment for the run (TZ defaults to UTC,
                          VELDOR_TEST_CLOCK to "1998-01-15 10:20:30")
  %args ARG ...           the command line (shell words)
  %mkdir DIR ...          folders made in the run folder before the run
  %invoke path            start the program as .bin/veldor instead of by its
                          bare name (its profile is then .bin/VELDOR.INI)
  %profile [PATH]         VELDOR.INI (or PATH), written with CR LF line ends
  %manifest               the cache, written by mkcache into ./cache
  %setup                  shell commands run in the run folder before the run
  %stdout                 the expected console output
  %log [path]             the expected log (default LOG.TXT), CR LF on disk
  %profile-after [PATH]   the expected VELDOR.INI (or PATH) after the run,
                          CR LF on disk
  %mtime PATH=TIME ...    files or folders whose modification time must be
                          TIME (YYYY-MM-DDTHH:MM:SSZ)
  %file PATH [crlf] [mtime=YYYY-MM-DDTHH:MM:SSZ] [hex]
                          a file the run must leave, with exactly this content
  %nofile PATH ...        files or folders the run must not leave
  %tree                   every file below the run folder (cache/ and
                          VELDOR.INI aside), one per line, sorted
  %repeat N               run the program N times (default 1); the expected
                          output is that of the last run

A section's body is every line up to the next section, empty lines included:
an expected text that ends in an empty line shows it as the section's last
line. The run folder is a fresh temporary folder; the program is started by its bare
name through PATH with the run folder as current directory, standard input not
a terminal and LANG=C. Texts are written here in UTF-8 and compared as the
program's Shift-JIS (CP932); "{ROOT}" stands for the run folder in the
program's path form (backslashes), "{HROOT}" in host form. In paths and file
contents "\\xHH" stands for a byte. Lines starting with "#" before the first
section are comments.
"""

import argparse
import calendar
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time


def parse_case(text):
    sections = []
    current = None
    for line in text.split("\n"):
        if line.startswith("%") and not line.startswith("%%"):
            words = line[1:].split()
            current = {"name": words[0], "opts": words[1:], "body": []}
            sections.append(current)
        elif current is not None:
            current["body"].append(line[1:] if line.startswith("%%") else line)
        # lines before the first section are comments
    return sections


def unescape_bytes(text):
    """UTF-8 text with \\xHH escapes -> the program's bytes (CP932)."""
    out = bytearray()
    i = 0
    while i < len(text):
        m = re.match(r"\\x([0-9A-Fa-f]{2})", text[i:])
        if m:
            out.append(int(m.group(1), 16))
            i += 4
            continue
        out += text[i].encode("cp932")
        i += 1
    return bytes(out)


def body_bytes(section, root, hroot, crlf=False):
    text = "\n".join(section["body"])
    if section["body"]:
        text += "\n"
    text = text.replace("{ROOT}", root).replace("{HROOT}", hroot)
    data = unescape_bytes(text)
    if crlf:
        data = data.replace(b"\n", b"\r\n")
    return data


def show(data):
    try:
        return data.decode("cp932")
    except UnicodeDecodeError:
        return repr(data)


def diff(label, expected, actual):
    import difflib
    lines = difflib.unified_diff(
        show(expected).splitlines(True), show(actual).splitlines(True),
        "expected " + label, "actual " + label)
    return "".join(lines) or ("bytes differ: %r != %r" % (expected, actual))


def parse_mtime(text):
    return calendar.timegm(time.strptime(text, "%Y-%m-%dT%H:%M:%SZ"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--veldor", required=True)
    ap.add_argument("--mkcache", required=True)
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("case")
    args = ap.parse_args()

    with open(os.path.join(args.case, "case.txt"), encoding="utf-8") as f:
        text = f.read()
        # the file's own last line end is not part of the last section
        sections = parse_case(text[:-1] if text.endswith("\n") else text)

    run_dir = tempfile.mkdtemp(prefix="veldor-e2e-")
    run_dir = os.path.realpath(run_dir)
    root = run_dir.replace("/", "\\")
    bin_dir = os.path.join(run_dir, ".bin")
    os.mkdir(bin_dir)
    shutil.copy2(args.veldor, os.path.join(bin_dir, "veldor"))

    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("LC_", "VELDOR_"))}
    env.update({"LANG": "C", "TZ": "UTC",
                "VELDOR_TEST_CLOCK": "1998-01-15 10:20:30",
                "PATH": bin_dir + os.pathsep + env.get("PATH", "/usr/bin")})
    argv = ["veldor"]
    repeat = 1
    failures = []

    for s in sections:
        name = s["name"]
        if name == "env":
            for word in shlex.split(" ".join(s["opts"])):
                k, _, v = word.partition("=")
                env[k] = v
        elif name == "args":
            argv += shlex.split(" ".join(s["opts"]))
        elif name == "mkdir":
            for d in s["opts"]:
                os.makedirs(os.path.join(run_dir, d), exist_ok=True)
        elif name == "repeat":
            repeat = int(s["opts"][0])
        elif name == "invoke":
            argv[0] = os.path.join(".bin", "veldor")
        elif name == "profile":
            target = s["opts"][0] if s["opts"] else "VELDOR.INI"
            with open(os.path.join(run_dir, target), "wb") as f:
                f.write(body_bytes(s, root, run_dir, crlf=True))
        elif name == "manifest":
            path = os.path.join(run_dir, ".manifest")
            with open(path, "wb") as f:
                f.write(body_bytes(s, root, run_dir))
            subprocess.run([args.mkcache, path, os.path.join(run_dir, "cache")],
                           check=True)
        elif name == "setup":
            subprocess.run(["sh", "-ec", "\n".join(s["body"])], cwd=run_dir,
                           check=True)

    for _ in range(repeat):
        proc = subprocess.run(argv, cwd=run_dir, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
    if args.keep:
        with open(os.path.join(run_dir, ".stdout"), "wb") as f:
            f.write(proc.stdout)
    if proc.returncode != 0:
        failures.append("exit code %d" % proc.returncode)
    if proc.stderr:
        failures.append("stderr: " + proc.stderr.decode("utf-8", "replace"))

    def read(path):
        try:
            with open(path, "rb") as f:
                return f.read()
        except OSError:
            return None

    for s in sections:
        name = s["name"]
        if name == "stdout":
            want = body_bytes(s, root, run_dir)
            if proc.stdout != want:
                failures.append(diff("stdout", want, proc.stdout))
        elif name == "log":
            path = s["opts"][0] if s["opts"] else "LOG.TXT"
            want = body_bytes(s, root, run_dir, crlf=True)
            got = read(os.path.join(run_dir, path))
            if got != want:
                failures.append(diff(path, want, got or b""))
        elif name == "profile-after":
            want = body_bytes(s, root, run_dir, crlf=True)
            target = s["opts"][0] if s["opts"] else "VELDOR.INI"
            got = read(os.path.join(run_dir, target))
            if got != want:
                failures.append(diff(target, want, got or b""))
        elif name == "mtime":
            for word in s["opts"]:
                p, _, t = word.rpartition("=")
                full = os.path.join(os.fsencode(run_dir), unescape_bytes(p))
                try:
                    m = int(os.stat(full).st_mtime)
                except OSError:
                    failures.append("missing " + p)
                    continue
                if m != parse_mtime(t):
                    failures.append("%s: mtime %s, expected %s" % (p, time.strftime(
                        "%Y-%m-%dT%H:%M:%SZ", time.gmtime(m)), t))
        elif name == "file":
            path = unescape_bytes(s["opts"][0])
            full = os.path.join(os.fsencode(run_dir), path)
            opts = s["opts"][1:]
            if "hex" in opts:
                want = bytes.fromhex("".join(s["body"]))
            else:
                want = body_bytes(s, root, run_dir, crlf="crlf" in opts)
            got = read(full)
            if got is None:
                failures.append("missing file " + show(path))
                continue
            if got != want:
                failures.append(diff(show(path), want, got))
            for o in opts:
                if o.startswith("mtime="):
                    m = int(os.stat(full).st_mtime)
                    if m != parse_mtime(o[6:]):
                        failures.append("%s: mtime %s, expected %s" % (
                            show(path), time.strftime(
                                "%Y-%m-%dT%H:%M:%SZ", time.gmtime(m)), o[6:]))
        elif name == "nofile":
            for p in s["opts"]:
                full = os.path.join(os.fsencode(run_dir), unescape_bytes(p))
                if os.path.lexists(full):
                    failures.append("unexpected " + p)
        elif name == "tree":
            want = sorted(unescape_bytes(line) for line in s["body"] if line)
            got = []
            base = os.fsencode(run_dir)
            for d, dirs, files in os.walk(base):
                rel = os.path.relpath(d, base)
                if rel == b".":
                    dirs[:] = [x for x in dirs if x not in (b"cache", b".bin")]
                for x in files:
                    p = os.path.normpath(os.path.join(rel, x))
                    if p not in (b"VELDOR.INI", b".manifest", b".stdout"):
                        got.append(p)
            got.sort()
            if got != want:
                failures.append("tree differs:\n  expected %s\n  actual   %s" % (
                    [show(x) for x in want], [show(x) for x in got]))

    if failures:
        print("FAIL %s (run folder %s)" % (args.case, run_dir))
        for f in failures:
            print(f)
        sys.exit(1)
    if not args.keep:
        shutil.rmtree(run_dir, ignore_errors=True)
    print("ok %s" % os.path.basename(os.path.normpath(args.case)))


if __name__ == "__main__":
    main()
