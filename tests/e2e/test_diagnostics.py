"""How pageout ends when something goes wrong, seen from outside: the diagnostic line of a failing
console channel with the platform error line before it, and the control events (Ctrl+C,
Ctrl+Break, the console closed; on POSIX the signals SIGINT, SIGQUIT and SIGHUP) at a prompt and
while a command runs. A severe diagnostic is followed by a traceback report, whose rows are checked
elsewhere: here only its first line."""

import errno
import os
import select
import signal
import subprocess
import time

import harness
from texts import (BANNER, END_OF_INPUT, LANDSCAPE_132, LANDSCAPE_QUESTION, LEGEND, NAME_PROMPT,
                   WRITE_ERROR, converter)

TRACEBACK_HEADER = b"Image "

# The system's own texts for the platform errors met here. On Win32 the program shows whatever the
# message table holds: Windows' wording, or Wine's under Wine.
WIN32_TEXTS = {
    "broken pipe": (b"The pipe has been ended.", b"Broken pipe."),
    "write to a pipe without reader": (b"The pipe is being closed.", b"Pipe not connected."),
}


def control_line(event_name):
    return b"apperr: error (200): program aborting due to " + event_name + b" event\r\r\n"


class ChannelFailures(harness.TestCase):
    def assertSevere(self, result, stdout, status, lines):
        """A severe end: the exact standard output, standard error opening with lines (the last
        being the diagnostic line) and then the traceback report, no command run."""
        self.assertEqual(result.stdout, stdout, "standard output")
        head = b"".join(lines)
        self.assertEqual(result.stderr[:len(head)], head, "standard error: %r" % result.stderr)
        self.assertTrue(result.stderr[len(head):].startswith(TRACEBACK_HEADER), result.stderr)
        self.assertEqual(result.status, status, "exit status (stderr %r)" % result.stderr)
        self.assertEqual(result.calls, [])

    def platform_line(self, situation, posix_errno, stderr):
        """The platform error line that opens stderr, checked against the system's texts."""
        if not self.runner.win32:
            return b"apperr: " + os.strerror(posix_errno).encode() + b"\r\r\n"
        for text in WIN32_TEXTS[situation]:
            line = b"apperr: " + text + b"\r\r\n"
            if stderr.startswith(line):
                return line
        self.fail("no platform error line for %s: %r" % (situation, stderr))

    def test_end_of_input_from_a_file(self):
        self.write("in.txt")
        cases = [
            ("empty file at the file-name prompt", b"", BANNER + NAME_PROMPT),
            ("end at the first answer prompt", b"in.txt\r\n", BANNER + NAME_PROMPT + LEGEND
             + LANDSCAPE_QUESTION),
        ]
        for title, stdin, stdout in cases:
            with self.subTest(title):
                # A read that delivers no bytes carries no platform error: the diagnostic alone.
                self.assertSevere(self.runner.run(stdin=stdin, stdin_kind="file"), stdout, 24,
                                  [END_OF_INPUT])

    def test_input_pipe_closed_by_its_writer(self):
        self.write("in.txt")
        cases = [
            ("at the file-name prompt", b"", BANNER + NAME_PROMPT),
            ("at the first answer prompt", b"in.txt\n", BANNER + NAME_PROMPT + LEGEND
             + LANDSCAPE_QUESTION),
        ]
        for title, stdin, stdout in cases:
            with self.subTest(title):
                if self.runner.win32:
                    # A pipe Win32 made reports its closed writer as ERROR_BROKEN_PIPE: the
                    # platform's text for it comes first.
                    result = self.run_on_win32_pipe(stdin)
                    lines = [self.platform_line("broken pipe", None, result.stderr), END_OF_INPUT]
                else:
                    # A POSIX pipe whose writer is gone reads as end of input, without an error.
                    result = self.runner.run(stdin=stdin, stdin_kind="pipe")
                    lines = [END_OF_INPUT]
                self.assertSevere(result, stdout, 24, lines)

    def test_output_pipe_whose_reader_is_gone(self):
        self.write("in.txt")
        result = self.runner.run(["in.txt"], stdout_kind="closed-pipe")
        line = self.platform_line("write to a pipe without reader", errno.EPIPE, result.stderr)
        self.assertSevere(result, b"", 38, [line, WRITE_ERROR])

    def run_on_win32_pipe(self, stdin):
        """Runs pageout.exe with standard input on a pipe that a Win32 program writes and closes."""
        feeder = os.path.join(harness.BIN, "stdin_pipe.exe")
        argv = [harness.EMULATOR, feeder, stdin.decode("latin-1"), harness.windows_path(harness.PAGEOUT)]
        stdout_path = os.path.join(self.runner.io, "stdout.pipe")
        with open(stdout_path, "wb") as stdout:
            process = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=stdout,
                                     stderr=subprocess.PIPE, cwd=self.work, timeout=120)
        with open(stdout_path, "rb") as f:
            return harness.Result(f.read(), process.stderr, process.returncode, [])


