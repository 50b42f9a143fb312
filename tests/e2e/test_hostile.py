"""Hostile input for pageout: endless and enormous lines, thousands of rejected names, enormous
answers, an output that cannot be written, missing standard descriptors, enormous COMSPEC and PATH
values, PATH entries with unbalanced quotes. Each case ends the way the program's rules say, with
memory bounded by the longest line, and leaves nothing in the current directory but OT.PDF."""

import errno
import os
import re
import resource
import shutil
import subprocess
import sys
import threading
import time
import unittest

import harness
from texts import (AFTER_LANDSCAPE_NO, BANNER, END_OF_INPUT, LANDSCAPE_132, LANDSCAPE_QUESTION,
                   LEGEND, NAME_ERROR, NAME_PROMPT, PORTRAIT_132, PORTRAIT_132_QUESTION, converter)

UNDER_VALGRIND = bool(harness.VALGRIND)
# Sizes shrink under valgrind and under Wine, where every read call costs many times more.
MB = (1 << 20) // (16 if UNDER_VALGRIND or harness.PLATFORM == "win32" else 1)


def sanitized():
    """Whether pageout carries AddressSanitizer, which needs far more address space than a limit
    for the test can allow."""
    with open(harness.PAGEOUT, "rb") as f:
        return b"__asan_init" in f.read()


def platform_line(code):
    """The platform error line that precedes a diagnostic for a failed call with errno code."""
    return b"apperr: " + os.strerror(code).encode() + b"\r\r\n"


def severe(number, text):
    return b"apperr: severe (%d): %s\r\r\n" % (number, text)


# Runs a program and writes its peak resident size to the file named by PEAK_FILE.
PEAK_WRAPPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools",
                            "peak_rss.py")


def tree(folder):
    """Every file and folder below folder, as relative paths."""
    found = set()
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(root, name), folder))
    return found


def tool(folder, name):
    """A copy of the fake interpreter under another name; it logs its calls like the original."""
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, name)
    shutil.copy2(harness.FAKE_SHELL, target)
    return target


class Hostile(harness.TestCase):
    def setUp(self):
        super().setUp()
        self.write("in.txt")
        self.before = tree(self.work)

    def tearDown(self):
        # Whatever happened, the program left nothing behind but the converter's OT.PDF.
        self.assertLessEqual(tree(self.work) - self.before, {"OT.PDF"})
        super().tearDown()

    def posix_only(self, why):
        if self.runner.win32:
            self.skipTest(why)

    def launch(self, stdin, stdout, args=(), close=(), limit=None):
        """Starts pageout directly on POSIX, for descriptors the harness does not offer: stdin and
        stdout are descriptors or None, close lists descriptors closed in the child (which then
        runs in a session without a terminal), limit caps its address space. Returns the process;
        finish() collects it."""
        env = dict(os.environ, COMSPEC=harness.FAKE_SHELL,
                   PAGEOUT_FAKE_SHELL_LOG=self.runner.log)

        def prepare():
            for fd in close:
                os.close(fd)
            if limit is not None:
                resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        return subprocess.Popen(harness.VALGRIND + [harness.PAGEOUT] + list(args), stdin=stdin,
                                stdout=stdout, stderr=subprocess.PIPE, cwd=self.work, env=env,
                                preexec_fn=prepare, start_new_session=bool(close))

    def finish(self, process, timeout=300):
        """Waits for the process: (exit status, stderr)."""
        timer = threading.Timer(timeout, process.kill)
        timer.start()
        try:
            err = process.stderr.read()
            process.wait()
        finally:
            timer.cancel()
        process.stderr.close()
        return process.returncode, err

    def peak(self, stdin_path):
        """Runs pageout on the file stdin_path: (exit status, peak resident size in bytes). The
        peak of a process counts the one it was forked from, so pageout is forked from a small
        process of its own rather than from this test."""
        peak_file = os.path.join(self.runner.io, "peak")
        with open(stdin_path, "rb") as stdin:
            status = subprocess.run([sys.executable, PEAK_WRAPPER, harness.PAGEOUT],
                                    stdin=stdin, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, cwd=self.work, timeout=300,
                                    env=dict(os.environ, PEAK_FILE=peak_file,
                                             COMSPEC=harness.FAKE_SHELL)).returncode
        with open(peak_file) as f:
            return status, int(f.read())


