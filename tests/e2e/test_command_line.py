"""A file name as argument 1: the banner, the landscape-132 converter command and the viewer
command; what counts as a usable argument; console output to a file and to a vanished reader."""

import errno
import os
import re

import harness
from texts import (BANNER, END_OF_INPUT, FAREWELL, LANDSCAPE_132, LANDSCAPE_QUESTION, LEGEND,
                   NAME_PROMPT, WRITE_ERROR, converter)


class CommandLineRun(harness.TestCase):
    def expect_converter_run(self, result, command_name):
        """A command-line run: the banner alone on the console, then the two commands, status 0."""
        calls = self.runner.expected_calls(converter(LANDSCAPE_132, command_name),
                                           self.runner.viewer_command)
        self.assertRun(result, stdout=BANNER, status=0, stderr=b"", calls=calls)

    def test_banner_then_converter_and_viewer_commands(self):
        self.write("in.txt")
        self.expect_converter_run(self.runner.run(["in.txt"]), "in.txt")

    def test_argument_cases(self):
        eighty = "n" * 76 + ".txt"
        long_name = "".join(chr(ord("a") + i % 26) for i in range(95))
        cases = [
            ("a missing file is not checked", ["missing.txt"], "missing.txt"),
            ("only argument 1 counts", ["first.txt", "second.txt", "third"], "first.txt"),
            ("over 80 characters: the first 80", [long_name], long_name[:80]),
            ("exactly 80 characters", [eighty], eighty),
            ("a leading blank stays in front of the name", [" lead.txt"], " lead.txt"),
            ("a name with a blank is one argument", ["my file.txt"],
             self.runner.quoted("my file.txt")),
            ("a leading blank stays in front of the quote", ["  my file.txt"],
             "  " + self.runner.quoted("my file.txt")),
        ]
        for title, args, command_name in cases:
            with self.subTest(title):
                self.expect_converter_run(self.runner.run(args), command_name)

    def test_eighty_character_name_ends_the_command_at_position_124(self):
        name = "n" * 76 + ".txt"
        result = self.runner.run([name])
        command = converter(LANDSCAPE_132, name)
        self.assertEqual(len(command), 124)
        self.assertEqual(command.index(name), 35)
        self.assertEqual(result.received[0], self.runner.interpreter_call(command))

    def test_names_with_characters_special_to_the_interpreter_are_quoted(self):
        special = ["a&b.txt", "a|b", "x<y", "x>y", "hat^s", "(paren)"]
        if not self.runner.win32:
            special += ["it's.txt", "semi;colon", "$HOME", "star*", "back`tick`", "tab\there"]
        plain = ["plain-name_1.txt", "dir/sub/file.txt", "a+b,c:d@e=g"]
        if self.runner.win32:
            # Backslashes before the closing quote are doubled; a % or a quote leaves nothing in
            # quotes for the interpreter, where it would expand %NAME%, and escapes with ^ instead.
            exact = [("my dir\\", '"my dir\\\\"'), ("100% sure", '^"100%^ sure^"'),
                     ("a%PATH%b", '^"a%^PATH%^b^"'), ('a" & x', '^"a\\^" ^& x^"')]
        else:
            plain.append("a%f")
            exact = []
        for name in special:
            with self.subTest(name):
                self.expect_converter_run(self.runner.run([name]), self.runner.quoted(name))
        for name in plain:
            with self.subTest(name):
                self.expect_converter_run(self.runner.run([name]), name)
        for name, command_name in exact:
            with self.subTest(name):
                self.expect_converter_run(self.runner.run([name]), command_name)

    def test_very_long_argument_is_still_a_command_line_run(self):
        if self.runner.win32:
            self.skipTest("a Win32 command line holds at most 32767 characters")
        for length in (32767, 32768, 65535, 65536, 70000):
            with self.subTest(length):
                name = "L" * length
                self.expect_converter_run(self.runner.run([name]), name[:80])


class NoUsableArgument(harness.TestCase):
    def test_no_argument_or_all_blank_argument_leads_to_the_file_name_prompt(self):
        for title, args in (("no argument", []), ("all blanks", ["   "]), ("empty", [""])):
            with self.subTest(title):
                result = self.runner.run(args, stdin=b"")
                self.assertRun(result, stdout=BANNER + NAME_PROMPT, calls=[], status=24,
                               stderr=re.compile(re.escape(END_OF_INPUT)))


class ConsoleOutput(harness.TestCase):
    def test_output_to_a_file_holds_exactly_the_console_bytes(self):
        self.write("in.txt")
        dialogue = BANNER + NAME_PROMPT + LEGEND + LANDSCAPE_QUESTION + FAREWELL
        to_file = self.runner.run(stdin=b"in.txt\r\nq\r\n", stdout_kind="file")
        to_pipe = self.runner.run(stdin=b"in.txt\r\nq\r\n", stdout_kind="pipe")
        self.assertRun(to_file, stdout=dialogue, calls=[], stderr=b"")
        self.assertRun(to_pipe, stdout=dialogue, calls=[], stderr=b"")

    def test_output_to_a_vanished_reader_ends_with_the_write_diagnostic(self):
        self.write("in.txt")
        result = self.runner.run(["in.txt"], stdout_kind="closed-pipe")
        if self.runner.win32:
            platform_line = rb"apperr: [^\r\n]+\r\r\n"
        else:
            platform_line = re.escape(b"apperr: " + os.strerror(errno.EPIPE).encode() + b"\r\r\n")
        self.assertRun(result, calls=[], status=38,
                       stderr=re.compile(platform_line + re.escape(WRITE_ERROR)))


if __name__ == "__main__":
    harness.main()