class Processes(harness.TestCase):
    """Helpers of the tests that signal a running program."""

    def read_until(self, stream, ending, timeout):
        """Reads stream until what arrived ends with ending; fails after timeout seconds."""
        data = b""
        deadline = time.monotonic() + timeout
        while not data.endswith(ending):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([stream], [], [], max(left, 0))
            if not ready:
                self.fail("no %r within %s s, got %r" % (ending, timeout, data))
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                self.fail("output ended before %r: %r" % (ending, data))
            data += chunk
        return data

    def wait_for(self, condition, what, timeout=30):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                self.fail("no %s within %s s" % (what, timeout))
            time.sleep(0.05)

    @staticmethod
    def logged_calls(log):
        if not os.path.exists(log):
            return 0
        with open(log, "rb") as f:
            data = f.read()
        return data.count(b"\nend\n") if data.endswith(b"end\n") else 0

    @staticmethod
    def marked(mark, program):
        """The processes whose environment holds the mark and whose command names program."""
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    environment = f.read().split(b"\0")
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    command = f.read().split(b"\0")[0]
            except OSError:
                continue
            if (b"PAGEOUT_E2E_MARK=" + mark.encode() in environment
                    and command.replace(b"\\", b"/").endswith(b"/" + program.encode())):
                found.append(int(entry))
        return found

    @staticmethod
    def alive(pid):
        try:
            with open("/proc/%d/stat" % pid, "rb") as f:
                return f.read().rsplit(b")", 1)[1].split()[0] != b"Z"
        except OSError:
            return False

    def end(self, pid):
        """Ends the interpreter this test started through pageout, and waits until it is gone."""
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            return
        self.wait_for(lambda: not self.alive(pid), "end of the interpreter %d" % pid)