class EndlessLines(Hostile):
    def test_stream_without_line_feed_is_one_line_and_ends_at_end_of_input(self):
        data = b"a" * (3 * MB)
        for kind in ("file", "pipe"):
            with self.subTest(kind):
                result = self.runner.run(stdin=data, stdin_kind=kind, timeout=600)
                self.assertRun(result, stdout=BANNER + NAME_PROMPT + NAME_ERROR + NAME_PROMPT,
                               calls=[], status=24, stderr=re.compile(re.escape(END_OF_INPUT)))

    def test_memory_grows_with_the_line_not_beyond(self):
        self.posix_only("the resident size of the Wine process says nothing about the program")
        if UNDER_VALGRIND or sanitized():
            self.skipTest("the sanitizer's or valgrind's own memory hides the program's")
        peaks = {}
        # Sizes well above what the small wrapper process itself holds.
        for size in (64 << 10, 24 << 20, 48 << 20):
            path = os.path.join(self.runner.io, "line")
            with open(path, "wb") as f:
                f.write(b"b" * size)
            status, peaks[size] = self.peak(path)
            self.assertEqual(status, 24)
        # The record buffer doubles as the line needs: at most twice the line, besides the start.
        for size in (24 << 20, 48 << 20):
            self.assertGreater(peaks[size], size, peaks)
            self.assertLess(peaks[size] - peaks[64 << 10], 2 * size + (1 << 20), peaks)

    def test_endless_zero_bytes(self):
        self.posix_only("/dev/zero")
        # While the endless line is read, memory stays within twice what has been read.
        with open("/dev/zero", "rb") as zero:
            process = self.launch(zero, subprocess.DEVNULL)
            time.sleep(3)
            try:
                self.assertIsNone(process.poll(), "pageout ended while reading /dev/zero")
                with open("/proc/%d/io" % process.pid) as f:
                    read = int(re.search(r"rchar: (\d+)", f.read()).group(1))
                with open("/proc/%d/status" % process.pid) as f:
                    status = f.read()
                resident = int(re.search(r"VmRSS:\s+(\d+) kB", status).group(1)) * 1024
                if not UNDER_VALGRIND and not sanitized():
                    self.assertLess(resident, 2 * read + (32 << 20), status)
            finally:
                process.kill()
                self.finish(process)
        if UNDER_VALGRIND or sanitized():
            return
        # Under a limit on its address space the line's buffer cannot grow for ever: the read ends
        # with the out-of-memory diagnostic instead of a crash.
        reader, writer = os.pipe()
        process = self.launch(reader, subprocess.DEVNULL)
        os.close(reader)
        time.sleep(0.5)
        with open("/proc/%d/status" % process.pid) as f:
            size = int(re.search(r"VmSize:\s+(\d+) kB", f.read()).group(1)) * 1024
        os.close(writer)
        self.finish(process)
        with open("/dev/zero", "rb") as zero:
            process = self.launch(zero, subprocess.DEVNULL, limit=size + (3 << 20))
            status, err = self.finish(process)
        self.assertEqual(status, 98, err)
        self.assertIn(severe(98, b"cannot allocate memory for the file buffer - out of memory, "
                                 b"unit -4, file CONIN$"), err)


class RejectedNames(Hostile):
    def test_ten_thousand_rejected_names_in_a_row(self):
        os.mkdir(os.path.join(self.work, "folder"))
        self.before = tree(self.work)
        # A missing file, blanks, a folder, a pattern that matches in.txt, a name too long for the
        # field, a name of bytes no file has, an empty line.
        kinds = [b"missing.txt", b"    ", b"folder", b"*.txt", b"x" * 300, b"\xff\x01\x7f", b""]
        count = 10000 if not UNDER_VALGRIND else 700
        lines = [kinds[i % len(kinds)] for i in range(count)]
        result = self.runner.run(stdin=b"\r\n".join(lines) + b"\r\n", timeout=900)
        self.assertRun(result, stdout=BANNER + (NAME_PROMPT + NAME_ERROR) * count + NAME_PROMPT,
                       calls=[], status=24, stderr=re.compile(re.escape(END_OF_INPUT)))


