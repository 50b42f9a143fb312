#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/ from the test fixtures: the
sample text, the dialogue of the end-to-end tests, the names, PATH values and file names the unit
and end-to-end tests use. Each seed is the fixture's bytes followed by a few bytes that the target
reads from the end of its input for its settings (host, reading strategy, layout, ...), in several
variants. Files named regress-* in the corpora are inputs that once failed; this script leaves
them alone.

Usage: make_corpus.py   (run again when the fixtures change; the seeds are kept in the repository)
"""

import hashlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import texts  # noqa: E402  (the dialogue's bytes)

SAMPLE = open(os.path.join(ROOT, "samples", "sample.txt"), "rb").read()
# Settings bytes: the targets take their choices from the end of the input, the last byte first.
SETTINGS = [b"", b"\x01", b"\x02\x01\x00"]

DIALOGUES = [
    b"in.txt\r\n\r\n",
    b"missing.txt\r\nreport.txt\r\nN\r\n\r\n",
    b"   \r\nreport.txt\nn\nn\ny\n",
    b"report.txt\r\nq\r\n",
    b"report.txt\nN\nN\nN\nQ\n",
    b"report.txt",
    b"\x1a\r\n\tname\r\r\n",
]
NAMES = [b"report.txt", b"  report.txt  ", b"my file.txt", b"nul", b"Con", b"CONIN$", b"lpt3",
         b"COM1.TXT", b"PRN.LST", b"NUL.", b"LPT1.TXT", b"CONOUT$.X", b"*.txt", b"a?b",
         b"C:\\NUL", b"folder", b"report.txt\x00\x00", b"x" * 300]
PATHS = [b"C:\\Windows\\system32;C:\\Windows", b'"C:\\a;b";Z:\\nowhere', b";;;C:\\bin\\;",
         b'"Z:\\unbalanced;C:\\bin', b"\\\\server\\share;C:\\bin",
         b"C:\\" + b"d" * 258 + b";C:\\bin"]
FILE_NAMES = [b"in.txt", b"my file.txt", b"it's mine.txt", b"a&b;c|d.txt", b"$HOME and `x`.txt",
              b"x>y<z.txt", b"tab\there.txt", b"(sub) * ?.txt", b"  lead and inner.txt",
              b"n" * 76 + b".txt", b"a+b,c:d@e%f=g", b"hat^s"]
TEMPLATES = [texts.BANNER, texts.LEGEND, texts.NAME_PROMPT + texts.NAME_ERROR, b" " * 79 + b"x"]

SEEDS = {
    "fuzz_read_line": DIALOGUES + [SAMPLE[:1500]],
    "fuzz_record_template": TEMPLATES,
    "fuzz_existence": NAMES,
    "fuzz_path_search": [p + b"\x00cmd.exe" for p in PATHS] + PATHS,
    "fuzz_compose": FILE_NAMES,
    "fuzz_pageout": DIALOGUES,
    "fuzz_converter": [SAMPLE[:1200], "Grüße € ½\r\n\f\tx\n".encode("utf-8"),
                       b"\xff\xfe\x00\x80\r"],
    "fuzz_flate": [SAMPLE[:1200], b"a" * 300, bytes(range(256))],
}


def main():
    for target, fixtures in SEEDS.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name in os.listdir(folder):
            if name.startswith("seed-"):
                os.remove(os.path.join(folder, name))
        for fixture in fixtures:
            for settings in SETTINGS:
                data = fixture + settings
                digest = hashlib.sha1(data).hexdigest()[:12]
                with open(os.path.join(folder, "seed-" + digest), "wb") as f:
                    f.write(data)


if __name__ == "__main__":
    main()
