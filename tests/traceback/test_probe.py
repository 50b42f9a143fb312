#!/usr/bin/env python3
"""Runs the traceback probe and checks its reports against the probe's own source lines."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

OPTIONS = None

HEADER = ("Image".ljust(19) + "PC".ljust(10) + "Routine".ljust(19) + "Line".ljust(12)
          + "Source".ljust(19))
ROW_RE = re.compile(r"^(.{17})  ([0-9A-F]{8})  (.{17})  (.{10})  (.*)$")


def marked_line(marker):
    with open(OPTIONS.source, encoding="utf-8") as source:
        for number, line in enumerate(source, 1):
            if line.rstrip().endswith("// " + marker):
                return number
    raise AssertionError(f"no line marked {marker!r} in {OPTIONS.source}")


def run_probe(mode, probe=None):
    command = [probe or OPTIONS.probe, mode]
    if OPTIONS.emulator:
        command.insert(0, OPTIONS.emulator)
    result = subprocess.run(command, capture_output=True, timeout=120)
    stderr = result.stderr.decode("latin-1").replace("\r\n", "\n")
    return result.returncode, result.stdout.decode("latin-1").replace("\r\n", "\n"), stderr


class ProbeReport(unittest.TestCase):
    def check_layout(self, lines):
        """The header, then rows in the report's columns; returns the parsed rows."""
        self.assertEqual(lines[0], HEADER)
        # 80 characters with the LF, the last 13 before it blanks.
        self.assertEqual(len(lines[0]) + 1, 80)
        self.assertTrue(lines[0].endswith("Source" + " " * 13))
        rows = []
        for line in lines[1:]:
            match = ROW_RE.match(line)
            self.assertIsNotNone(match, f"row out of layout: {line!r}")
            image, pc, routine, number, source = match.groups()
            rows.append((image.rstrip(), pc, routine.rstrip(), number.strip(), source))
            if routine.rstrip() == "Unknown":
                self.assertEqual(number, "   Unknown")
                self.assertEqual(source, "Unknown")
        self.assertGreater(len(rows), 1)
        return rows

    def probe_rows(self, rows):
        return [row for row in rows if row[2] == "ProbeRoutine"]

    def test_fault_report_starts_at_the_faulting_line(self):
        status, _, stderr = run_probe("fault")
        self.assertEqual(status, 157, stderr)
        lines = stderr.split("\n")
        self.assertEqual(lines[0], "probe: access violation")
        self.assertEqual(lines[-1], "")
        rows = self.check_layout(lines[1:-1])
        image_name = os.path.basename(OPTIONS.probe)[:17]
        self.assertEqual(rows[0][0], image_name)
        self.assertEqual(rows[0][2:], ("ProbeRoutine", str(marked_line("fault here")),
                                       "probe_routine.cpp"))
        # The probe's main function calls the routine; it has no table, so its row says Unknown.
        self.assertEqual(rows[1][0], image_name)
        self.assertEqual(rows[1][2:], ("Unknown", "Unknown", "Unknown"))
        self.assertEqual(len(self.probe_rows(rows)), 1)
        self.assertNotIn("terminated abnormally", stderr)

    def test_report_names_the_calling_line(self):
        status, _, stderr = run_probe("report")
        self.assertEqual(status, 0, stderr)
        lines = stderr.split("\n")
        self.assertEqual(lines[0], "probe: report")
        rows = self.check_layout(lines[1:-1])
        covered = self.probe_rows(rows)
        self.assertEqual(len(covered), 1, rows)
        # The frame's program counter is the return address, the first byte after the call, which
        # the table counts to the calling line.
        self.assertEqual(covered[0][2:], ("ProbeRoutine", str(marked_line("report here")),
                                          "probe_routine.cpp"))
        # The machinery that writes the report comes first, unknown to the table.
        self.assertEqual(rows[0][2], "Unknown")
        self.assertNotIn("terminated abnormally", stderr)
        if OPTIONS.addr2line and not OPTIONS.emulator:
            # The PC column is the value addr2line takes for the image.
            located = subprocess.run([OPTIONS.addr2line, "-e", OPTIONS.probe, covered[0][1]],
                                     capture_output=True, text=True, check=True).stdout
            self.assertTrue(located.strip().startswith(os.path.abspath(OPTIONS.source) + ":"),
                            located)

    def test_fault_inside_the_walk_ends_it_abnormally(self):
        status, stdout, stderr = run_probe("walk-fault")
        self.assertEqual(status, 0, stderr)
        self.assertEqual(stdout, "abnormal\n")


class TableGenerator(unittest.TestCase):
    """The build step that writes the table: it fails the build rather than leave a wrong or
    missing table, and its table survives stripping."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="traceback-table-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.copy = os.path.join(self.folder, os.path.basename(OPTIONS.probe))
        shutil.copy2(OPTIONS.probe, self.copy)

    def generate(self, function="ProbeRoutine", routine="ProbeRoutine", image=None):
        return subprocess.run(
            [sys.executable, OPTIONS.generator, "--objdump", OPTIONS.objdump,
             "--image", image or self.copy, "--function", function,
             "--source", os.path.abspath(OPTIONS.source), "--routine", routine],
            capture_output=True, text=True)

    def test_table_is_rebuilt_identically(self):
        result = self.generate()
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(OPTIONS.probe, "rb") as built, open(self.copy, "rb") as rebuilt:
            self.assertEqual(built.read(), rebuilt.read())

    def test_failures_fail_the_build(self):
        stripped = os.path.join(self.folder, "stripped-" + os.path.basename(OPTIONS.probe))
        subprocess.run([OPTIONS.objcopy, "--strip-debug", self.copy, stripped], check=True)
        cases = [
            ("no line information", dict(image=stripped), "built without -g"),
            ("unknown routine", dict(function="NoSuchRoutine"), "no definition of NoSuchRoutine"),
            ("table too large", dict(routine="R" * 9000), "reservation holds"),
        ]
        for name, arguments, message in cases:
            with self.subTest(name):
                with open(arguments.get("image", self.copy), "rb") as image:
                    before = image.read()
                result = self.generate(**arguments)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(message, result.stderr)
                with open(arguments.get("image", self.copy), "rb") as image:
                    self.assertEqual(image.read(), before, "a failed run left the image changed")

    def test_stripped_program_keeps_its_table(self):
        stripped = os.path.join(self.folder, "stripped-" + os.path.basename(OPTIONS.probe))
        subprocess.run([OPTIONS.objcopy, "--strip-all", self.copy, stripped], check=True)
        status, _, stderr = run_probe("fault", stripped)
        self.assertEqual(status, 157, stderr)
        first_row = stderr.split("\n")[2]
        self.assertRegex(first_row, r"  ProbeRoutine +%d  probe_routine\.cpp$" % marked_line("fault here"))


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--emulator")
    parser.add_argument("--addr2line")
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--objcopy", required=True)
    parser.add_argument("--generator", required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
