#!/usr/bin/env python3
"""End-to-end tests of text2pdf: each case runs the real converter (the Win32 one under Wine) on a
small input and reads the document back with poppler's pdftotext and pdfinfo; qpdf checks every
document produced.

The text of a page is read back exactly: pdftotext -bbox gives the position of every word, and the
font size, line spacing and origin found in the page's content stream turn positions into line and
column numbers. The expected pages come from a small model of the converter's rules (decoding,
tabs, wrapping, pages) or, for the cases where a rule is easy to get wrong, from hand-written
pages.

Usage: text2pdf_test.py --converter PATH [--emulator PATH] [unittest arguments]
"""

import argparse
import codecs
import html
import math
import os
import random
import re
import subprocess
import sys
import tempfile
import unittest
import zlib

CONVERTER = None
EMULATOR = None
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLE = os.path.join(ROOT, "samples", "sample.txt")

# The three layouts the front end composes.
LAYOUTS = {
    "landscape 132": ["-c160", "-L", "-s8", "-v7"],
    "portrait 132": ["-l92", "-c132", "-s6", "-v8"],
    "portrait 80": [],
}
MARGIN = 18.0  # points kept blank on every side
EPOCH = "1700000000"

# ---------------------------------------------------------------------------------------------
# Running the converter


class Result:
    def __init__(self, status, stdout, stderr):
        self.status, self.stdout, self.stderr = status, stdout, stderr


def run(args, stdin=b"", env=None, cwd=None):
    command = ([EMULATOR] if EMULATOR else []) + [CONVERTER] + list(args)
    full_env = dict(os.environ)
    full_env["SOURCE_DATE_EPOCH"] = EPOCH
    full_env.pop("PAPERSIZE", None)
    full_env.pop("PAPERCONF", None)
    full_env.update(env or {})
    done = subprocess.run(command, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=full_env, cwd=cwd, timeout=300)
    return Result(done.returncode, done.stdout, done.stderr)


def native_path(path):
    """A path the converter under test can open (Wine maps the Unix root onto drive Z:)."""
    return "Z:" + path.replace("/", "\\") if EMULATOR else path


# ---------------------------------------------------------------------------------------------
# Reading a document back


