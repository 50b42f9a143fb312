#!/usr/bin/env python3
"""Hostile input for text2pdf: a large input streamed through a pipe and a 100 MB line with memory
that does not grow, NUL bytes, invalid UTF-8 at every position of a line and across the boundary of
the program's read pieces, a file that shrinks while it is read, and outputs that cannot be
written. Every document produced is checked with qpdf and read back with pdftotext or pdfinfo.

Usage: test_hostile_converter.py --converter PATH [--emulator PATH...] [unittest arguments]

PAGEOUT_E2E_VALGRIND, when set (POSIX), is a command that the small cases run the converter
through; the large ones are then skipped.
"""

import argparse
import errno
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

CONVERTER = None
EMULATOR = []
VALGRIND = os.environ.get("PAGEOUT_E2E_VALGRIND", "").split()
# The size of the converter's read pieces: sequences cut at their boundary must survive.
PIECE = 256 * 1024
# Lines of the layout the tests ask for, so that the number of pages is known exactly.
COLUMNS, LINES = 80, 60


# Runs a program and writes its peak resident size to the file named by PEAK_FILE.
PEAK_WRAPPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools",
                            "peak_rss.py")


def command(*args):
    wrapper = EMULATOR if EMULATOR else VALGRIND
    return wrapper + [CONVERTER] + list(args)


def run(args, stdin=None, stdout=subprocess.PIPE, input_bytes=None, timeout=900):
    """Runs the converter: (exit status, stdout bytes or None, stderr bytes, peak resident bytes).
    Its output goes through files, not pipes: under Wine, processes the emulator leaves behind
    may hold a pipe open long after the converter has ended."""
    with tempfile.TemporaryDirectory() as folder:
        peak_path = os.path.join(folder, "peak")
        out_path = os.path.join(folder, "out")
        err_path = os.path.join(folder, "err")
        argv = command(*args)
        argv[0] = shutil.which(argv[0]) or argv[0]
        with open(err_path, "wb") as err_file, open(out_path, "wb") as out_file:
            process = subprocess.Popen(
                [sys.executable, PEAK_WRAPPER] + argv,
                stdin=subprocess.PIPE if input_bytes is not None else stdin,
                stdout=out_file if stdout == subprocess.PIPE else stdout, stderr=err_file,
                env=dict(os.environ, PEAK_FILE=peak_path))
            if input_bytes is not None:
                try:
                    for block in input_bytes:
                        process.stdin.write(block)
                except BrokenPipeError:
                    pass
                process.stdin.close()
            try:
                process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                raise
        with open(peak_path) as f:
            peak = int(f.read() or 0)
        with open(err_path, "rb") as f:
            err = f.read()
        out = None
        if stdout == subprocess.PIPE:
            with open(out_path, "rb") as f:
                out = f.read()
        return process.returncode, out, err, peak


def sanitized():
    """Whether the converter carries AddressSanitizer, whose quarantine of freed memory makes its
    peak say nothing about the converter's own."""
    with open(CONVERTER, "rb") as f:
        return b"__asan_init" in f.read()


def pdf_text(path):
    subprocess.run(["qpdf", "--check", path], check=True, stdout=subprocess.DEVNULL)
    return subprocess.run(["pdftotext", "-layout", "-enc", "UTF-8", path, "-"], check=True,
                          stdout=subprocess.PIPE).stdout.decode("utf-8")


def pdf_pages(path):
    subprocess.run(["qpdf", "--check", path], check=True, stdout=subprocess.DEVNULL)
    info = subprocess.run(["pdfinfo", path], check=True, stdout=subprocess.PIPE).stdout
    return int(re.search(rb"Pages:\s+(\d+)", info).group(1))


