#!/usr/bin/env python3
"""Peak memory of text2pdf against the size of its input: the same conversion of 1 MB and of 1 GB
(by default), side by side, for ordinary text lines and for one single line of that size. The text
is generated on the fly and streamed through a pipe, so that nothing of that size is stored.

For each run it prints the input size, the wall time and the peak resident size of the converter
(GNU time's maximum resident set size: the converter is forked from that small program, not from
this script, whose size it would otherwise inherit in the figure). Debian package: time. Not part
of the tests.

Usage: bench/converter_memory.py [--converter build/posix/bin/text2pdf] [--sizes 1,1024]
                                 [--options "-c132 -l92"]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

LINE = b"The quick brown fox jumps over the lazy dog; 0123456789 and some more words.\n"


def feed(pipe, total, shape):
    if shape == "lines":
        block = (LINE * ((1 << 20) // len(LINE) + 1))[:1 << 20]
    else:
        block = b"x" * (1 << 20)
    sent = 0
    try:
        while sent < total:
            piece = block[:total - sent]
            pipe.write(piece)
            sent += len(piece)
    finally:
        pipe.close()


def measure(converter, options, total, shape):
    with tempfile.NamedTemporaryFile(delete=False) as peak_file:
        pass
    started = time.time()
    process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file.name, converter]
                               + options, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    writer = threading.Thread(target=feed, args=(process.stdin, total, shape))
    writer.start()
    writer.join()
    status = process.wait()
    elapsed = time.time() - started
    with open(peak_file.name) as f:
        peak = int(f.read().split()[-1]) * 1024
    os.remove(peak_file.name)
    if status != 0:
        sys.exit("text2pdf ended with status %d" % status)
    return elapsed, peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--converter",
                        default=os.path.join(ROOT, "build", "posix", "bin", "text2pdf"))
    parser.add_argument("--sizes", default="1,1024", help="input sizes in MB")
    parser.add_argument("--options", default="-c132 -l92", help="converter options")
    args = parser.parse_args()
    options = args.options.split()
    print("%-8s %10s %10s %14s" % ("shape", "input MB", "wall s", "peak RSS MB"))
    for shape in ("lines", "one line"):
        for size in (int(s) for s in args.sizes.split(",")):
            elapsed, peak = measure(args.converter, options, size << 20, shape)
            print("%-8s %10d %10.2f %14.1f" % (shape, size, elapsed, peak / (1 << 20)))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