class ControlEvents(Processes):
    EVENTS = [
        # Ctrl+C ends with 130, never with 0, the status of success.
        (signal.SIGINT, b"control-C", 130),
        (signal.SIGQUIT, b"control-BREAK", 1),
        (signal.SIGHUP, b"window-CLOSE", 2),
    ]

    def test_each_event_at_the_file_name_prompt(self):
        # Under Wine a SIGINT reaches the program as Ctrl+C; Wine keeps SIGQUIT and SIGHUP for
        # itself.
        events = self.EVENTS[:1] if self.runner.win32 else self.EVENTS
        for sig, name, status in events:
            with self.subTest(name.decode()):
                argv = ([harness.EMULATOR] if self.runner.win32 else []) + [harness.PAGEOUT]
                # Standard input is a pipe that stays open and empty until the program has ended:
                # the program waits in its read and never meets the end of its input.
                read_end, write_end = os.pipe()
                process = subprocess.Popen(argv, stdin=read_end, stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE, cwd=self.work)
                os.close(read_end)
                try:
                    shown = self.read_until(process.stdout, NAME_PROMPT, timeout=120)
                    process.send_signal(sig)
                    rest, stderr = process.communicate(timeout=60)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.communicate()
                    os.close(write_end)
                self.assertEqual(shown + rest, BANNER + NAME_PROMPT)
                # Severity "error": the line alone, no traceback.
                self.assertEqual(stderr, control_line(name))
                self.assertEqual(process.returncode, status)

    def test_ctrl_c_ends_the_program_even_when_its_report_cannot_be_written(self):
        # Standard error is a full pipe nobody reads: the line of diagnostic 200 cannot go out, and
        # the program still ends with the status of Ctrl+C after a few seconds.
        err_read, err_write = os.pipe()
        os.set_blocking(err_write, False)
        try:
            while True:
                os.write(err_write, b"x" * 65536)
        except BlockingIOError:
            pass
        os.set_blocking(err_write, True)
        in_read, in_write = os.pipe()
        argv = ([harness.EMULATOR] if self.runner.win32 else []) + [harness.PAGEOUT]
        process = subprocess.Popen(argv, stdin=in_read, stdout=subprocess.PIPE, stderr=err_write,
                                   cwd=self.work)
        os.close(in_read)
        os.close(err_write)
        try:
            self.read_until(process.stdout, NAME_PROMPT, timeout=120)
            process.send_signal(signal.SIGINT)
            started = time.monotonic()
            status = process.wait(timeout=60)
            waited = time.monotonic() - started
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.stdout.close()
            os.close(in_write)
            os.close(err_read)
        self.assertEqual(status, 130)
        self.assertGreater(waited, 2)

    def test_ctrl_c_while_the_interpreter_runs_ends_without_waiting_for_it(self):
        self.write("in.txt")
        log = os.path.join(self.runner.io, "interpreter.log")
        # A mark in the environment finds the processes of this run, which under Wine are not
        # children of the process started here.
        mark = "%d-%d" % (os.getpid(), time.monotonic_ns())
        env = dict(os.environ, PAGEOUT_FAKE_SHELL_LOG=log, PAGEOUT_FAKE_SHELL_SLEEP="60",
                   PAGEOUT_E2E_MARK=mark)
        for name in ("PAGEOUT_FAKE_SHELL_READ_LINE", "PAGEOUT_FAKE_SHELL_EXIT", "COMSPEC"):
            env.pop(name, None)
        if self.runner.win32:
            env["PAGEOUT_FAKE_SHELL_LOG"] = harness.windows_path(log)
            argv = [harness.EMULATOR, harness.LAUNCHER, "COMSPEC=" + self.runner.comspec, "--",
                    harness.windows_path(harness.PAGEOUT), "in.txt"]
        else:
            env["COMSPEC"] = harness.FAKE_SHELL
            argv = [harness.PAGEOUT, "in.txt"]
        out_path = os.path.join(self.runner.io, "stdout")
        err_path = os.path.join(self.runner.io, "stderr")
        # Files, not pipes: the interpreter outlives the program and keeps what it inherited.
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                       cwd=self.work, env=env)
        interpreters = []
        try:
            self.wait_for(lambda: self.logged_calls(log) == 1, "the interpreter's record", 120)
            program = self.marked(mark, os.path.basename(harness.PAGEOUT))
            interpreters = self.marked(mark, os.path.basename(harness.FAKE_SHELL))
            self.assertEqual((len(program), len(interpreters)), (1, 1))
            os.kill(program[0], signal.SIGINT)
            status = process.wait(timeout=30)
            # The interpreter, told to sleep for a minute, still runs: nobody waited for it.
            self.assertTrue(self.alive(interpreters[0]))
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            for pid in interpreters:
                self.end(pid)
        with open(out_path, "rb") as f:
            self.assertEqual(f.read(), BANNER)
        with open(err_path, "rb") as f:
            self.assertEqual(f.read(), control_line(b"control-C"))
        self.assertEqual(status, 130)
        # The converter command ran; the viewer command never did.
        with open(log, "rb") as f:
            calls = harness.parse_log(f.read())
        self.assertEqual([call.received for call in calls],
                         self.runner.expected_calls(converter(LANDSCAPE_132, "in.txt")))

    def test_ctrl_c_that_ends_the_interpreter_first_starts_no_further_command(self):
        # The interpreter sends the program SIGINT and ends at once, so the program sees its
        # command end while the event may not yet have been taken: it must not go on to the
        # viewer. Several runs, since the order of the two is the scheduler's.
        if self.runner.win32:
            self.skipTest("the interpreter interrupts its parent on POSIX")
        self.write("in.txt")
        log = os.path.join(self.runner.io, "interpreter.log")
        env = dict(os.environ, COMSPEC=harness.FAKE_SHELL, PAGEOUT_FAKE_SHELL_LOG=log,
                   PAGEOUT_FAKE_SHELL_INTERRUPT_PARENT="1")
        for name in ("PAGEOUT_FAKE_SHELL_READ_LINE", "PAGEOUT_FAKE_SHELL_EXIT",
                     "PAGEOUT_FAKE_SHELL_SLEEP"):
            env.pop(name, None)
        for run in range(10):
            with self.subTest(run=run):
                if os.path.exists(log):
                    os.remove(log)
                done = subprocess.run([harness.PAGEOUT, "in.txt"], stdin=subprocess.DEVNULL,
                                      capture_output=True, cwd=self.work, env=env, timeout=60)
                self.assertEqual((done.stdout, done.stderr, done.returncode),
                                 (BANNER, control_line(b"control-C"), 130))
                with open(log, "rb") as f:
                    calls = harness.parse_log(f.read())
                self.assertEqual([call.received for call in calls],
                                 self.runner.expected_calls(converter(LANDSCAPE_132, "in.txt")))