class EnormousAnswers(Hostile):
    def test_one_megabyte_answers_count_by_their_first_byte(self):
        # A name followed by a megabyte of blanks fills the field with the name; each answer's
        # first byte decides and the rest of its line is dropped.
        stdin = (b"in.txt" + b" " * MB + b"\n" + b"N" + b"n" * MB + b"\n"
                 + b"y" + b"\x00" * MB + b"\n")
        for kind in ("file", "pipe"):
            with self.subTest(kind):
                result = self.runner.run(stdin=stdin, stdin_kind=kind, timeout=600)
                self.assertRun(result, stdout=BANNER + NAME_PROMPT + LEGEND + LANDSCAPE_QUESTION
                               + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION, status=0, stderr=b"",
                               calls=self.runner.expected_calls(converter(PORTRAIT_132, "in.txt"),
                                                                self.runner.viewer_command))


class UnwritableOutput(Hostile):
    def test_output_to_a_full_device(self):
        self.posix_only("/dev/full")
        for args in (["in.txt"], []):
            with self.subTest(args=args):
                with open("/dev/full", "wb") as full:
                    process = self.launch(subprocess.DEVNULL, full, args)
                    status, err = self.finish(process)
                self.assertEqual(status, 38, err)
                self.assertTrue(err.startswith(
                    platform_line(errno.ENOSPC)
                    + severe(38, b"error during write, unit -1, file CONOUT$")), err)
                self.assertFalse(os.path.exists(self.runner.log), "a command ran")

    def test_closed_standard_descriptors_without_a_terminal(self):
        # A closed descriptor is replaced by the terminal; without one, the channel that needs it
        # first cannot be opened. The banner needs standard output before anything is read.
        self.posix_only("closing a descriptor of the Wine process says nothing about Win32")
        for closed in ((0, 1), (1,)):
            with self.subTest(closed=closed):
                process = self.launch(subprocess.DEVNULL, subprocess.DEVNULL, close=closed)
                status, err = self.finish(process)
                self.assertEqual(status, 30, err)
                self.assertTrue(err.startswith(
                    platform_line(errno.ENXIO)
                    + severe(30, b"open failure, unit -1, file CONOUT$")), err)
                self.assertFalse(os.path.exists(self.runner.log), "a command ran")


