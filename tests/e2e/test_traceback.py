"""The traceback report behind a severe diagnostic, as pageout writes it: end of input at the
file-name prompt gives the diagnostic line, the report's header and one row per frame, with the main
routine's row naming the line of the field read in frontend/pageout.cpp."""

import os
import re
import shutil
import subprocess
import sys

import harness
from texts import BANNER, END_OF_INPUT, NAME_PROMPT

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
import trace_table  # noqa: E402  (the build step's own reader of image sections)

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "frontend",
                      "pageout.cpp")

HEADER = (b"Image".ljust(19) + b"PC".ljust(10) + b"Routine".ljust(19) + b"Line".ljust(12)
          + b"Source".ljust(19) + b"\r\n")
ROW = re.compile(rb"^(.{17})  ([0-9A-F]{8})  (.{17})  (.{10})  ([^\r\n]*)\r\n$")


def read_table(data):
    """The records of an encoded traceback table as (start, length, paths, entries)."""
    position = 0

    def byte():
        nonlocal position
        position += 1
        return data[position - 1]

    def unsigned():
        value, shift = 0, 0
        while True:
            b = byte()
            value |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return value

    def signed():
        value, shift = 0, 0
        while True:
            b = byte()
            value |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return value - (1 << shift) if b & 0x40 else value

    def text():
        nonlocal position
        length = unsigned()
        position += length
        return data[position - length:position].decode("utf-8")

    if data[:4] != b"TRC1":
        raise AssertionError("no traceback table: %r" % data[:4])
    position = 8  # the magic and the reservation size
    records = []
    for _ in range(unsigned()):
        start, length = unsigned(), unsigned()
        paths = [text() for _ in range(unsigned())]
        entries = []
        for _ in range(unsigned()):
            kind = byte()
            if kind == 1:
                entries.append(("routine", unsigned(), text()))
            elif kind == 2:
                entries.append(("source", unsigned()))
            elif kind == 3:
                entries.append(("line", signed(), unsigned()))
            else:
                raise AssertionError("unknown entry kind %d" % kind)
        records.append((start, length, paths, entries))
    return records


def main_routine_lines():
    """The first and last line of the main routine's definition in its source."""
    with open(SOURCE, encoding="utf-8") as source:
        lines = source.read().split("\n")
    first = next(number for number, line in enumerate(lines, 1) if line.startswith("void Pageout("))
    last = next(number for number, line in enumerate(lines, 1) if number > first and line == "}")
    return first, last


def file_name_read_line():
    """The number of the source line in the main routine that reads the file-name field."""
    with open(SOURCE, encoding="utf-8") as source:
        lines = source.read().split("\n")
    numbers = [number for number, line in enumerate(lines, 1)
               if re.search(r"\bReadField\(.*\bfile_name\b", line)]
    if len(numbers) != 1:
        raise AssertionError("expected one read of the file-name field in %s, found lines %r"
                             % (SOURCE, numbers))
    return numbers[0]


