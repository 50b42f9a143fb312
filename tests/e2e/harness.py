"""Runs the built programs for the end-to-end tests.

CTest gives each test script its settings through the environment:

  PAGEOUT_E2E_PLATFORM    "posix" or "win32"
  PAGEOUT_E2E_PAGEOUT     the pageout program
  PAGEOUT_E2E_FAKE_SHELL  the fake command interpreter (tests/tools)
  PAGEOUT_E2E_LAUNCHER    Win32: the launcher that sets COMSPEC and PATH for pageout.exe
  PAGEOUT_E2E_EMULATOR    Win32: the program that runs a .exe (cmake/wine-run)
  PAGEOUT_E2E_BIN         the folder of the built programs (TEXT2PDF.EXE among them)
  PAGEOUT_E2E_KEEP        when set, the temporary folders of the tests are kept
  PAGEOUT_E2E_VALGRIND    POSIX: a command, split at blanks, that every run of pageout goes
                          through (valgrind with its options)

Every test gets a fresh temporary folder with two subfolders: "work", the current directory of the
program, which holds only what the test puts there, and "io", which holds standard input and output
files and the fake interpreter's log.
"""

import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

# Passed for the comspec argument of Runner.run to start pageout without COMSPEC.
UNSET = object()

PLATFORM = os.environ.get("PAGEOUT_E2E_PLATFORM", "posix")
PAGEOUT = os.environ.get("PAGEOUT_E2E_PAGEOUT", "")
FAKE_SHELL = os.environ.get("PAGEOUT_E2E_FAKE_SHELL", "")
LAUNCHER = os.environ.get("PAGEOUT_E2E_LAUNCHER", "")
EMULATOR = os.environ.get("PAGEOUT_E2E_EMULATOR", "")
BIN = os.environ.get("PAGEOUT_E2E_BIN", "")
KEEP = bool(os.environ.get("PAGEOUT_E2E_KEEP"))
VALGRIND = os.environ.get("PAGEOUT_E2E_VALGRIND", "").split() if PLATFORM == "posix" else []


