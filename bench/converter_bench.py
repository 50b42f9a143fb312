#!/usr/bin/env python3
"""Converter benchmark: text2pdf side by side with enscript | ps2pdf, a2ps | ps2pdf and CUPS
texttopdf on the same generated text, in one run.

For each input size (1 MB and 100 MB by default; the large one is the throughput comparison) and
each converter it prints the wall time, the throughput, the CPU time, the size of the PDF and the
peak resident memory (/usr/bin/time; for a pipeline the largest of its processes and their sum).
text2pdf runs in the three layouts the front end composes; the others run with their defaults.

On a shared machine the load changes during a run, so the converters run in rounds, one after
the other in each round, and the best round of each counts (--rounds, default 3). A converter
that takes longer than a minute runs in the first round only.

Debian packages: enscript a2ps ghostscript cups-filters (and time). Not part of the tests.

Usage: bench/converter_bench.py [--converter build/posix/bin/text2pdf] [--sizes 1,100]
                                [--work /tmp/text2pdf-bench] [--skip-others]
"""

import argparse
import os
import shlex
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TEXTTOPDF = "/usr/lib/cups/filter/texttopdf"

LAYOUTS = [
    ("text2pdf landscape 132", "-c160 -L -s8 -v7"),
    ("text2pdf portrait 132", "-l92 -c132 -s6 -v8"),
    ("text2pdf portrait 80", ""),
]


def make_inputs(work, sizes):
    """One generated text of the largest size; the smaller inputs are its first lines."""
    largest = max(sizes)
    big = os.path.join(work, f"text-{largest:g}MB.txt")
    if not os.path.exists(big) or os.path.getsize(big) < largest * 1024 * 1024:
        print(f"generating {largest:g} MB of text ...", file=sys.stderr)
        subprocess.run([sys.executable, os.path.join(HERE, "make_text.py"), big, str(largest)],
                       check=True)
    inputs = {}
    with open(big, "rb") as f:
        data = f.read()
    for size in sizes:
        path = os.path.join(work, f"text-{size:g}MB.txt")
        if path != big:
            cut = data.rfind(b"\n", 0, int(size * 1024 * 1024)) + 1
            with open(path, "wb") as f:
                f.write(data[:cut])
        inputs[size] = path
    return inputs


def timed(stages, output, work):
    """Runs a pipeline of commands (lists), the last one's stdout into `output` unless the stage
    writes it itself; returns wall seconds, CPU seconds, peak RSS of the largest process and the
    sum of the peaks, in KiB."""
    parts = []
    reports = []
    for i, stage in enumerate(stages):
        report = os.path.join(work, f"time-{i}.txt")
        reports.append(report)
        parts.append(" ".join(["/usr/bin/time", "-f", "'%e %U %S %M'", "-o", report] +
                              [shlex.quote(a) for a in stage]))
    command = " | ".join(parts)
    if output:
        command += " > " + shlex.quote(output)
    start = time.monotonic()
    subprocess.run(["sh", "-c", command], check=True, stderr=subprocess.DEVNULL)
    wall = time.monotonic() - start
    cpu, peaks = 0.0, []
    for report in reports:
        with open(report) as f:
            fields = f.read().split()[-4:]
        cpu += float(fields[1]) + float(fields[2])
        peaks.append(int(fields[3]))
    return wall, cpu, max(peaks), sum(peaks)


def converters(args, work):
    t2p = os.path.abspath(args.converter)
    for name, options in LAYOUTS:
        yield name, lambda src, out, o=options: ([[t2p] + o.split() + [src]], out)
    if args.skip_others:
        return
    if shutil.which("enscript") and shutil.which("ps2pdf"):
        yield "enscript | ps2pdf", lambda src, out: (
            [["enscript", "-q", "-B", "-p", "-", src], ["ps2pdf", "-", out]], None)
    if shutil.which("a2ps") and shutil.which("ps2pdf"):
        yield "a2ps | ps2pdf", lambda src, out: (
            [["a2ps", "-q", "-B", "-1", "-o", "-", src], ["ps2pdf", "-", out]], None)
    if os.access(TEXTTOPDF, os.X_OK):
        yield "cups texttopdf", lambda src, out: ([[TEXTTOPDF, "1", "bench", "bench", "1", "", src]],
                                                  out)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--converter", default=os.path.join(ROOT, "build/posix/bin/text2pdf"))
    parser.add_argument("--sizes", default="1,100", help="input sizes in MB, comma-separated")
    parser.add_argument("--work", default="/tmp/text2pdf-bench")
    parser.add_argument("--skip-others", action="store_true", help="run text2pdf only")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    sizes = [float(s) for s in args.sizes.split(",")]
    os.makedirs(args.work, exist_ok=True)
    inputs = make_inputs(args.work, sizes)

    print(f"cores: {os.cpu_count()}, load average before: {os.getloadavg()[0]:.2f}, "
          f"best of {args.rounds} rounds")
    header = (f"{'converter':24} {'input MB':>8} {'wall s':>8} {'MB/s':>8} {'CPU s':>8} "
              f"{'output bytes':>13} {'out/in':>7} {'peak RSS KiB':>12} {'sum RSS KiB':>11}")
    results = {}
    for size in sizes:
        source = inputs[size]
        megabytes = os.path.getsize(source) / (1024 * 1024)
        print()
        print(header)
        best = {}
        for round_number in range(args.rounds):
            for name, build in converters(args, args.work):
                if round_number > 0 and best[name][0] > 60:
                    continue
                out = os.path.join(args.work, "out.pdf")
                if os.path.exists(out):
                    os.unlink(out)
                stages, redirect = build(source, out)
                wall, cpu, peak, total = timed(stages, redirect, args.work)
                size_out = os.path.getsize(out)
                previous = best.get(name, (wall, cpu, size_out, peak, total))
                if wall <= previous[0]:
                    previous = (wall, cpu, size_out) + previous[3:]
                best[name] = previous[:3] + (max(peak, previous[3]), max(total, previous[4]))
        for name, (wall, cpu, size_out, peak, total) in best.items():
            results[(name, size)] = (megabytes / wall, size_out, peak)
            print(f"{name:24} {megabytes:8.1f} {wall:8.2f} {megabytes / wall:8.1f} {cpu:8.2f} "
                  f"{size_out:13d} {size_out / os.path.getsize(source):7.3f} {peak:12d} "
                  f"{total:11d}", flush=True)
        print(f"load average after: {os.getloadavg()[0]:.2f}")

    largest = max(sizes)
    ours = [n for n, _ in LAYOUTS]
    others = [n for n, _ in converters(args, args.work) if n not in ours]
    print()
    if others:
        fastest = max(others, key=lambda n: results[(n, largest)][0])
        smallest = min(others, key=lambda n: results[(n, largest)][1])
        for name in ours:
            rate, size_out, _ = results[(name, largest)]
            print(f"{name}: {rate / results[(fastest, largest)][0]:.1f} x the throughput of "
                  f"{fastest}; output {size_out / results[(smallest, largest)][1]:.3f} of "
                  f"{smallest}'s")
    if len(sizes) > 1:
        for name in ours:
            peaks = ", ".join(f"{results[(name, s)][2]} KiB at {s:g} MB" for s in sizes)
            print(f"{name}: peak RSS {peaks}")


if __name__ == "__main__":
    main()
