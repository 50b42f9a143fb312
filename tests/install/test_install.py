"""The installation as its users get it: the programs and manual pages that `cmake --install` puts
into a prefix, the installed pageout run end to end with the installed converter through the POSIX
shell, and the Win32 .zip package unpacked and its programs run under the emulator.

CTest gives the settings through the environment:

  PAGEOUT_INSTALL_BUILD    the build folder to install or package
  PAGEOUT_INSTALL_CMAKE    the cmake program
  PAGEOUT_INSTALL_CPACK    the cpack program
  PAGEOUT_INSTALL_SAMPLE   samples/sample.txt
  PAGEOUT_INSTALL_VERSION  the project's version
and those of the end-to-end harness (tests/e2e/harness.py) for the fake interpreter, the launcher
and the emulator. The group to run (a class name) is the script's argument.
"""

import glob
import os
import re
import shutil
import stat
import subprocess
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402
from texts import (AFTER_LANDSCAPE_NO, BANNER, LANDSCAPE_132, LANDSCAPE_QUESTION,  # noqa: E402
                   LEGEND, NAME_PROMPT, PORTRAIT_132, PORTRAIT_132_QUESTION, PORTRAIT_80,
                   PORTRAIT_80_QUESTION, converter)

BUILD = os.environ.get("PAGEOUT_INSTALL_BUILD", "")
CMAKE = os.environ.get("PAGEOUT_INSTALL_CMAKE", "cmake")
CPACK = os.environ.get("PAGEOUT_INSTALL_CPACK", "cpack")
SAMPLE = os.environ.get("PAGEOUT_INSTALL_SAMPLE", "")
VERSION = os.environ.get("PAGEOUT_INSTALL_VERSION", "")

# The widest line of the sample: 132 digits, whole on a page of 132 columns, wrapped at 80.
DIGITS_132 = ("1234567890" * 14)[:132]

# Answers to the layout questions, the questions they see, the command prefix they choose and the
# page the converter makes of it: (answers, questions, prefix, landscape, whole 132-column line).
LAYOUTS = [
    (b"\n", LANDSCAPE_QUESTION, LANDSCAPE_132, True, True),
    (b"n\n\n", LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION, PORTRAIT_132,
     False, True),
    (b"N\nN\ny\n", LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION
     + PORTRAIT_80_QUESTION, PORTRAIT_80, False, False),
]


def run(argv, **options):
    return subprocess.run(argv, capture_output=True, timeout=600, **options)


def check_pdf(test, path):
    """OT.PDF is a sound PDF; returns its text as pdftotext reads it."""
    with open(path, "rb") as f:
        test.assertTrue(f.read(8).startswith(b"%PDF-"), path)
    checked = run(["qpdf", "--check", path])
    test.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
    return run(["pdftotext", "-layout", path, "-"], check=True).stdout.decode("utf-8")


def check_sample_text(test, text):
    test.assertIn("PAGEOUT SAMPLE TEXT", text)
    test.assertIn("café reopened, staff +2", text)
    test.assertIn("Zürich", text)


def page_size(path):
    """Width and height in points of the first page."""
    info = run(["pdfinfo", path], check=True).stdout.decode("latin-1")
    match = re.search(r"Page size:\s+([\d.]+) x ([\d.]+) pts", info)
    return float(match.group(1)), float(match.group(2))


class InstalledPrefix(harness.TestCase):
    """A test with the build installed into a temporary prefix."""

    def setUp(self):
        super().setUp()
        self.prefix = os.path.join(self.folder, "prefix")
        installed = run([CMAKE, "--install", BUILD, "--prefix", self.prefix])
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        self.bin = os.path.join(self.prefix, "bin")


class Tree(InstalledPrefix):
    def test_programs_link_and_manual_pages_are_installed(self):
        for name in ("pageout", "text2pdf"):
            path = os.path.join(self.bin, name)
            self.assertTrue(os.path.isfile(path) and os.access(path, os.X_OK), path)
        # The converter's second name is a relative link, so the installation can move as a whole.
        link = os.path.join(self.bin, "TEXT2PDF.EXE")
        self.assertTrue(os.path.islink(link), link)
        self.assertEqual(os.readlink(link), "text2pdf")
        self.assertEqual(sorted(os.listdir(self.bin)), ["TEXT2PDF.EXE", "pageout", "text2pdf"])
        man = os.path.join(self.prefix, "share", "man", "man1")
        self.assertEqual(sorted(os.listdir(man)), ["pageout.1", "text2pdf.1"])
        for page in ("pageout.1", "text2pdf.1"):
            with self.subTest(page=page):
                mode = os.stat(os.path.join(man, page)).st_mode
                self.assertFalse(mode & (stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH))
                if shutil.which("groff"):
                    # Warnings of every kind go to standard error; a clean page has none.
                    formatted = run(["groff", "-man", "-Tutf8", "-ww", "-z",
                                     os.path.join(man, page)])
                    self.assertEqual(formatted.returncode, 0, formatted.stderr)
                    self.assertEqual(formatted.stderr, b"")

    def test_installed_converter_answers_by_both_names(self):
        for name in ("text2pdf", "TEXT2PDF.EXE"):
            with self.subTest(name=name):
                shown = run([os.path.join(self.bin, name), "--version"])
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertIn(VERSION.encode(), shown.stdout)