def windows_path(unix_path):
    """The name under which a Win32 program under Wine sees a Unix path (drive Z: is the root)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class Call:
    """One start of the fake interpreter, as its log recorded it."""

    def __init__(self, fields):
        self.args = [value.decode("latin-1") for key, value in fields if key == "arg"]
        lines = [value.decode("latin-1") for key, value in fields if key == "cmdline"]
        self.command_line = lines[0] if lines else None
        programs = [value.decode("latin-1") for key, value in fields if key == "program"]
        self.program = programs[0] if programs else None
        inputs = [value for key, value in fields if key == "stdin"]
        self.stdin = inputs[0] if inputs else None

    @property
    def received(self):
        """What the interpreter was given: the command line on Win32, the argument list on POSIX."""
        return self.command_line if self.command_line is not None else tuple(self.args)

    def __repr__(self):
        return "Call(%r, stdin=%r)" % (self.received, self.stdin)


def parse_log(data):
    """The records of a fake interpreter log (see tests/tools/fake_shell_log.h)."""
    calls = []
    pos = 0
    fields = None
    while pos < len(data):
        end = data.index(b"\n", pos)
        head = data[pos:end]
        if head == b"call":
            fields = []
            pos = end + 1
        elif head == b"end":
            calls.append(Call(fields))
            fields = None
            pos = end + 1
        else:
            key, _, rest = data[pos:].partition(b" ")
            length_text, _, rest = rest.partition(b":")
            length = int(length_text)
            start = pos + len(key) + 1 + len(length_text) + 1
            fields.append((key.decode("ascii"), data[start:start + length]))
            pos = start + length + 1
    if fields is not None:
        raise AssertionError("fake interpreter log ends inside a record: %r" % data)
    return calls


class Result:
    def __init__(self, stdout, stderr, status, calls):
        self.stdout = stdout
        self.stderr = stderr
        self.status = status
        self.calls = calls

    @property
    def received(self):
        return [call.received for call in self.calls]

    def __repr__(self):
        return "Result(status=%r, stdout=%r, stderr=%r, calls=%r)" % (
            self.status, self.stdout, self.stderr, self.calls)


class Runner:
    """Starts pageout on this build's platform, with the fake interpreter as COMSPEC."""

    def __init__(self, folder):
        self.platform = PLATFORM
        self.work = os.path.join(folder, "work")
        self.io = os.path.join(folder, "io")
        os.makedirs(self.work, exist_ok=True)
        os.makedirs(self.io, exist_ok=True)
        self.log = os.path.join(self.io, "interpreter.log")
        self.runs = 0

    @property
    def win32(self):
        return self.platform == "win32"

    @property
    def comspec(self):
        """The COMSPEC value that names the fake interpreter."""
        return windows_path(FAKE_SHELL) if self.win32 else FAKE_SHELL

    @property
    def viewer_command(self):
        if self.win32:
            return "OT.PDF"
        return "open OT.PDF" if sys.platform == "darwin" else "xdg-open OT.PDF"

    def quoted(self, name):
        """A file name as the command quotes it when it holds a blank or a special character."""
        if self.win32:
            return '"' + name + '"'
        return "'" + name.replace("'", "'\\''") + "'"

    def interpreter_call(self, command, interpreter=None):
        """What an interpreter named by COMSPEC receives for a command (see Call.received)."""
        interpreter = self.comspec if interpreter is None else interpreter
        if self.win32:
            return interpreter + " /c " + command
        return (interpreter, "-c", command)

    def expected_calls(self, *commands):
        return [self.interpreter_call(command) for command in commands]

    def program_path(self, unix_path):
        """A path as the program under test names it."""
        return windows_path(unix_path) if self.win32 else os.path.abspath(unix_path)

    def run(self, args=(), stdin=b"", stdin_kind="file", stdout_kind="file", comspec=None,
            path=None, env=None, read_line=False, exit_code=None, timeout=120):
        """Runs pageout once and returns its Result.

        stdin_kind: "file" (a disk file holding stdin), "pipe" (written whole, then closed),
        "inherit", or "closed" (no standard input, in a session without a terminal).
        stdout_kind: "file", "pipe" or "closed-pipe" (a pipe whose reader is gone).
        comspec: None for the fake interpreter, UNSET for none, or a value. path: None leaves PATH
        as it is, else the value. read_line: the fake interpreter reads one line of its standard
        input. exit_code: the fake interpreter's exit code.
        """
        self.runs += 1
        tag = str(self.runs)
        if os.path.exists(self.log):
            os.remove(self.log)
        child_env = dict(os.environ)
        child_env.pop("COMSPEC", None)
        child_env["PAGEOUT_FAKE_SHELL_LOG"] = windows_path(self.log) if self.win32 else self.log
        for name in ("PAGEOUT_FAKE_SHELL_READ_LINE", "PAGEOUT_FAKE_SHELL_EXIT"):
            child_env.pop(name, None)
        if read_line:
            child_env["PAGEOUT_FAKE_SHELL_READ_LINE"] = "1"
        if exit_code is not None:
            child_env["PAGEOUT_FAKE_SHELL_EXIT"] = str(exit_code)
        if env:
            child_env.update(env)
        comspec_value = self.comspec if comspec is None else comspec

        if self.win32:
            # The values travel through the environment to the launcher, which copies them, so
            # that neither their length nor their quotes meet the limits of a command line.
            settings = []
            if comspec_value is UNSET:
                settings.append("-COMSPEC")
            else:
                settings.append("COMSPEC<PAGEOUT_LAUNCH_COMSPEC")
                child_env["PAGEOUT_LAUNCH_COMSPEC"] = comspec_value
            if path is not None:
                settings.append("PATH<PAGEOUT_LAUNCH_PATH")
                child_env["PAGEOUT_LAUNCH_PATH"] = path
            argv = [EMULATOR, LAUNCHER] + settings + ["--", windows_path(PAGEOUT)] + list(args)
        else:
            if comspec_value is not UNSET:
                child_env["COMSPEC"] = comspec_value
            if path is not None:
                child_env["PATH"] = path
            argv = VALGRIND + [PAGEOUT] + list(args)

        stdin_file = None
        if stdin_kind == "file":
            stdin_path = os.path.join(self.io, "stdin." + tag)
            with open(stdin_path, "wb") as f:
                f.write(stdin)
            stdin_file = open(stdin_path, "rb")
            stdin_arg = stdin_file
        elif stdin_kind == "pipe":
            stdin_arg = subprocess.PIPE
        elif stdin_kind in ("inherit", "closed"):
            stdin_arg = None
        else:
            raise ValueError(stdin_kind)

        stdout_file = None
        read_end = None
        stdout_path = os.path.join(self.io, "stdout." + tag)
        if stdout_kind == "file":
            stdout_file = open(stdout_path, "wb")
            stdout_arg = stdout_file
        elif stdout_kind == "pipe":
            stdout_arg = subprocess.PIPE
        elif stdout_kind == "closed-pipe":
            read_end, write_end = os.pipe()
            os.close(read_end)
            stdout_arg = write_end
        else:
            raise ValueError(stdout_kind)

        try:
            closed = stdin_kind == "closed"
            process = subprocess.Popen(argv, stdin=stdin_arg, stdout=stdout_arg,
                                       stderr=subprocess.PIPE, cwd=self.work, env=child_env,
                                       preexec_fn=(lambda: os.close(0)) if closed else None,
                                       start_new_session=closed)
            if stdout_kind == "closed-pipe":
                os.close(write_end)
            try:
                out, err = process.communicate(
                    input=stdin if stdin_kind == "pipe" else None, timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.communicate()
                raise AssertionError("pageout did not end within %s s: %r" % (timeout, argv))
        finally:
            if stdin_file:
                stdin_file.close()
            if stdout_file:
                stdout_file.close()
        if stdout_kind == "file":
            with open(stdout_path, "rb") as f:
                out = f.read()
        calls = []
        if os.path.exists(self.log):
            with open(self.log, "rb") as f:
                calls = parse_log(f.read())
        return Result(out if out is not None else b"", err, process.returncode, calls)



class TerminalSession:
    """pageout on a pseudo-terminal (POSIX), for TestCase classes: start_on_terminal forks it with
    the terminal as its console, and read_until collects what the terminal shows in self.output."""

    def start_on_terminal(self, env, close=()):
        """Starts pageout in self.work with env, the descriptors in close closed: (pid, fd)."""
        pid, fd = pty.fork()
        if pid == 0:
            try:
                os.chdir(self.work)
                for number in close:
                    os.close(number)
                os.execve(PAGEOUT, [PAGEOUT], env)
            finally:
                os._exit(127)
        self.addCleanup(os.close, fd)
        return pid, fd

    def read_until(self, fd, ending, timeout=30):
        """Collects the terminal's output until it ends with ending (None: until the program has
        closed the terminal)."""
        deadline = time.monotonic() + timeout
        while ending is None or not self.output.endswith(ending):
            left = deadline - time.monotonic()
            if left <= 0:
                self.fail("terminal shows %r, waiting for %r" % (self.output, ending))
            ready, _, _ = select.select([fd], [], [], left)
            if not ready:
                continue
            try:
                data = os.read(fd, 4096)
            except OSError:
                data = b""
            if not data:
                if ending is None:
                    return
                self.fail("terminal closed showing %r, waiting for %r" % (self.output, ending))
            self.output += data

    def finish(self, pid, fd):
        """Reads until the program closes the terminal; its exit status."""
        self.read_until(fd, None)
        _, status = os.waitpid(pid, 0)
        return os.waitstatus_to_exitcode(status)

class TestCase(unittest.TestCase):
    """A test with its own temporary folder and a Runner working in it."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="pageout-e2e-")
        self.runner = Runner(self.folder)
        self.work = self.runner.work
        if not KEEP:
            self.addCleanup(shutil.rmtree, self.folder, True)

    def write(self, name, data=b"text\r\n"):
        """Creates a file in the program's current directory."""
        full = os.path.join(self.work, name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        return full

    def assertRun(self, result, stdout=None, calls=None, status=0, stderr=b""):
        """Checks a whole run: standard output, the interpreter calls, the exit status and standard
        error (bytes for the whole stream, or a compiled pattern that must match its start)."""
        if stdout is not None:
            self.assertEqual(result.stdout, stdout, "standard output")
        if calls is not None:
            self.assertEqual(result.received, calls, "interpreter calls")
        if isinstance(stderr, re.Pattern):
            self.assertRegex(result.stderr, stderr, "standard error")
            self.assertTrue(stderr.match(result.stderr), "standard error: %r" % result.stderr)
        elif stderr is not None:
            self.assertEqual(result.stderr, stderr, "standard error")
        self.assertEqual(result.status, status, "exit status (stderr %r)" % result.stderr)


def main():
    unittest.main(verbosity=2)