def blocks(line, total, block=1 << 20):
    """total bytes of repeated line, in blocks."""
    chunk = line * (block // len(line))
    sent = 0
    while sent < total:
        piece = chunk[:total - sent]
        sent += len(piece)
        yield piece


class Hostile(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="text2pdf-hostile-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def convert(self, data, *options):
        """Converts data given as a file; returns the document's path."""
        source = self.write("in.txt", data)
        output = self.path("out.pdf")
        status, _, err, _ = run(list(options) + ["-o", output, source])
        self.assertEqual((status, err), (0, b""))
        return output

    def skip_large(self):
        if VALGRIND:
            self.skipTest("too large for valgrind")


class Size(Hostile):
    def test_memory_does_not_grow_with_a_large_input_through_a_pipe(self):
        # The emulator is slower; the native build gets a quarter of a gigabyte.
        self.skip_large()
        large = (64 if EMULATOR else 256) << 20
        line = b"The quick brown fox jumps over the lazy dog, 0123456789.\n"
        peaks = {}
        for total in (1 << 20, large):
            output = self.path("out%d.pdf" % total)
            with open(output, "wb") as out:
                status, _, err, peaks[total] = run(["-c%d" % COLUMNS, "-l%d" % LINES], stdout=out,
                                                   input_bytes=blocks(line, total))
            self.assertEqual((status, err), (0, b""))
            lines = total // len(line)
            self.assertEqual(pdf_pages(output), -(-lines // LINES))
        if not EMULATOR and not sanitized():
            self.assertLess(peaks[large] - peaks[1 << 20], 16 << 20, peaks)

    def test_a_100_megabyte_line_wraps_with_memory_that_does_not_grow(self):
        self.skip_large()
        total = (32 if EMULATOR else 100) << 20
        output = self.path("out.pdf")
        with open(output, "wb") as out:
            status, _, err, peak = run(["-c%d" % COLUMNS, "-l%d" % LINES], stdout=out,
                                       input_bytes=blocks(b"x", total))
        self.assertEqual((status, err), (0, b""))
        lines = -(-total // COLUMNS)
        self.assertEqual(pdf_pages(output), -(-lines // LINES))
        if not EMULATOR and not sanitized():
            self.assertLess(peak, 64 << 20)


class Bytes(Hostile):
    def test_nul_bytes_become_replacement_characters(self):
        text = pdf_text(self.convert(b"a\x00b\x00\x00c\n\x00\n\x00" * 3))
        self.assertEqual(text.split("\f")[0].splitlines()[:3], ["a?b??c", "?", "?a?b??c"])

    def test_invalid_utf8_at_every_position(self):
        # Each line is the base text with an invalid byte at one position, inside multi-byte
        # characters too. Bytes that do not form a valid sequence are read as Windows-1252 each.
        base = "Grüße € ½ naïve — fin".encode("utf-8")
        bad = [b"\xff", b"\x80", b"\xe2\x82", b"\xc3", b"\xf0\x9f\x98", b"\xed\xa0\x80"]
        lines = []
        for invalid in bad:
            for position in range(len(base) + 1):
                lines.append(base[:position] + invalid + base[position:])
        text = pdf_text(self.convert(b"\n".join(lines) + b"\n", "-c%d" % COLUMNS, "-l1000"))
        got = [line for line in text.replace("\f", "\n").splitlines() if line.strip()]
        self.assertEqual(len(got), len(lines))
        for line, seen in zip(lines, got):
            # pdftotext gives the no-break space (0xA0) as a blank.
            self.assertEqual(seen.rstrip(), expected_text(line).replace("\xa0", " "), line)

    def test_sequences_cut_by_the_read_pieces(self):
        # A multi-byte character (and a CR LF) ending one read piece and starting the next.
        for offset in (1, 2, 3):
            with self.subTest(offset=offset):
                data = b"a" * (PIECE - offset) + "€".encode("utf-8") + b"\r\nz\n"
                text = pdf_text(self.convert(data))
                self.assertEqual(text.count("€"), 1)
                self.assertNotIn("?", text)
                self.assertEqual(text.split()[-1], "z")


def expected_text(data):
    """What pdftotext gives for one line: valid UTF-8 sequences decoded, every other byte read as
    Windows-1252, characters the font encoding lacks as '?'."""
    out = []
    i = 0
    while i < len(data):
        for length in (4, 3, 2, 1):
            try:
                char = data[i:i + length].decode("utf-8")
            except UnicodeDecodeError:
                continue
            if len(char) == 1:
                break
        else:
            char = data[i:i + 1].decode("cp1252", errors="replace")
            length = 1
        try:
            char.encode("cp1252")
        except UnicodeEncodeError:
            char = "?"
        if char == "\ufffd" or ord(char) < 0x20:
            char = "?"
        out.append(char)
        i += length
    return "".join(out).rstrip()


class ShrinkingInput(Hostile):
    def test_a_file_that_shrinks_while_it_is_read(self):
        self.skip_large()
        if EMULATOR:
            self.skipTest("the read position of the Wine process is not the converter's own")
        line = b"%07d the line that stands here until the file is cut short\n"
        source = self.path("in.txt")
        with open(source, "wb") as f:
            for block in range(150):
                f.write(b"".join(line % i for i in range(block * 10000, (block + 1) * 10000)))
        output = self.path("out.pdf")
        process = subprocess.Popen(command("-c%d" % COLUMNS, "-l%d" % LINES, "-o", output, source),
                                   stderr=subprocess.PIPE)
        cut = 4 << 20
        # Cut the file once the converter has read past the point where it will end.
        deadline = time.time() + 60
        was_cut = False
        while time.time() < deadline and process.poll() is None:
            position = read_position(process.pid, source)
            if position is not None and position > cut:
                os.truncate(source, cut)
                was_cut = True
                break
            time.sleep(0.001)
        self.assertTrue(was_cut, "the converter finished before the file could be cut")
        err = process.stderr.read()
        status = process.wait(timeout=300)
        process.stderr.close()
        self.assertEqual((status, err), (0, b""))
        # Whatever was read before the cut is in the document, whole pages of it, and nothing
        # invented: every line is one of the file's lines, in order.
        text = pdf_text(output)
        numbers = [int(m) for m in re.findall(r"^(\d{7}) the line", text.replace("\f", "\n"),
                                              re.M)]
        self.assertGreater(len(numbers), 0)
        self.assertLess(len(numbers), 1500000)
        self.assertEqual(numbers, list(range(len(numbers))))


def read_position(pid, path):
    """The file position of the process's descriptor open on path, or None."""
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == path:
                with open("/proc/%d/fdinfo/%s" % (pid, fd)) as f:
                    return int(re.search(r"pos:\s+(\d+)", f.read()).group(1))
    except (FileNotFoundError, ProcessLookupError, PermissionError):
        pass
    return None


class UnwritableOutput(Hostile):
    def test_full_device_is_a_clear_error_with_status_1(self):
        if EMULATOR:
            self.skipTest("/dev/full")
        source = self.write("in.txt", b"text\n" * 20000)
        reason = os.strerror(errno.ENOSPC).encode()
        with open("/dev/full", "wb") as full:
            status, _, err, _ = run([source], stdout=full)
        self.assertEqual((status, err),
                         (1, b"text2pdf: cannot write the output: " + reason + b"\n"))
        status, _, err, _ = run(["-o", "/dev/full", source])
        self.assertEqual((status, err),
                         (1, b"text2pdf: cannot write '/dev/full': " + reason + b"\n"))

    def test_output_in_a_missing_folder(self):
        source = self.write("in.txt", b"text\n")
        target = os.path.join(self.folder, "missing", "out.pdf")
        status, out, err, _ = run(["-o", target, source])
        self.assertEqual(status, 1)
        self.assertTrue(err.startswith(b"text2pdf: cannot create "), err)
        self.assertFalse(os.path.exists(target))


def main():
    global CONVERTER, EMULATOR
    parser = argparse.ArgumentParser()
    parser.add_argument("--converter", required=True)
    parser.add_argument("--emulator", nargs="*", default=[])
    args, rest = parser.parse_known_args()
    CONVERTER = os.path.abspath(args.converter)
    EMULATOR = args.emulator
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