class Run(InstalledPrefix):
    """The installed pageout with COMSPEC unset, so /bin/sh runs the commands, and PATH holding only
    a fake viewer and the installed programs."""

    def setUp(self):
        super().setUp()
        self.viewer_folder = viewer_folder = os.path.join(self.folder, "viewer")
        os.makedirs(viewer_folder)
        self.viewer_log = os.path.join(self.folder, "viewer.log")
        for name in ("xdg-open", "open"):
            viewer = os.path.join(viewer_folder, name)
            with open(viewer, "w") as f:
                f.write('#!/bin/sh\nprintf "%%s|%%s|%%s\\n" "$(pwd -P)" "%s" "$*" >> "%s"\n'
                        % (name, self.viewer_log))
            os.chmod(viewer, 0o755)
        self.path = viewer_folder + ":" + self.bin
        harness.PAGEOUT = os.path.join(self.bin, "pageout")
        self.ot_pdf = os.path.join(self.work, "OT.PDF")

    def viewer_calls(self):
        if not os.path.exists(self.viewer_log):
            return []
        with open(self.viewer_log) as f:
            return f.read().splitlines()

    def expect_viewer_once(self):
        viewer = "open" if sys.platform == "darwin" else "xdg-open"
        self.assertEqual(self.viewer_calls(), [os.path.realpath(self.work) + "|" + viewer
                                               + "|OT.PDF"])

    def test_file_named_on_the_command_line(self):
        # A name with a blank and a quote: the shell must hand it to the converter as one argument.
        shutil.copy(SAMPLE, os.path.join(self.work, "it's the sample.txt"))
        result = self.runner.run(["it's the sample.txt"], comspec=harness.UNSET, path=self.path)
        self.assertRun(result, stdout=BANNER, stderr=b"", status=0)
        text = check_pdf(self, self.ot_pdf)
        check_sample_text(self, text)
        self.assertIn(DIGITS_132, text)
        width, height = page_size(self.ot_pdf)
        self.assertGreater(width, height)
        self.expect_viewer_once()

    def test_each_layout_chosen_in_the_dialogue(self):
        shutil.copy(SAMPLE, os.path.join(self.work, "sample.txt"))
        for answers, questions, prefix, landscape, whole_line in LAYOUTS:
            with self.subTest(prefix=prefix.strip()):
                for leftover in (self.ot_pdf, self.viewer_log):
                    if os.path.exists(leftover):
                        os.remove(leftover)
                result = self.runner.run(stdin=b"sample.txt\n" + answers,
                                         comspec=harness.UNSET, path=self.path)
                self.assertRun(result, stdout=BANNER + NAME_PROMPT + LEGEND + questions,
                               stderr=b"", status=0)
                text = check_pdf(self, self.ot_pdf)
                check_sample_text(self, text)
                self.assertEqual(DIGITS_132 in text, whole_line)
                self.assertIn(DIGITS_132[:80], text)
                width, height = page_size(self.ot_pdf)
                self.assertEqual(width > height, landscape, (width, height))
                self.expect_viewer_once()

    def test_converter_missing_from_path_leaves_no_document(self):
        # The shell reports the missing converter on standard error itself; pageout goes on to the
        # viewer and ends with success, whatever the commands' outcome.
        shutil.copy(SAMPLE, os.path.join(self.work, "sample.txt"))
        result = self.runner.run(["sample.txt"], comspec=harness.UNSET, path=self.viewer_folder)
        self.assertEqual(result.status, 0, result)
        self.assertIn(b"TEXT2PDF.EXE", result.stderr)
        with open(self.ot_pdf, "rb") as f:
            self.assertEqual(f.read(), b"")
        self.expect_viewer_once()


