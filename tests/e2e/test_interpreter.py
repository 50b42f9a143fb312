"""Which interpreter runs the commands and what the commands' programs finally receive: the real
POSIX shell parsing the quoted file name, COMSPEC values that name nothing or a bare name, the
fallback along PATH on Win32, and commands that fail."""

import os
import shutil
import subprocess

import harness
from texts import BANNER, LANDSCAPE_132, converter


def tool(folder, name):
    """A copy of the fake interpreter under another name; it logs like the original."""
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, name)
    shutil.copy2(harness.FAKE_SHELL, target)
    return target


class FailingCommands(harness.TestCase):
    def test_failing_commands_do_not_stop_the_run(self):
        for code in (3, -1):
            with self.subTest(exit_code=code):
                result = self.runner.run(["in.txt"], exit_code=code)
                self.assertRun(result, stdout=BANNER, stderr=b"", status=0,
                               calls=self.runner.expected_calls(
                                   converter(LANDSCAPE_132, "in.txt"), self.runner.viewer_command))


class PosixShell(harness.TestCase):
    def setUp(self):
        super().setUp()
        if self.runner.win32:
            self.skipTest("the POSIX shell")
        tools = os.path.join(self.folder, "tools")
        for name in ("TEXT2PDF.EXE", "xdg-open", "open"):
            tool(tools, name)
        self.tools = tools
        self.path = tools + ":/usr/bin:/bin"

    def expect_programs(self, result, name):
        """The converter got the options and the name as one argument, its output went to OT.PDF,
        and the viewer got OT.PDF."""
        viewer = self.runner.viewer_command.split(" ")
        self.assertEqual(result.status, 0, result)
        self.assertEqual(result.stderr, b"")
        self.assertEqual([call.args for call in result.calls],
                         [["TEXT2PDF.EXE", "-c160", "-L", "-s8", "-v7", name], viewer])
        self.assertTrue(os.path.isfile(os.path.join(self.work, "OT.PDF")))

    def test_names_reach_the_converter_as_one_argument(self):
        names = ["plain.txt", "my file.txt", "it's mine.txt", "a&b;c|d.txt", "$HOME and `x`.txt",
                 "x>y<z.txt", "tab\there.txt", "back\\slash \"quoted\".txt", "(sub) * ?.txt"]
        for name in names:
            with self.subTest(name):
                self.expect_programs(self.runner.run([name], comspec=harness.UNSET,
                                                     path=self.path), name)
        # Blanks in front of the name stand outside the quotes, so the shell drops them.
        self.expect_programs(self.runner.run(["  lead and inner.txt"], comspec=harness.UNSET,
                                             path=self.path), "lead and inner.txt")

    def test_a_name_typed_at_the_prompt_reaches_the_converter_as_one_argument(self):
        self.write("my file.txt")
        result = self.runner.run(stdin=b"my file.txt\n\n", comspec=harness.UNSET, path=self.path)
        self.expect_programs(result, "my file.txt")

    def test_the_whole_run_writes_ot_pdf_with_the_converter_of_the_build(self):
        self.write("in.txt", b"first line of the sample\r\nsecond line\r\n")
        converter_path = os.path.join(harness.BIN, "TEXT2PDF.EXE")
        if not os.path.isfile(converter_path):
            self.skipTest("no converter in " + harness.BIN)
        # The build folder comes first, so its converter is found before the fake one.
        path = harness.BIN + ":" + self.tools + ":/usr/bin:/bin"
        result = self.runner.run(["in.txt"], comspec=harness.UNSET, path=path)
        self.assertRun(result, stdout=BANNER, stderr=b"", status=0)
        self.assertEqual([call.args for call in result.calls],
                         [self.runner.viewer_command.split(" ")])
        with open(os.path.join(self.work, "OT.PDF"), "rb") as f:
            self.assertTrue(f.read().startswith(b"%PDF-"))
        if shutil.which("pdftotext"):
            text = subprocess.run(["pdftotext", "-layout", "OT.PDF", "-"], cwd=self.work,
                                  capture_output=True, check=True).stdout
            self.assertIn(b"first line of the sample", text)
            self.assertIn(b"second line", text)

    def test_comspec_naming_nothing_falls_back_to_the_system_shell(self):
        for comspec in ("/nonexistent/sh", os.path.join(self.work, "missing"), ""):
            with self.subTest(comspec=comspec):
                self.expect_programs(self.runner.run(["in.txt"], comspec=comspec, path=self.path),
                                     "in.txt")

    def test_comspec_bare_name_means_the_current_directory(self):
        tool(self.work, "myshell")
        result = self.runner.run(["in.txt"], comspec="myshell", path=self.path)
        self.assertEqual(result.received, [
            self.runner.interpreter_call(converter(LANDSCAPE_132, "in.txt"), "myshell"),
            self.runner.interpreter_call(self.runner.viewer_command, "myshell")])
        self.assertEqual(result.calls[0].program, os.path.join(self.work, "myshell"))


class Win32Fallback(harness.TestCase):
    def setUp(self):
        super().setUp()
        if not self.runner.win32:
            self.skipTest("the Win32 interpreter search")

    def expect_cmd(self, result, interpreter, program):
        self.assertRun(result, stdout=BANNER, stderr=b"", status=0, calls=[
            self.runner.interpreter_call(converter(LANDSCAPE_132, "in.txt"), interpreter),
            self.runner.interpreter_call(self.runner.viewer_command, interpreter)])
        for call in result.calls:
            self.assertEqual(call.program.lower(), self.runner.program_path(program).lower())

    def test_fallback_interpreter_is_found_along_path_never_in_the_current_directory(self):
        on_path = tool(os.path.join(self.folder, "system"), "cmd.exe")
        tool(self.work, "cmd.exe")  # planted where it must not be taken
        path = "Z:\\nowhere;;" + harness.windows_path(os.path.dirname(on_path))
        for comspec in (harness.UNSET, harness.windows_path(os.path.join(self.folder, "no.exe"))):
            with self.subTest(comspec=comspec):
                self.expect_cmd(self.runner.run(["in.txt"], comspec=comspec, path=path),
                                "cmd.exe", on_path)

    def test_quoted_path_entry_with_a_semicolon(self):
        on_path = tool(os.path.join(self.folder, "a;b"), "cmd.exe")
        path = '"' + harness.windows_path(os.path.dirname(on_path)) + '";Z:\\nowhere'
        self.expect_cmd(self.runner.run(["in.txt"], comspec=harness.UNSET, path=path),
                        "cmd.exe", on_path)

    def test_comspec_without_extension_tries_the_extension_list(self):
        folder = os.path.join(self.folder, "shells")
        tool(folder, "shell.exe")
        comspec = harness.windows_path(os.path.join(folder, "shell"))
        self.expect_cmd(self.runner.run(["in.txt"], comspec=comspec), comspec,
                        os.path.join(folder, "shell.exe"))


if __name__ == "__main__":
    harness.main()