class Traceback(harness.TestCase):
    def split_report(self, stderr):
        """The rows of a report that follows the end-of-input diagnostic, as tuples of text."""
        self.assertTrue(stderr.startswith(END_OF_INPUT), stderr)
        report = stderr[len(END_OF_INPUT):]
        self.assertTrue(report.startswith(HEADER), report)
        self.assertEqual(len(HEADER) - 2, 79)  # 80 characters with the LF the writer turns to CR LF
        lines = report[len(HEADER):].splitlines(keepends=True)
        rows = []
        for line in lines:
            match = ROW.match(line)
            self.assertIsNotNone(match, "row out of layout: %r in %r" % (line, report))
            image, pc, routine, number, source = (part.decode("latin-1") for part in match.groups())
            rows.append((image.rstrip(), pc, routine.rstrip(), number, source))
        return rows

    def test_end_of_input_at_the_file_name_prompt(self):
        result = self.runner.run(stdin=b"", stdin_kind="file")
        self.assertEqual(result.status, 24, result.stderr)
        self.assertEqual(result.stdout, BANNER + NAME_PROMPT)
        rows = self.split_report(result.stderr)

        program = os.path.basename(harness.PAGEOUT)[:17]
        main_rows = [index for index, row in enumerate(rows) if row[2] == "_MAIN__"]
        self.assertEqual(len(main_rows), 1, rows)
        main = rows[main_rows[0]]
        self.assertEqual(main[0], program)
        self.assertEqual(main[3], "%10d" % file_name_read_line())
        self.assertEqual(main[4], "pageout.cpp")
        # The diagnostic machinery and the field read come before the main routine, the start-up
        # code and the platform's libraries after it; none of them is in the table.
        self.assertGreater(main_rows[0], 0)
        self.assertGreater(len(rows), main_rows[0] + 1)
        for index, row in enumerate(rows):
            if index != main_rows[0]:
                self.assertEqual(row[2:], ("Unknown", "   Unknown", "Unknown"), row)
        self.assertEqual(rows[0][0], program)
        self.assertNotIn(b"terminated abnormally", result.stderr)

        addr2line = shutil.which("addr2line")
        if not self.runner.win32 and addr2line:
            # On POSIX the PC column is the offset from the module's load address: the value
            # addr2line takes for the executable. The main routine's row holds a return address;
            # the byte before it is part of the call, on the line of the field read.
            call = "%x" % (int(main[1], 16) - 1)
            located = subprocess.run([addr2line, "-e", harness.PAGEOUT, call], check=True,
                                     capture_output=True, text=True).stdout.strip()
            self.assertRegex(located, r"pageout\.cpp:%d\b" % file_name_read_line())

    def test_table_of_the_main_routine(self):
        # One record over the main routine: its source path, "_MAIN__" at the record's first byte,
        # then line entries within the routine's lines whose code fills the record to its end.
        with open(harness.PAGEOUT, "rb") as image:
            data = image.read()
        offset, size, _ = trace_table.trace_section(data)
        records = read_table(data[offset:offset + size])
        self.assertEqual(len(records), 1)
        start, length, paths, entries = records[0]
        self.assertEqual(paths, [os.path.realpath(SOURCE)])
        self.assertEqual(entries[0], ("routine", start, "_MAIN__"))
        first, last = main_routine_lines()
        line, covered = 0, 0
        for entry in entries[1:]:
            self.assertEqual(entry[0], "line", entries)
            line += entry[1]
            covered += entry[2]
            self.assertTrue(first <= line <= last, "line %d outside %d..%d" % (line, first, last))
            self.assertGreater(entry[2], 0)
        self.assertEqual(covered, length)
        self.assertIn(file_name_read_line(), self.lines_of(entries))
        nm = shutil.which("nm")
        if not self.runner.win32 and nm:
            # The record's range is the routine's symbol, as the symbol table has it.
            symbols = subprocess.run([nm, "-S", "--defined-only", harness.PAGEOUT], check=True,
                                     capture_output=True, text=True).stdout
            routine = [line.split() for line in symbols.splitlines()
                       if line.split()[-1].startswith("_ZN7pageout8frontend7Pageout")]
            self.assertEqual(len(routine), 1, routine)
            self.assertEqual((int(routine[0][0], 16), int(routine[0][1], 16)), (start, length))

    def lines_of(self, entries):
        line, lines = 0, []
        for entry in entries[1:]:
            line += entry[1]
            lines.append(line)
        return lines

    def test_same_rows_for_every_run(self):
        # The table is read from the image wherever the loader put it. On POSIX the PC column is an
        # offset into the module and so the same in every run as well; on Win32 it is the address.
        reports = [self.split_report(self.runner.run(stdin=b"", stdin_kind="file").stderr)
                   for _ in range(2)]
        if self.runner.win32:
            reports = [[row[:1] + row[2:] for row in rows] for rows in reports]
        self.assertEqual(reports[0], reports[1])

if __name__ == "__main__":
    harness.main()