class Zip(harness.TestCase):
    """The Win32 package: built with cpack, unpacked, its programs run under the emulator."""

    def setUp(self):
        super().setUp()
        packages = os.path.join(self.folder, "packages")
        built = run([CPACK, "-G", "ZIP", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                     "-B", packages])
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        archives = glob.glob(os.path.join(packages, "*.zip"))
        self.assertEqual([os.path.basename(a) for a in archives],
                         ["pageout-%s-win32.zip" % VERSION])
        with zipfile.ZipFile(archives[0]) as archive:
            self.names = sorted(archive.namelist())
            archive.extractall(os.path.join(self.folder, "unpacked"))
        self.top = os.path.join(self.folder, "unpacked", "pageout-%s-win32" % VERSION)
        self.bin = os.path.join(self.top, "bin")
        # Zip archives made on POSIX keep no Windows attributes; Wine needs no execute bit either.
        shutil.copy(SAMPLE, os.path.join(self.work, "sample.txt"))

    def test_package_holds_the_two_programs_and_the_note(self):
        top = "pageout-%s-win32/" % VERSION
        files = [name for name in self.names if not name.endswith("/")]
        self.assertEqual(files, [top + "README-WINDOWS.txt", top + "bin/TEXT2PDF.EXE",
                                 top + "bin/pageout.exe"])
        with open(os.path.join(self.top, "README-WINDOWS.txt"), "rb") as f:
            note = f.read()
        # A note for Notepad: CR LF line ends, plain ASCII.
        self.assertNotIn(b"\n", note.replace(b"\r\n", b""))
        self.assertTrue(all(byte < 0x80 for byte in note))
        objdump = shutil.which("i686-w64-mingw32-objdump")
        if objdump:
            for program in ("pageout.exe", "TEXT2PDF.EXE"):
                with self.subTest(program=program):
                    headers = run([objdump, "-p", os.path.join(self.bin, program)],
                                  check=True).stdout.decode("latin-1")
                    dlls = set(re.findall(r"DLL Name: (\S+)", headers))
                    # Only libraries every Windows has: nothing must travel beside the programs.
                    self.assertTrue(dlls, headers)
                    self.assertLessEqual({d.lower() for d in dlls},
                                         {"kernel32.dll", "msvcrt.dll", "user32.dll",
                                          "advapi32.dll", "shell32.dll", "dbghelp.dll",
                                          "imagehlp.dll", "psapi.dll", "ntdll.dll"})

    def test_converter_from_the_package_converts_the_sample(self):
        out = os.path.join(self.work, "OT.PDF")
        with open(out, "wb") as f:
            converted = subprocess.run(
                [harness.EMULATOR, os.path.join(self.bin, "TEXT2PDF.EXE"), "-c160", "-L", "-s8",
                 "-v7", harness.windows_path(os.path.join(self.work, "sample.txt"))],
                stdout=f, stderr=subprocess.PIPE, cwd=self.work, timeout=600)
        self.assertEqual(converted.returncode, 0, converted.stderr)
        text = check_pdf(self, out)
        check_sample_text(self, text)
        self.assertIn(DIGITS_132, text)
        width, height = page_size(out)
        self.assertGreater(width, height)

    def test_pageout_from_the_package_converts_through_the_system_interpreter(self):
        # COMSPEC unset: pageout finds cmd.exe along PATH, and cmd.exe finds the packaged converter.
        # The emulator associates no program with PDF files, so the viewer command only fails.
        harness.PAGEOUT = os.path.join(self.bin, "pageout.exe")
        path = harness.windows_path(self.bin) + ";C:\\windows\\system32;C:\\windows"
        result = self.runner.run(["sample.txt"], comspec=harness.UNSET, path=path)
        self.assertRun(result, stdout=BANNER, stderr=None, status=0)
        self.assertNotIn(b"apperr", result.stderr)
        text = check_pdf(self, os.path.join(self.work, "OT.PDF"))
        check_sample_text(self, text)
        self.assertIn(DIGITS_132, text)

    def test_pageout_from_the_package_runs_the_layout_commands(self):
        harness.PAGEOUT = os.path.join(self.bin, "pageout.exe")
        result = self.runner.run(["sample.txt"], path=harness.windows_path(self.bin))
        self.assertRun(result, stdout=BANNER, stderr=b"", status=0,
                       calls=self.runner.expected_calls(converter(LANDSCAPE_132, "sample.txt"),
                                                        "OT.PDF"))
        for answers, questions, prefix, _, _ in LAYOUTS:
            with self.subTest(prefix=prefix.strip()):
                result = self.runner.run(stdin=b"sample.txt\r\n" + answers.replace(b"\n", b"\r\n"),
                                         path=harness.windows_path(self.bin))
                self.assertRun(result, stdout=BANNER + NAME_PROMPT + LEGEND + questions,
                               stderr=b"", status=0,
                               calls=self.runner.expected_calls(converter(prefix, "sample.txt"),
                                                                "OT.PDF"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