class Environment(Hostile):
    def tools(self):
        """A folder with logging stand-ins for the programs the commands name."""
        folder = os.path.join(self.folder, "tools")
        for name in (["cmd.exe"] if self.runner.win32 else ["TEXT2PDF.EXE", "xdg-open", "open"]):
            tool(folder, name)
        return folder

    def expect_programs(self, result):
        """The commands ran through the fallback interpreter and reached their programs."""
        self.assertEqual(result.status, 0, result)
        self.assertEqual(result.stdout, BANNER)
        if self.runner.win32:
            self.assertEqual(result.stderr, b"")
            self.assertEqual(result.received, [
                self.runner.interpreter_call(converter(LANDSCAPE_132, "in.txt"), "cmd.exe"),
                self.runner.interpreter_call(self.runner.viewer_command, "cmd.exe")])
        else:
            self.assertEqual(result.stderr, b"")
            self.assertEqual([call.args for call in result.calls], [
                ["TEXT2PDF.EXE", "-c160", "-L", "-s8", "-v7", "in.txt"],
                self.runner.viewer_command.split(" ")])

    def expect_nothing_run(self, result):
        self.assertRun(result, stdout=BANNER, calls=[], status=0, stderr=None)
        self.assertNotIn(b"apperr", result.stderr)

    def test_comspec_and_path_of_32_kilobytes(self):
        tools = self.tools()
        if self.runner.win32:
            nowhere = "Z:\\nowhere\\"
            tail = harness.windows_path(tools)
        else:
            nowhere = "/nowhere/"
            tail = tools + ":/usr/bin:/bin"
        separator = ";" if self.runner.win32 else ":"
        entries = []
        while len(separator.join(entries + [tail])) < 32000:
            entries.append(nowhere + "d%04d" % len(entries))
        path = separator.join(entries + [tail])
        self.assertGreater(len(path), 32000)
        comspec = (nowhere + "c" * 32000)[:32760]
        result = self.runner.run(["in.txt"], comspec=comspec, path=path, timeout=600)
        if self.runner.win32 and not result.calls:
            # The system may refuse a program name of that length for a reason other than a
            # missing file; then no fallback is taken and nothing runs.
            self.expect_nothing_run(result)
        else:
            self.expect_programs(result)

    def test_path_entries_with_unbalanced_quotes(self):
        tools = self.tools()
        if self.runner.win32:
            folder = harness.windows_path(tools)
            # An opening quote without its closing one runs to the end of PATH, semicolons and all:
            # a folder behind it becomes part of the entry before it.
            hidden = ['"Z:\\nowhere;' + folder, '";' + folder]
            found = [folder + ';"Z:\\nowhere', folder + ';"', 'Z:\\nowhere;;' + folder + ';"',
                     '"' + folder]
        else:
            # The POSIX shell takes quotes in PATH as part of the folder names. (No system folder
            # on the hidden ones: the real viewer must not start.)
            hidden = ['"' + tools + '"', '"' + tools]
            found = [tools + ':"/nowhere:/usr/bin:/bin', '"/nowhere:' + tools + ':/usr/bin:/bin']
        for path in hidden:
            with self.subTest(path=path):
                self.expect_nothing_run(self.runner.run(["in.txt"], comspec=harness.UNSET,
                                                        path=path))
        for path in found:
            with self.subTest(path=path):
                self.expect_programs(self.runner.run(["in.txt"], comspec=harness.UNSET,
                                                     path=path))


class NamesTheConverterMisreads(Hostile):
    """Names that a plain composition would hand the converter in a form it misreads: a leading
    dash taken for an option, a NUL that cuts the command before its redirection."""

    def setUp(self):
        super().setUp()
        self.posix_only("the POSIX shell")
        self.tools = os.path.join(self.folder, "tools")
        for name in ("TEXT2PDF.EXE", "xdg-open", "open"):
            tool(self.tools, name)

    def converter_args(self, stdin):
        result = self.runner.run(stdin=stdin, comspec=harness.UNSET, path=self.tools)
        converter = [call.args for call in result.calls if call.args[0] == "TEXT2PDF.EXE"]
        return result, converter

    def test_a_name_beginning_with_a_dash_is_the_input_file(self):
        # An existing file "-oevil" typed at the prompt must reach the converter as its input, not
        # as the option -o with the value "evil" (which sends the document to the file evil and
        # has the converter read the program's standard input).
        self.write("-oevil")
        self.before = tree(self.work)
        result, converter = self.converter_args(b"-oevil\n\n")
        self.assertEqual(result.status, 0, result)
        self.assertEqual(len(converter), 1, result)
        operands = converter[0][5:]
        self.assertIn(operands, (["--", "-oevil"], ["./-oevil"]))

    def test_a_typed_name_with_a_nul_byte_never_cuts_the_command(self):
        # "in.txt", a NUL and more: the system passes the command as a NUL-terminated text, so the
        # name either counts as missing or reaches the converter whole as "in.txt"; never is the
        # command cut short before its closing quote and its redirection.
        result, converter = self.converter_args(b"in.txt\x00junk\n\n")
        if result.status == 24:
            self.assertIn(NAME_ERROR, result.stdout)
        else:
            self.assertEqual(result.status, 0, result)
            self.assertEqual(converter, [["TEXT2PDF.EXE", "-c160", "-L", "-s8", "-v7", "in.txt"]])


if __name__ == "__main__":
    harness.main()