class TerminalKeys(harness.TerminalSession, Processes):
    """The keys on a real terminal (a pseudo-terminal; POSIX): the terminal sends its signal to
    the whole foreground process group, the command interpreter included while it runs."""

    KEYS = [(b"\x03", b"control-C", 130), (b"\x1c", b"control-BREAK", 1)]

    def setUp(self):
        super().setUp()
        if self.runner.win32:
            self.skipTest("the terminal test runs on POSIX")
        self.write("in.txt")
        self.mark = "%d-%d" % (os.getpid(), time.monotonic_ns())
        self.output = b""

    def start(self):
        env = dict(os.environ, COMSPEC=harness.FAKE_SHELL, PAGEOUT_FAKE_SHELL_LOG=self.runner.log,
                   PAGEOUT_FAKE_SHELL_SLEEP="60", PAGEOUT_E2E_MARK=self.mark)
        return self.start_on_terminal(env)

    def assertControlEnd(self, status, name, expected):
        # The terminal turns each LF into CR LF: the line's CR CR LF shows as CR CR CR LF.
        line = control_line(name).replace(b"\n", b"\r\n")
        self.assertTrue(self.output.endswith(line), self.output)
        self.assertNotIn(b"severe", self.output)
        self.assertEqual(status, expected, self.output)

    def test_each_key_at_the_file_name_prompt(self):
        for key, name, status in self.KEYS:
            with self.subTest(name.decode()):
                self.output = b""
                pid, fd = self.start()
                self.read_until(fd, NAME_PROMPT)
                os.write(fd, key)
                self.assertControlEnd(self.finish(pid, fd), name, status)

    def test_ctrl_c_while_the_interpreter_runs_ends_both(self):
        pid, fd = self.start()
        self.read_until(fd, NAME_PROMPT)
        os.write(fd, b"in.txt\r")
        self.read_until(fd, LANDSCAPE_QUESTION)
        os.write(fd, b"\r")
        self.wait_for(lambda: self.logged_calls(self.runner.log) == 1, "the interpreter's record")
        interpreters = self.marked(self.mark, os.path.basename(harness.FAKE_SHELL))
        self.assertEqual(len(interpreters), 1)
        try:
            os.write(fd, b"\x03")
            self.assertControlEnd(self.finish(pid, fd), b"control-C", 130)
            # The interpreter took the same Ctrl+C and ended at once: it runs with the signals
            # unblocked and at their defaults, although the program keeps them blocked.
            self.wait_for(lambda: not self.alive(interpreters[0]), "end of the interpreter", 10)
        finally:
            for interpreter in interpreters:
                self.end(interpreter)
        with open(self.runner.log, "rb") as f:
            calls = harness.parse_log(f.read())
        self.assertEqual([call.received for call in calls],
                         self.runner.expected_calls(converter(LANDSCAPE_132, "in.txt")))

if __name__ == "__main__":
    harness.main()
