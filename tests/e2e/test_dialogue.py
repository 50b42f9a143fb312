"""The interactive intake: the file-name prompt and its check, the legend, the three layout
questions, the farewell, and the input line rules seen through whole dialogues. Every dialogue runs
with standard input from a disk file and from a pipe, standard output to a file."""

import os
import re

import harness
from texts import (AFTER_LANDSCAPE_NO, BANNER, END_OF_INPUT, FAREWELL, LANDSCAPE_132,
                   LANDSCAPE_QUESTION, LEGEND, NAME_ERROR, NAME_PROMPT, PORTRAIT_132,
                   PORTRAIT_132_QUESTION, PORTRAIT_80, PORTRAIT_80_QUESTION, converter)

STDIN_KINDS = ("file", "pipe")

# Everything up to the first layout question for a name accepted at the first attempt.
ACCEPTED = BANNER + NAME_PROMPT + LEGEND


def rejected(times):
    """The output after the first prompt when the name is rejected the given number of times."""
    return (NAME_ERROR + NAME_PROMPT) * times


class Dialogue(harness.TestCase):
    def setUp(self):
        super().setUp()
        self.write("in.txt")

    def dialogue(self, stdin, stdout, commands=(), status=0, stderr=b"", args=(), **options):
        """Runs the dialogue with each kind of standard input and checks the whole run. commands are
        the converter commands expected; the viewer command follows each."""
        calls = []
        for command in commands:
            calls += self.runner.expected_calls(command, self.runner.viewer_command)
        for kind in STDIN_KINDS:
            with self.subTest(stdin=stdin, kind=kind):
                result = self.runner.run(args, stdin=stdin, stdin_kind=kind, **options)
                self.assertRun(result, stdout=stdout, calls=calls, status=status, stderr=stderr)

    def end_of_input(self):
        """Standard error at the end of input: the diagnostic line (the traceback may follow)."""
        return re.compile(re.escape(END_OF_INPUT))

    def test_worked_example(self):
        # A missing name, an existing one, "n" to the landscape question, Enter alone to the next.
        stdout = (BANNER + NAME_PROMPT + rejected(1) + LEGEND + LANDSCAPE_QUESTION
                  + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION)
        for stdin in (b"missing.txt\r\nin.txt\r\nn\r\n\r\n", b"missing.txt\nin.txt\nn\n\n"):
            self.dialogue(stdin, stdout, [converter(PORTRAIT_132, "in.txt")])

    def test_every_class_of_answer_to_the_landscape_question(self):
        no = LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION + FAREWELL
        quit = LANDSCAPE_QUESTION + FAREWELL
        for answer in (b"N", b"n", b"No", b"no"):
            self.dialogue(b"in.txt\n" + answer + b"\nq\n", ACCEPTED + no)
        for answer in (b"Q", b"q", b"Quit"):
            self.dialogue(b"in.txt\n" + answer + b"\n", ACCEPTED + quit)
        for answer in (b"", b"Y", b"y", b"yes", b"1", b" n", b"x"):
            self.dialogue(b"in.txt\n" + answer + b"\n", ACCEPTED + LANDSCAPE_QUESTION,
                          [converter(LANDSCAPE_132, "in.txt")])

    def test_each_layout_and_the_cycle_back_without_the_legend(self):
        cases = [
            (b"y\n", LANDSCAPE_QUESTION, LANDSCAPE_132),
            (b"n\ny\n", LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION,
             PORTRAIT_132),
            (b"n\nn\ny\n", LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION
             + PORTRAIT_80_QUESTION, PORTRAIT_80),
            (b"n\nn\nn\ny\n", LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION
             + PORTRAIT_80_QUESTION + LANDSCAPE_QUESTION, LANDSCAPE_132),
            (b"n\nn\nn\nn\nn\nn\nn\ny\n", (LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO
                                           + PORTRAIT_132_QUESTION + PORTRAIT_80_QUESTION) * 2
             + LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION, PORTRAIT_132),
        ]
        for answers, questions, prefix in cases:
            self.dialogue(b"in.txt\n" + answers, ACCEPTED + questions,
                          [converter(prefix, "in.txt")])

    def test_quit_at_each_question(self):
        cases = [
            (b"q\n", LANDSCAPE_QUESTION),
            (b"n\nQ\n", LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION),
            (b"n\nn\nquit\n", LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION
             + PORTRAIT_80_QUESTION),
        ]
        for answers, questions in cases:
            self.dialogue(b"in.txt\n" + answers, ACCEPTED + questions + FAREWELL)

    def test_rejected_names_ask_again(self):
        os.mkdir(os.path.join(self.work, "adir"))
        self.write("in1.txt")
        for name in (b"", b"   ", b"missing.txt", b"adir", b"*.txt", b"in?.txt", b"ERR.LOG",
                     b"USER.DAT", b"LINE.1", b"CONOUT$.X", b"nowhere/in.txt"):
            self.dialogue(name + b"\nin.txt\nq\n",
                          BANNER + NAME_PROMPT + rejected(1) + LEGEND + LANDSCAPE_QUESTION
                          + FAREWELL)
        # Several rejections in a row, and the legend only once after the accepted name.
        self.dialogue(b"\nmissing\nadir\nin.txt\nq\n",
                      BANNER + NAME_PROMPT + rejected(3) + LEGEND + LANDSCAPE_QUESTION + FAREWELL)

    def test_device_names_are_accepted(self):
        for name in ("NUL", "nul", "Con", "lpt3", "COM1.TXT", "aux.log", "prn.lst", "NUL.",
                     "CONIN$"):
            command_name = name
            if name == "CONIN$" and not self.runner.win32:
                command_name = self.runner.quoted(name)
            self.dialogue(name.encode() + b"\n\n", ACCEPTED + LANDSCAPE_QUESTION,
                          [converter(LANDSCAPE_132, command_name)])

    def test_leading_blanks_stay_in_the_command_and_trailing_blanks_do_not(self):
        self.dialogue(b"  in.txt\n\n", ACCEPTED + LANDSCAPE_QUESTION,
                      [converter(LANDSCAPE_132, "  in.txt")])
        self.dialogue(b"in.txt   \n\n", ACCEPTED + LANDSCAPE_QUESTION,
                      [converter(LANDSCAPE_132, "in.txt")])

    def test_replies_of_100_characters(self):
        name = "".join(chr(ord("a") + i % 26) for i in range(80))
        self.write(name)
        line = name.encode() + b"X" * 20
        self.dialogue(line + b"\n\n", ACCEPTED + LANDSCAPE_QUESTION,
                      [converter(LANDSCAPE_132, name)])
        # The rest of a long answer is dropped: the next question reads the next line.
        self.dialogue(b"in.txt\n" + b"n" * 100 + b"\nyes\n",
                      ACCEPTED + LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION,
                      [converter(PORTRAIT_132, "in.txt")])

    def test_name_with_a_blank_reaches_the_converter_as_one_argument(self):
        self.write("my file.txt")
        self.dialogue(b"my file.txt\nn\nn\n\n",
                      ACCEPTED + LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION
                      + PORTRAIT_80_QUESTION,
                      [converter(PORTRAIT_80, self.runner.quoted("my file.txt"))])

    def test_argument_of_blanks_leads_to_the_dialogue(self):
        self.dialogue(b"in.txt\nq\n", ACCEPTED + LANDSCAPE_QUESTION + FAREWELL, args=["   "])

    def test_input_line_rules(self):
        # A CR before CR LF is data: the name "in.txt" CR names no file.
        self.dialogue(b"in.txt\r\r\nin.txt\r\nq\r\n",
                      BANNER + NAME_PROMPT + rejected(1) + LEGEND + LANDSCAPE_QUESTION + FAREWELL)
        # A tab is data: the name with a tab after it names no file, and an answer that starts
        # with a tab is a yes.
        self.dialogue(b"in.txt\t\nin.txt\n\tn\n",
                      BANNER + NAME_PROMPT + rejected(1) + LEGEND + LANDSCAPE_QUESTION,
                      [converter(LANDSCAPE_132, "in.txt")])
        # The byte 0x1A is data, not the end of input: a yes.
        self.dialogue(b"in.txt\n\x1a\n", ACCEPTED + LANDSCAPE_QUESTION,
                      [converter(LANDSCAPE_132, "in.txt")])
        # A last line without LF is read as usual.
        self.dialogue(b"in.txt\nq", ACCEPTED + LANDSCAPE_QUESTION + FAREWELL)
        self.dialogue(b"in.txt\r\nn\r\nn",
                      ACCEPTED + LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO + PORTRAIT_132_QUESTION
                      + PORTRAIT_80_QUESTION, status=24, stderr=self.end_of_input())

    def test_the_interpreter_reads_on_from_the_line_after_the_last_reply(self):
        for kind in STDIN_KINDS:
            with self.subTest(kind=kind):
                result = self.runner.run(
                    stdin=b"in.txt\r\ny\r\nfor the converter\r\nfor the viewer\nleft over\n",
                    stdin_kind=kind, read_line=True)
                self.assertRun(result, stdout=ACCEPTED + LANDSCAPE_QUESTION,
                               calls=self.runner.expected_calls(
                                   converter(LANDSCAPE_132, "in.txt"), self.runner.viewer_command))
                self.assertEqual([call.stdin for call in result.calls],
                                 [b"for the converter\r\n", b"for the viewer\n"])

    def test_end_of_input_at_a_prompt_ends_with_diagnostic_24(self):
        cases = [
            (b"", BANNER + NAME_PROMPT),
            (b"missing.txt\n", BANNER + NAME_PROMPT + rejected(1)),
            (b"in.txt\n", ACCEPTED + LANDSCAPE_QUESTION),
            (b"in.txt\nn\n", ACCEPTED + LANDSCAPE_QUESTION + AFTER_LANDSCAPE_NO
             + PORTRAIT_132_QUESTION),
        ]
        for stdin, stdout in cases:
            self.dialogue(stdin, stdout, status=24, stderr=self.end_of_input())


if __name__ == "__main__":
    harness.main()
