"""The dialogue on a real terminal (a pseudo-terminal), as a person sees it: the terminal echoes
each reply after the prompt, and the next output starts on the next line. POSIX only."""

import errno
import os
import re

import harness
from texts import (BANNER, BANNER_ITEM_1, BANNER_ITEM_2, BANNER_TITLE, END_OF_INPUT,
                   LANDSCAPE_QUESTION, NAME_PROMPT, PORTRAIT_132, PORTRAIT_132_QUESTION, RULE,
                   converter)


def render(stream):
    """The lines of a screen after the stream was shown: CR returns to column 1, LF moves down."""
    lines = [bytearray()]
    row = column = 0
    for byte in stream:
        if byte == 0x0D:
            column = 0
        elif byte == 0x0A:
            row += 1
            if row == len(lines):
                lines.append(bytearray())
        else:
            line = lines[row]
            if column < len(line):
                line[column] = byte
            else:
                line.extend(b" " * (column - len(line)))
                line.append(byte)
            column += 1
    return [bytes(line) for line in lines]


class Terminal(harness.TerminalSession, harness.TestCase):
    def setUp(self):
        super().setUp()
        if self.runner.win32:
            self.skipTest("the terminal test runs on POSIX")
        self.write("in.txt")
        self.output = b""

    def start(self, close=()):
        env = dict(os.environ, COMSPEC=self.runner.comspec,
                   PAGEOUT_FAKE_SHELL_LOG=self.runner.log)
        return self.start_on_terminal(env, close)

    def converse(self, close=()):
        """Types a name and two answers, each after its prompt has appeared."""
        pid, fd = self.start(close)
        for prompt, reply in ((NAME_PROMPT, b"in.txt"), (LANDSCAPE_QUESTION, b"n"),
                              (PORTRAIT_132_QUESTION, b"")):
            self.read_until(fd, prompt)
            os.write(fd, reply + b"\r")
        return self.finish(pid, fd)

    def test_dialogue_as_a_person_sees_it(self):
        # With a standard descriptor closed the program opens the terminal in its place.
        for close in ((), (0,), (1,)):
            with self.subTest(closed=close):
                self.output = b""
                status = self.converse(close)
                self.assertEqual(status, 0, self.output)
                self.assertEqual(render(self.output), [
                    b"  ", b"", b"", RULE, BANNER_TITLE, BANNER_ITEM_1, BANNER_ITEM_2, RULE,
                    b"", b"", b"",
                    NAME_PROMPT + b"in.txt",
                    b"  ", b"      <Enter> for yes", b"      <N> for no", b"      <Q> to quit",
                    b"  ",
                    LANDSCAPE_QUESTION + b"n",
                    b"  ",
                    PORTRAIT_132_QUESTION,
                    b"",
                ])
                with open(self.runner.log, "rb") as f:
                    calls = harness.parse_log(f.read())
                os.remove(self.runner.log)
                self.assertEqual([call.received for call in calls], self.runner.expected_calls(
                    converter(PORTRAIT_132, "in.txt"), self.runner.viewer_command))

    def test_end_of_input_typed_at_the_prompt_reports_on_the_prompt_line(self):
        pid, fd = self.start()
        self.read_until(fd, NAME_PROMPT)
        os.write(fd, b"\x04")
        status = self.finish(pid, fd)
        self.assertEqual(status, 24, self.output)
        screen = render(self.output)
        self.assertEqual(screen[11], NAME_PROMPT + END_OF_INPUT.rstrip(b"\r\n"))


class NoTerminal(harness.TestCase):
    def test_closed_standard_input_without_a_terminal_fails_to_open_the_console(self):
        if self.runner.win32:
            self.skipTest("closing a descriptor of the Wine process says nothing about Win32")
        result = self.runner.run(stdin_kind="closed")
        self.assertRun(result, stdout=BANNER + NAME_PROMPT, calls=[], status=30, stderr=re.compile(
            re.escape(b"apperr: " + os.strerror(errno.ENXIO).encode() + b"\r\r\n"
                      b"apperr: severe (30): open failure, unit -4, file CONIN$\r\r\n")))


if __name__ == "__main__":
    harness.main()
