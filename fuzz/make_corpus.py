#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

    fuzz/make_corpus.py MKCACHE

MKCACHE is the built fixture tool (build/mkcache). The seeds are small and
meaningful: each shows one rule of the input it feeds. Run it by hand when a
seed is to be added; the fuzz run never writes into fuzz/corpus/. Seeds that
reproduce a finding are added by hand under a name beginning with "bug-"
and are left alone here.
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
ROOT = os.path.dirname(HERE)

INDEX_FILES = ["cache1/mm256.dat", "cache1/mm2048.dat", "cache2/mm256.dat",
               "cache2/mm2048.dat", "cache3/mm256.dat", "cache3/mm2048.dat",
               "cache4/mm256.dat", "cache4/mm2048.dat"]


def clear(target):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if not name.startswith("bug-"):
            os.remove(os.path.join(folder, name))
    return folder


def write(folder, name, data):
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- cache_index: the index files of a manifest, back to back ----------------

MANIFESTS = {
    # Two records in each of the eight files.
    "all-eight": "\n".join(
        "index %d\nrec http://www.example.co.jp/dir%d/a.html A%dAAAAA.HTM\n"
        "rec http://news.example.com/img/%d.gif B%dBBBBB.GIF" % (n, n, n, n, n)
        for n in range(1, 9)),
    # Three records counted; a 300-byte URL in a 2048-byte record.
    "long-url": "index 1\nrec http://a.example.com/1.htm F1.HTM\n"
                "rec http://a.example.com/2.htm F2.HTM\n"
                "rec http://a.example.com/3.htm F3.HTM\n"
                "index 2\nrec http://b.example.com/" + "x" * 277 + ".htm LONG.HTM\n",
    # A URL without its NUL, and a file name running to the record's end.
    "open-texts": "index 1\nrec-open http://open.example.com/\n"
                  "rec-open2 http://b.example.com/ NAME\n"
                  "index 2\nrec-open http://open2.example.com/path/\n",
    # A negative count: records are read until the file ends mid-record.
    "negative-count": "index 1 count=-2\nrec http://a.example.com/ A.HTM\n"
                      "rec http://b.example.com/ B.HTM\ntruncate 100\n",
    # A count of 0: the first record is read all the same.
    "zero-count": "index 1 count=0\nrec http://zero.example.com/ Z.HTM\n"
                  "index 2\nrec http://next.example.com/ N.HTM\n",
    # More records counted than the file holds.
    "short-file": "index 1 count=5\nrec http://a.example.com/ A.HTM\n",
    # A header shorter than 1024 bytes.
    "short-header": "index 1 header=100\n",
    # A record of raw bytes: high bytes, no NUL until late.
    "raw-record": "index 1\nrec-raw " + "00" * 112 + "8182e0fcff5c2f2e2e" * 16 + "\n",
}


def cache_index(mkcache):
    folder = clear("cache_index")
    for name, text in MANIFESTS.items():
        work = tempfile.mkdtemp()
        try:
            manifest = os.path.join(work, "m")
            with open(manifest, "w") as f:
                f.write(text + "\n")
            subprocess.run([mkcache, manifest, os.path.join(work, "c")], check=True)
            data = b""
            for index in INDEX_FILES:
                path = os.path.join(work, "c", index)
                if not os.path.exists(path):
                    break
                with open(path, "rb") as f:
                    data += f.read()
            write(folder, name, data)
        finally:
            shutil.rmtree(work)
    # The bundled sample cache.
    work = tempfile.mkdtemp()
    try:
        subprocess.run([mkcache, os.path.join(ROOT, "sample", "sample.manifest"),
                        os.path.join(work, "c")], check=True,
                       stdout=subprocess.DEVNULL)
        data = b""
        for index in INDEX_FILES:
            with open(os.path.join(work, "c", index), "rb") as f:
                data += f.read()
        write(folder, "sample", data)
    finally:
        shutil.rmtree(work)