def qpdf_check(testcase, pdf_path):
    done = subprocess.run(["qpdf", "--check", pdf_path], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    testcase.assertEqual(done.returncode, 0, done.stdout.decode(errors="replace"))
    testcase.assertIn(b"No syntax or stream encoding errors", done.stdout)


def content_streams(data):
    """The decompressed content streams of the pages, in page order."""
    pages_in_order = []
    streams = {}
    for match in re.finditer(rb"(\d+) 0 obj\n<</Length (\d+)/Filter/FlateDecode>>stream\n", data):
        start = match.end()
        streams[int(match.group(1))] = zlib.decompress(data[start:start + int(match.group(2))])
    kids = re.search(rb"/Kids\[([^\]]*)\]", data).group(1)
    for page_object in re.findall(rb"(\d+) 0 R", kids):
        pages_in_order.append(streams[int(page_object) - 1])
    return pages_in_order


class Geometry:
    def __init__(self, stream):
        self.size = float(re.search(rb"/F1 ([\d.]+) Tf", stream).group(1))
        self.spacing = float(re.search(rb"([\d.]+) TL", stream).group(1))
        x, y = re.search(rb"([\d.-]+) ([\d.-]+) Td", stream).groups()
        self.left, self.top_baseline = float(x), float(y)  # one line above the first baseline
        self.cell = 0.6 * self.size


def read_document(testcase, pdf_bytes):
    """Checks the document and returns (pages as lists of lines, page sizes, geometry)."""
    with tempfile.NamedTemporaryFile(suffix=".pdf", delete=False) as f:
        f.write(pdf_bytes)
        path = f.name
    try:
        qpdf_check(testcase, path)
        xml = subprocess.run(["pdftotext", "-bbox", path, "-"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, check=True).stdout.decode("utf-8")
    finally:
        os.unlink(path)
    streams = content_streams(pdf_bytes)
    geometry = Geometry(streams[0])
    page_texts = xml.split("<page ")[1:]
    testcase.assertEqual(len(page_texts), len(streams))
    pages, sizes = [], []
    word = re.compile(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">(.*?)</word>')
    for text in page_texts:
        width, height = map(float, re.match(r'width="([\d.]+)" height="([\d.]+)"', text).groups())
        sizes.append((width, height))
        top = height - geometry.top_baseline  # from the top edge, as pdftotext measures
        lines = {}
        for x_min, y_min, x_max, _, chars in word.findall(text):
            chars = html.unescape(chars)
            column = (float(x_min) - geometry.left) / geometry.cell
            testcase.assertAlmostEqual(column, round(column), delta=0.02, msg=chars)
            line = math.ceil((float(y_min) - top) / geometry.spacing - 1e-6)
            cells = lines.setdefault(line, {})
            for i, c in enumerate(chars):
                cells[round(column) + i] = c
            testcase.assertLessEqual(float(x_max), width - MARGIN + 0.01, "beyond the margin")
        count = max(lines) if lines else 0
        page = []
        for n in range(1, count + 1):
            cells = lines.get(n, {})
            page.append("".join(cells.get(i, " ") for i in range(max(cells) + 1)) if cells else "")
        pages.append(page)
    return pages, sizes, geometry


# ---------------------------------------------------------------------------------------------
# The model of the converter's rules


def _windows_1252_fallback(error):
    byte = error.object[error.start:error.start + 1]
    return byte.decode("cp1252", errors="replace"), error.start + 1


codecs.register_error("text2pdf-cp1252", _windows_1252_fallback)


def shown(char):
    """The character as the document shows it: itself when WinAnsi has it, else '?'. WinAnsi
    draws the no-break space as a space and the soft hyphen as a hyphen."""
    if char in "\xa0\xad":
        return {"\xa0": " ", "\xad": "-"}[char]
    if char < " " or char == "\x7f":
        return "?"
    try:
        code = char.encode("cp1252")
    except UnicodeEncodeError:
        return "?"
    return "?" if 0x80 <= ord(char) < 0xA0 else char if code else "?"


def model_pages(data, columns=80, lines_per_page=None, tab=8):
    text = data.decode("utf-8", errors="text2pdf-cp1252")
    if text.startswith("\ufeff"):
        text = text[1:]
    text = text.replace("\r\n", "\n").replace("\r", "\n")
    pages, page, line = [], [], None
    absorbs_feed = True

    def end_line():
        nonlocal line, page, absorbs_feed
        page.append((line or "").rstrip(" "))
        line = None
        if len(page) == lines_per_page:
            pages.append(page)
            page = []
            absorbs_feed = True

    for char in text:
        if char == "\n":
            end_line()
        elif char == "\f":
            if line is not None:
                end_line()
            if page or not absorbs_feed:
                pages.append(page)
                page = []
            absorbs_feed = False
        elif char == "\t":
            line = line or ""
            if len(line) == columns:
                end_line()
                line = ""
            stop = (len(line) // tab + 1) * tab
            line += " " * (min(stop, columns) - len(line))
        else:
            line = line or ""
            if len(line) == columns:
                end_line()
                line = ""
            line += shown(char)
    if line is not None:
        end_line()
    if page or not pages:
        pages.append(page)
    # Blank lines at the end of a page leave no trace in the document.
    for p in pages:
        while p and p[-1] == "":
            p.pop()
    return pages


def lines_that_fit(paper, options):
    """Lines per page of a layout when -l is not given, in the converter's millipoints."""
    width, height = (p * 1000 for p in paper)
    if "-L" in options:
        width, height = max(width, height), min(width, height)
    columns, size, spacing = 80, 10000, None
    for option in options:
        if option.startswith("-c"):
            columns = int(option[2:])
        if option.startswith("-s"):
            size = round(float(option[2:]) * 1000)
        if option.startswith("-v"):
            spacing = round(float(option[2:]) * 1000)
    size = min(size, (width - 2 * 18000) * 1000 // (600 * columns))
    spacing = spacing or size * 6 // 5
    return (height - 2 * 18000) // spacing


PAPERS = {"-letter": (612, 792), "-A4": (595, 842)}
LETTER_LINES = lines_that_fit(PAPERS["-letter"], [])

# ---------------------------------------------------------------------------------------------


class ConverterCase(unittest.TestCase):
    maxDiff = None

    def convert(self, data, options=(), name="input.txt"):
        """Converts `data` from a file; returns the result after checking it succeeded."""
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(data)
            result = run(list(options) + [native_path(path)])
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        return result

    def assertRoundTrip(self, data, options=("-letter",), expected=None, **model):
        result = self.convert(data, options)
        pages, _, _ = read_document(self, result.stdout)
        if expected is None:
            expected = model_pages(data, **model)
        self.assertEqual(pages, expected)
        return result


class Layouts(ConverterCase):
    """The three layouts of the front end on letter and A4."""

    def test_sample_and_a_full_width_line_in_every_layout(self):
        with open(SAMPLE, "rb") as f:
            sample = f.read()
        for layout, options in LAYOUTS.items():
            columns = int(next((o[2:] for o in options if o.startswith("-c")), 80))
            lines = int(next((o[2:] for o in options if o.startswith("-l")), 0)) or None
            # A line of the full width and one a character longer, which wraps.
            data = sample + b"W" * columns + b"\n" + b"X" * (columns + 1) + b"\n"
            for paper_option, paper in PAPERS.items():
                with self.subTest(layout=layout, paper=paper_option):
                    per_page = lines or lines_that_fit(paper, options)
                    result = self.convert(data, options + [paper_option])
                    pages, sizes, geometry = read_document(self, result.stdout)
                    self.assertEqual(pages, model_pages(data, columns, per_page))
                    width, height = sizes[0]
                    self.assertEqual((width > height), "-L" in options)
                    self.assertEqual(sorted(sizes[0]), sorted(paper))
                    # The full width sits between the margins, and so do the lines of a page.
                    self.assertGreaterEqual(geometry.left, MARGIN - 0.01)
                    self.assertLessEqual(geometry.left + columns * geometry.cell,
                                         width - MARGIN + 0.01)
                    first_baseline = geometry.top_baseline - geometry.spacing
                    last_baseline = geometry.top_baseline - per_page * geometry.spacing
                    self.assertGreaterEqual(last_baseline - 0.157 * geometry.size, MARGIN - 0.01)
                    self.assertLessEqual(first_baseline + 0.629 * geometry.size, height - MARGIN)

    def test_pages_hold_the_lines_asked_for(self):
        for layout, options in LAYOUTS.items():
            for paper_option, paper in PAPERS.items():
                with self.subTest(layout=layout, paper=paper_option):
                    per_page = int(next((o[2:] for o in options if o.startswith("-l")), 0)) \
                        or lines_that_fit(paper, options)
                    data = "".join(f"line {n}\n" for n in range(1, 2 * per_page + 4)).encode()
                    result = self.convert(data, options + [paper_option])
                    pages, _, _ = read_document(self, result.stdout)
                    self.assertEqual([len(p) for p in pages], [per_page, per_page, 3])
                    self.assertEqual(pages[1][0], f"line {per_page + 1}")

    def test_lines_that_would_not_fit_shrink_spacing_and_font(self):
        result = self.convert(b"top\n" + b"\n" * 198 + b"bottom\n", ["-letter", "-l200", "-v8"])
        pages, _, geometry = read_document(self, result.stdout)
        self.assertEqual(len(pages), 1)
        self.assertEqual(len(pages[0]), 200)
        self.assertLessEqual(200 * geometry.spacing, 792 - 2 * MARGIN)
        self.assertLess(geometry.size, 10)


class Text(ConverterCase):
    """Decoding, tabs, line ends, form feeds and wrapping."""

    CASES = [
        # (name, input, options, expected pages)
        ("tabs to multiples of the width", b"a\tb\n\tc\nabcdefgh\ti\n", [],
         [["a       b", "        c", "abcdefgh        i"]]),
        ("tab width option", b"a\tb\n", ["-t4"], [["a   b"]]),
        ("tab reaching the end of a line stops there", b"abcdefghi\tj\n", ["-c12"],
         [["abcdefghi", "j"]]),
        ("three line ends", b"lf\ncrlf\r\ncr\rlast", [], [["lf", "crlf", "cr", "last"]]),
        ("CR CR LF is two lines", b"a\r\r\nb\n", [], [["a", "", "b"]]),
        ("form feed starts a page", b"one\ftwo\n\fthree\n", [], [["one"], ["two"], ["three"]]),
        ("form feeds at the start and end add no page", b"\fone\n\f", [], [["one"]]),
        ("two form feeds leave a blank page", b"one\n\f\ftwo\n", [], [["one"], [], ["two"]]),
        ("form feed after a full page is absorbed", b"1\n2\n\f3\n", ["-l2"], [["1", "2"], ["3"]]),
        ("wrap at exactly the width", b"abcdef\nabcdefg\n", ["-c6"],
         [["abcdef", "abcdef", "g"]]),
        ("wrapped lines continue onto the next page", b"abcdefghij", ["-c4", "-l2"],
         [["abcd", "efgh"], ["ij"]]),
        ("UTF-8 with a byte order mark", "\ufeffcafé – “Zürich” €5 Œuvre\n".encode(), [],
         [["café – “Zürich” €5 Œuvre"]]),
        ("Windows-1252", "café – “Zürich” €5\n".encode("cp1252"), [],
         [["café – “Zürich” €5"]]),
        ("characters the font lacks", "Ωmega → 日本\n".encode(), [], [["?mega ? ??"]]),
        ("control bytes and NUL", b"a\x00b\x01c\x1bd\x7fe\n", [], [["a?b?c?d?e"]]),
        ("invalid UTF-8 byte by byte", b"\xc3(\xe2\x82\xff\xed\xbf\xbf\x81\n", [],
         [["\u00c3(\u00e2\u201a\u00ff\u00ed\u00bf\u00bf?"]]),
        ("PDF string delimiters", b"(a) \\b\\ ((c\n", [], [["(a) \\b\\ ((c"]]),
        ("empty input", b"", [], [[]]),
        ("blank lines only", b"\n\n\n", [], [[]]),
    ]

    def test_cases(self):
        for name, data, options, expected in self.CASES:
            with self.subTest(name):
                self.assertRoundTrip(data, ["-letter"] + options, expected=expected)
                # The model agrees with the hand-written pages.
                model = {"columns": 80, "lines_per_page": LETTER_LINES, "tab": 8}
                for option in options:
                    key = {"-c": "columns", "-l": "lines_per_page", "-t": "tab"}[option[:2]]
                    model[key] = int(option[2:])
                self.assertEqual(model_pages(data, **model), expected)

    def test_sequences_cut_by_the_read_size(self):
        # The converter reads 256 KiB at a time; put a CR LF, UTF-8 sequences and an invalid
        # sequence across each of the first boundaries.
        piece = 256 * 1024
        data = bytearray()
        for k, tail in enumerate([b"\r\n", "é".encode(), "€".encode(), "😀".encode(), b"\xe2\x82"]):
            filler = b"0123456789abcdef" * ((piece - 1) // 16 + 1)
            data += filler[:piece * (k + 1) - len(data) - 1] + tail + b"\n"
        self.assertRoundTrip(bytes(data), ["-letter"], columns=80, lines_per_page=LETTER_LINES)

    def test_input_through_a_pipe_matches_the_file(self):
        data = "".join(f"{n}\tcafé\r\n" for n in range(20000)).encode()
        from_file = self.convert(data, ["-letter"])
        piped = run(["-letter"], stdin=data)
        self.assertEqual(piped.status, 0, piped.stderr)
        # Only the document information differs: standard input has no title.
        self.assertEqual(content_streams(from_file.stdout), content_streams(piped.stdout))
        pages, _, _ = read_document(self, piped.stdout)
        self.assertEqual(pages, model_pages(data, 80, LETTER_LINES))

    def test_binary_file(self):
        data = random.Random(6).randbytes(300_000)
        result = self.convert(data, ["-letter"])
        pages, _, _ = read_document(self, result.stdout)
        self.assertEqual(pages, model_pages(data, 80, LETTER_LINES))

    def test_single_line_of_one_megabyte(self):
        words = b"lorem ipsum dolor sit amet consectetur adipiscing elit "
        data = (words * (1024 * 1024 // len(words) + 1))[:1024 * 1024]
        result = self.convert(data, ["-letter"])
        pages, _, _ = read_document(self, result.stdout)
        expected = model_pages(data, 80, LETTER_LINES)
        self.assertEqual(len(pages), math.ceil(math.ceil(len(data) / 80) / LETTER_LINES))
        self.assertEqual(pages, expected)


class Document(ConverterCase):
    """The document around the text: information, fonts, paper, output file."""

    def info(self, pdf_bytes):
        with tempfile.NamedTemporaryFile(suffix=".pdf", delete=False) as f:
            f.write(pdf_bytes)
            path = f.name
        try:
            qpdf_check(self, path)
            out = subprocess.run(["pdfinfo", "-isodates", path], stdout=subprocess.PIPE,
                                 check=True).stdout.decode()
            fonts = subprocess.run(["pdffonts", path], stdout=subprocess.PIPE,
                                   check=True).stdout.decode()
        finally:
            os.unlink(path)
        return dict(re.findall(r"^([^:]+):\s*(.*)$", out, re.M)), fonts

    def test_information_and_compression(self):
        result = self.convert(b"hello\n" * 500, ["-letter"], name="notes été.txt")
        info, fonts = self.info(result.stdout)
        self.assertEqual(info["Title"], "notes été.txt")
        self.assertTrue(info["Producer"].startswith("TEXT2PDF "))
        self.assertEqual(info["CreationDate"], "2023-11-14T22:13:20Z")
        self.assertIn("Courier", fonts)
        self.assertIn("WinAnsi", fonts)
        # Every stream is compressed with Flate.
        streams = re.findall(rb"<<[^>]*/Length \d+[^>]*>>stream", result.stdout)
        self.assertTrue(streams)
        for header in streams:
            self.assertIn(b"/FlateDecode", header)
        self.assertLess(len(result.stdout), 3000)

    def test_standard_input_and_output_file(self):
        with tempfile.TemporaryDirectory() as folder:
            target = os.path.join(folder, "out.pdf")
            result = run(["-letter", "-o", native_path(target), "-"], stdin=b"from a pipe\n")
            self.assertEqual((result.status, result.stdout, result.stderr), (0, b"", b""))
            with open(target, "rb") as f:
                data = f.read()
        info, _ = self.info(data)
        self.assertNotIn("Title", info)
        pages, _, _ = read_document(self, data)
        self.assertEqual(pages, [["from a pipe"]])

    def test_fonts(self):
        for name in ["Courier", "Courier-Bold", "Courier-Oblique", "courier-boldoblique"]:
            with self.subTest(name):
                _, fonts = self.info(self.convert(b"x\n", ["-f" + name]).stdout)
                self.assertIn(name.lower(), fonts.lower())

    def test_paper_options(self):
        cases = [
            (["-letter"], "612 x 792"),
            (["-A4"], "595 x 842"),
            (["-A3"], "842 x 1191"),
            (["-A4", "-L"], "842 x 595"),
            (["-x", "500", "-y700"], "500 x 700"),
            (["-x700", "-y500", "-L"], "700 x 500"),
            (["-x700", "-y500"], "700 x 500"),
        ]
        for options, size in cases:
            with self.subTest(options=options):
                info, _ = self.info(self.convert(b"x\n", options).stdout)
                self.assertTrue(info["Page size"].startswith(size), info["Page size"])

    @unittest.skipIf(os.name != "posix", "the paper configuration of POSIX systems")
    def test_default_paper_from_the_paper_configuration(self):
        with tempfile.TemporaryDirectory() as folder:
            conf = os.path.join(folder, "papersize")
            with open(conf, "w") as f:
                f.write("# the site's paper\n\n  A3\n")
            cases = [
                ({"PAPERSIZE": "a4"}, "595 x 842"),
                ({"PAPERSIZE": "letter", "PAPERCONF": conf}, "612 x 792"),
                ({"PAPERCONF": conf}, "842 x 1191"),
                ({"PAPERSIZE": "unknown", "PAPERCONF": conf}, "842 x 1191"),
            ]
            for env, size in cases:
                with self.subTest(env=env):
                    if EMULATOR:
                        self.skipTest("Win32 takes the paper from the locale")
                    result = run(["-"], stdin=b"x\n", env=env)
                    self.assertEqual(result.status, 0, result.stderr)
                    info, _ = self.info(result.stdout)
                    self.assertTrue(info["Page size"].startswith(size), info["Page size"])


class CommandLine(unittest.TestCase):
    """Option errors, missing files, help and version."""

    def assertFails(self, args, status, *names, cwd=None):
        result = run(args, stdin=b"x\n", cwd=cwd)
        self.assertEqual(result.status, status, result.stderr)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
        self.assertTrue(result.stderr.startswith(b"text2pdf: "), result.stderr)
        for name in names:
            self.assertIn(name.encode(), result.stderr)
        return result

    def test_option_errors(self):
        cases = [
            (["-q"], "'-q'"), (["--frobnicate"], "--frobnicate"), (["-c"], "-c"),
            (["-c0"], "-c"), (["-cx"], "'x'"), (["-c1001"], "-c"), (["-l", "-5"], "'-5'"),
            (["-s0"], "-s"), (["-s1.2345"], "-s"), (["-v"], "-v"), (["-t0"], "-t"),
            (["-x10"], "-x"), (["-y99999"], "-y"), (["-fHelvetica"], "Helvetica"),
            (["-letters"], "-l"), (["-o"], "-o"),
        ]
        for args, name in cases:
            with self.subTest(args=args):
                result = self.assertFails(args, 2, name)
                self.assertIn(b"--help", result.stderr)

    def test_values_attached_or_separate(self):
        attached = run(["-c132", "-l92", "-s6", "-v8", "-t4", "-letter", "-"], stdin=b"a\tb\n")
        separate = run(["-c", "132", "-l", "92", "-s", "6", "-v", "8", "-t", "4", "-letter",
                        "-"], stdin=b"a\tb\n")
        self.assertEqual(attached.status, 0, attached.stderr)
        self.assertEqual(attached.stdout, separate.stdout)

    def test_unreadable_inputs(self):
        with tempfile.TemporaryDirectory() as folder:
            missing = native_path(os.path.join(folder, "missing.txt"))
            self.assertFails([missing], 1, "missing.txt")
            self.assertFails(["-c80", missing], 1, "missing.txt")
            self.assertFails([native_path(folder)], 1, os.path.basename(folder))
            # The output is not created when the input cannot be read.
            target = os.path.join(folder, "out.pdf")
            self.assertFails(["-o", native_path(target), missing], 1, "missing.txt")
            self.assertFalse(os.path.exists(target))
            self.assertFails(["-o", native_path(os.path.join(folder, "no", "out.pdf")), "-"], 1,
                             "out.pdf")

    def test_output_that_would_destroy_the_input(self):
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "notes.txt")
            text = b"precious\n" * 100000
            with open(source, "wb") as f:
                f.write(text)
            os.link(source, os.path.join(folder, "link.txt"))
            for target in ["notes.txt", "link.txt", "./notes.txt"]:
                with self.subTest(target=target):
                    self.assertFails(["-o", target, "notes.txt"], 1, target, cwd=folder)
                    with open(source, "rb") as f:
                        self.assertEqual(f.read(), text)
            # "-o -" is standard output.
            result = run(["-o", "-", "notes.txt"], cwd=folder)
            self.assertEqual(result.status, 0, result.stderr)
            self.assertTrue(result.stdout.startswith(b"%PDF-"))

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs a full device")
    def test_output_that_cannot_be_written(self):
        if EMULATOR:
            self.skipTest("a POSIX device")
        self.assertFails(["-o", native_path("/dev/full"), "-"], 1, "/dev/full")

    def test_help_and_version(self):
        for args in (["-h"], ["--help"]):
            result = run(args)
            self.assertEqual((result.status, result.stderr), (0, b""))
            self.assertIn(b"Usage: text2pdf", result.stdout)
            for option in [b"-L", b"-cN", b"-lN", b"-sN", b"-vN", b"-tN", b"-A4", b"-letter",
                           b"-xN", b"-fNAME", b"-o FILE", b"--version"]:
                self.assertIn(option, result.stdout)
        for args in (["-V"], ["--version"]):
            result = run(args)
            self.assertEqual((result.status, result.stderr), (0, b""))
            self.assertRegex(result.stdout, rb"^text2pdf \d+\.\d+\.\d+\n$")

    def test_name_in_parts_is_one_file(self):
        # An unquoted name with a blank reaches the converter as two arguments.
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "my notes.txt"), "wb") as f:
                f.write(b"blank in the name\n")
            result = run(["-letter", native_path(os.path.join(folder, "my")), "notes.txt"])
            self.assertEqual(result.status, 0, result.stderr)
            self.assertIn(b"/Title(my notes.txt)", result.stdout)


@unittest.skipIf(os.name != "posix", "needs a pseudo-terminal")
class Terminal(unittest.TestCase):
    """The progress line and the refusal to write a PDF onto a terminal."""

    def run_with_terminal(self, args, terminal_stdout):
        import pty
        leader, follower = pty.openpty()
        command = ([EMULATOR] if EMULATOR else []) + [CONVERTER] + args
        with tempfile.TemporaryFile() as out:
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                       stdout=follower if terminal_stdout else out,
                                       stderr=follower)
            os.close(follower)
            seen = b""
            while True:
                try:
                    chunk = os.read(leader, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                seen += chunk
            status = process.wait(timeout=300)
            os.close(leader)
            out.seek(0)
            return status, out.read(), seen

    def setUp(self):
        if EMULATOR:
            self.skipTest("Wine's console is not a pseudo-terminal")

    def test_progress_for_a_large_file_only_on_a_terminal(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "large.txt")
            line = b"The quick brown fox jumps over the lazy dog, again and again and again.\n"
            with open(path, "wb") as f:
                f.write(line * (70 * 1024 * 1024 // len(line)))
            small = os.path.join(folder, "small.txt")
            with open(small, "wb") as f:
                f.write(line * 1000)

            status, pdf, seen = self.run_with_terminal([path], False)
            self.assertEqual(status, 0)
            self.assertTrue(pdf.startswith(b"%PDF-"))
            self.assertRegex(seen, rb"^\rtext2pdf: \d+% \d+\.\d MB/s")
            # The line is blanked out at the end, leaving the cursor at its start.
            self.assertRegex(seen, rb"\r +\r$")
            self.assertNotIn(b"\n", seen)

            status, _, seen = self.run_with_terminal([small], False)
            self.assertEqual((status, seen), (0, b""))
            result = run([path])  # standard error is a pipe
            self.assertEqual((result.status, result.stderr), (0, b""))

    def test_no_pdf_onto_a_terminal(self):
        status, _, seen = self.run_with_terminal(["-"], True)
        self.assertEqual(status, 2)
        self.assertIn(b"-o FILE", seen)
        self.assertNotIn(b"%PDF", seen)


def main():
    global CONVERTER, EMULATOR
    parser = argparse.ArgumentParser()
    parser.add_argument("--converter", required=True)
    parser.add_argument("--emulator")
    args, rest = parser.parse_known_args()
    CONVERTER = os.path.abspath(args.converter)
    EMULATOR = args.emulator
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