# ---- urlmap: six option bytes, the URL, optional texts -----------------------

def urlmap():
    folder = clear("urlmap")
    defaults = bytes([0, 0, 0x01, 0xEF, 0x00, 0])  # the profile's defaults
    seeds = {
        "plain": defaults + b"http://www.example.co.jp/a/b/c.html",
        "dot-dirs": defaults + b"http://a.example.com/../../etc/passwd",
        "escaped-dots": bytes([2, 0, 1, 0xEF, 0, 0]) +
                        b"http://h/%2e%2e/%2E%2e%5c%2e%2e/x%2fy.htm",
        "dot-host": defaults + b"http://../x.htm",
        "dot-host-nodomext": bytes([0, 0, 0x01, 0xEF, 0x02, 0]) +
                             b"http://..:80/x.htm",
        "sjis-trail-5c": bytes([2, 0, 1, 0xEF, 0, 0]) +
                         b"http://h/\x95\x5c/..\x81\x5c../%81%5c%2e%2e/a.htm",
        "cgi-modes": bytes([2, 9, 2, 0x2F, 0x80, 0]) +
                     b"http://www.example.com/cgi-bin/q.cgi?x=1&y=..",
        "cgi-out-of-range": bytes([9, 0, 1, 0xEF, 0, 0]) +
                            b"http://h/a/search?q=1",
        "dir-max-0": bytes([2, 1, 1, 0xEF, 0, 0]) +
                     b"http://a.example.com/verylongdirname/file.name.jpeg",
        "dir-max-negative": bytes([1, 11, 4, 0xEF, 0, 0]) +
                            b"ftp://ftp.example.org/pub/readme",
        "domain-table": bytes([0, 0, 0x31, 0xFF, 0, 0]) +
                        b"http://a.b.example.com/x.htm",
        "table-from-input": bytes([0, 0, 0x11, 0xFF, 0, 0]) +
                            b"http://a.example.com/x.htm\0example.com\0..\\..",
        "sub-dir": bytes([2, 0, 1, 0xEF, 0x01, 1]) + b"http://h/x/y/f.htm",
        "sub-dir-input": bytes([2, 0, 1, 0xEF, 0x01, 2]) +
                         b"http://h/x/f.htm\0\0\0..\\..\0CGI.HTM\0..\0. .\0..",
        "long-root": bytes([2, 0, 0xC1, 0xEF, 0, 0]) + b"http://" +
                     b"h" * 60 + b"/" + b"d" * 60 + b"/" + b"f" * 100 + b".htm",
        "max-url": defaults + b"http://" + b"a." * 60 + b"com/" + b"%2e%2e/" * 20,
        "file-url": bytes([2, 0, 8, 0x0F, 0x60, 0]) +
                    b"file:///C:/WINDOWS/Desktop/memo.htm",
        "other-scheme": bytes([3, 3, 9, 0x00, 0x18, 0]) +
                        b"mailto:user@example.com",
    }
    for name, data in seeds.items():
        write(folder, name, data)


# ---- jis_copy: text in the codings the copy meets ----------------------------

def jis_copy():
    folder = clear("jis_copy")
    seeds = {
        "jis-title": b"<HTML>\r\n<TITLE>\x1b$B4A;z\x1b(B</TITLE>\r\n"
                     b"<BODY>\x1b$B$3$s$K$A$O\x1b(B</BODY>\r\n",
        "old-jis": b"\x1b$@0!\x1b(HA\n\x1b$@0!\x1b(BA\n",
        "euc": b"<title>\xc0\xbd\xc9\xca</title>\n\xb0\xa1\xb6\xc0\n",
        "sjis": b"<TITLE>\x8c\x6f\x8d\xcf</TITLE>\r\n\x88\x9f\xe0\x40\xe0\xa1\x8e\xb6\n",
        "open-mode-at-eol": b"\x1b$B0!\n\x1b$B0!\x1b(JX\n",
        "lead-at-end": b"A\x88",
        "ctrl-z": b"<TITLE>cut</TITLE>\r\nbefore\x1aafter\r\n",
        "nul-in-line": b"<TITLE>a\x00b</TITLE>\nrest\x00hidden\nnext\n",
        "lone-cr": b"a\rb\r\r\nc\r",
        "title-split": b"<TITLE>\nnext line</TITLE>\n<title></title><title>Second</title>\n",
        "long-title": b"<TITLE>" + b"\xb0\xa1" * 200 + b"</TITLE>\n",
        "empty": b"",
        # A line longer than the 32511-byte piece, ending in a lead byte at
        # the piece's end.
        "long-line": b"<TITLE>long</TITLE>" + b"x" * (32511 - 19 - 1) +
                     b"\x88" + b"tail\n",
    }
    for name, data in seeds.items():
        write(folder, name, data)


# ---- profile: SECTION NUL KEY NUL VALUE NUL PROFILE, or a profile alone ------

def profile():
    folder = clear("profile")
    sample = open(os.path.join(ROOT, "sample", "VELDOR.INI"), "rb").read()
    seeds = {
        "sample": sample,
        "replace": b"[DIR]\r\nLAST_TIME=1996/01/01 00:00\r\n[OPTION]\r\nSHIFTJIS=1\r\n",
        "same-value": b"[DIR]\r\nLAST_TIME=1997/05/01 10:30\r\n",
        "section-at-end": b"[DOS32]\r\nDIR=DIR\r\n[DIR]\r\nOUTDIR=D:\\WEB",
        "no-section": b";only a comment\r\nKEY=V\r\n",
        "empty-key": b"DIR\0OUTDIR\0C:\\OUT\\\0[DIR]\r\nOUTDIR=\r\n[DIR2]\r\n",
        "twice": b"OPTION\0SHIFTJIS\0" b"0\0[OPTION]\r\nSHIFTJIS=1\r\n"
                 b"SHIFTJIS=2\r\n[OPTION]\r\nSHIFTJIS=3\r\n",
        "long-lines": b"DIR\0K\0v\0[DIR]\r\n" + b"x" * 78 + b"K=old\r\n" +
                      b"[" + b"y" * 100 + b"]\r\nK=w\r\n",
        "comment-header": b"[DIR]\r\n;[OPTION]\r\n[broken\r\nLAST_TIME=x\r\n",
        "odd-names": b"A]B\0K=EY\0V\nW\0[A]B]\r\nK=EY=old\r\n",
        "nul-and-ctrl-z": b"[DIR]\r\nX=\0hidden\r\nLAST_TIME=1\x1a[DIR]\r\n",
        "new-file": b"",
    }
    for name, data in seeds.items():
        write(folder, name, data)


# ---- args: NUL-separated argument vectors ------------------------------------

def args():
    folder = clear("args")
    seeds = {
        "switches": b"C:\\TOOLS\\VELDOR.EXE\0-v\0/K\0abc",
        "help": b"VELDOR\0-??\0-!3\0-t4\0-i\0-r",
        "history": b"C:\\VELDOR.EXE\0-hC:\\CACHE\\\0-h\0Example.COM\0Other.Org",
        "patterns": b"veldor\0*.DAT\0plain\0SUB\\*\0nomatch*\0-*\0?.dat",
        "dot-patterns": b"x\0*\0.*\0..\\*\0C:*\0\\*",
        "long": b"\\" + b"p" * 300 + b"\\V.EXE\0-h" + b"c" * 300 + b"\0" +
                b"D" * 300 + b"\0" + b"*" * 300,
        "no-args": b"VELDOR.EXE",
        "bare": b"-\0/\0-\0",
    }
    for name, data in seeds.items():
        write(folder, name, data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpus.py MKCACHE")
    cache_index(sys.argv[1])
    urlmap()
    jis_copy()
    profile()
    args()


if __name__ == "__main__":
    main()
