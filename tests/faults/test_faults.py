"""The main guard and start-up against real faults. Each case runs one routine of fault_runner as
the main routine of pageout's start-up and checks the diagnostic that opens standard error, that a
traceback report follows it, and the exit status. CTest passes:

  PAGEOUT_FAULTS_PLATFORM  "posix" or "win32"
  PAGEOUT_FAULTS_RUNNER    the fault_runner program
  PAGEOUT_FAULTS_EMULATOR  Win32: the program that runs a .exe (cmake/wine-run)
  PAGEOUT_FAULTS_NM        the nm of the build's toolchain, to name the routine of a program counter
"""

import bisect
import os
import re
import signal
import subprocess
import unittest

PLATFORM = os.environ.get("PAGEOUT_FAULTS_PLATFORM", "posix")
RUNNER = os.environ.get("PAGEOUT_FAULTS_RUNNER", "")
EMULATOR = os.environ.get("PAGEOUT_FAULTS_EMULATOR", "")
NM = os.environ.get("PAGEOUT_FAULTS_NM", "")
WIN32 = PLATFORM == "win32"

EXCEPTION_TEXTS = {
    157: "access violation",
    158: "datatype misalignment",
    159: "breakpoint",
    160: "single step",
    161: "array bounds exceeded",
    162: "denormal floating-point operand",
    163: "floating stack check",
    164: "integer divide by zero",
    165: "integer overflow",
    166: "privileged instruction",
    167: "in page error",
    168: "illegal instruction",
    169: "noncontinuable exception",
    170: "stack overflow",
    171: "invalid disposition",
}


def exception_line(number, code=None):
    """The diagnostic line of a caught exception as it arrives on standard error."""
    if number == 172:
        signed = code - (1 << 32) if code & 0x80000000 else code
        text = "exception code = 0x%x (%d)" % (code, signed)
    else:
        text = EXCEPTION_TEXTS[number]
    return ("apperr: severe (%d): Program Exception - %s\r\r\n" % (number, text)).encode()


# Routines that fault the same way on every platform: (routine, message number, the function that
# holds the faulting instruction, where the traceback report starts).
COMMON = [
    ("null-write", 157, "NullWrite()"),
    ("integer-divide-by-zero", 164, "IntegerDivideByZero()"),
    ("illegal-instruction", 168, "IllegalInstruction()"),
    ("breakpoint", 159, "Breakpoint()"),
    ("single-step", 160, "SingleStep()"),
    ("privileged-instruction", 166, "PrivilegedInstruction()"),
    ("stack-overflow", 170, "Recurse(int)"),
]

# A row of the traceback report: image, program counter, routine, line, source.
ROW = re.compile(rb"^(.{17})  ([0-9A-F]{8})  ")

# POSIX: faults Linux raises on demand, and signals queued with the codes of faults it cannot be
# made to raise here: (routine, message number, exception code shown by 172).
POSIX = [
    ("misaligned-access", 158, None),
    ("bus-error", 167, None),
    ("queued-privileged-opcode", 166, None),
    ("queued-privileged-register", 166, None),
    ("queued-integer-overflow", 165, None),
    ("queued-bus-address-error", 167, None),
    ("queued-float-subscript", 161, None),
    ("queued-float-divide-by-zero", 172, 0xC000008E),
]

# Win32: exceptions raised by code, for every row of the table and for codes it lacks.
WIN32_RAISED = [
    (0x80000002, 158), (0xC000008C, 161), (0xC000008D, 162), (0xC0000092, 163),
    (0xC0000095, 165), (0xC0000096, 166), (0xC0000006, 167), (0xC0000025, 169),
    (0xC0000026, 171),
    # Only the low 16 bits select the row.
    (0x12340005, 157),
    # Codes the table lacks: the full code, in hex and as a signed 32-bit number.
    (0x80000001, 172), (0xE06D7363, 172), (0xC000008E, 172), (0x00000001, 172),
]


def function_at(address, symbols=[]):
    """The name of the function of fault_runner that holds address (as the report's PC shows it:
    the offset in the image on POSIX, the address on Win32, both what nm shows)."""
    if not symbols:
        listing = subprocess.run([NM, "-C", RUNNER], check=True, capture_output=True,
                                 text=True).stdout
        found = []
        for line in listing.splitlines():
            text = re.match(r"([0-9a-fA-F]+) [tT] (.*)$", line)
            if text:
                found.append((int(text.group(1), 16), text.group(2)))
        symbols.extend(sorted(found))
    index = bisect.bisect_right(symbols, (address, chr(0x10FFFF))) - 1
    return symbols[index][1] if index >= 0 else None


def run(routine, timeout=120):
    argv = ([EMULATOR] if WIN32 else []) + [RUNNER, routine]
    process = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    return process.stdout, process.stderr, process.returncode


class MainGuard(unittest.TestCase):
    def check_fault(self, routine, number, code=None, function=None):
        stdout, stderr, status = run(routine)
        line = exception_line(number, code)
        self.assertTrue(stderr.startswith(line), "%s: stderr %r" % (routine, stderr))
        # Every exception diagnostic is severe: a traceback report follows in the same text.
        report = stderr[len(line):].split(b"\r\n")
        self.assertTrue(report[0].startswith(b"Image "), "%s: %r" % (routine, stderr))
        self.assertEqual(status, number, "%s: stderr %r" % (routine, stderr))
        self.assertEqual(stdout, b"")
        if function is not None:
            # The guard hands over the register state of the fault: the report's first row is the
            # faulting instruction.
            row = ROW.match(report[1])
            self.assertIsNotNone(row, report[1])
            self.assertTrue(os.path.basename(RUNNER).startswith(row.group(1).rstrip().decode()))
            found = function_at(int(row.group(2), 16))
            self.assertTrue(found and found.endswith("::" + function), "%s: %r" % (routine, found))

    def test_processor_faults(self):
        for routine, number, function in COMMON:
            with self.subTest(routine):
                self.check_fault(routine, number, function=function)

    def test_signals_stand_for_the_matching_exceptions(self):
        if WIN32:
            self.skipTest("signals are the POSIX stand-in for exceptions")
        for routine, number, code in POSIX:
            with self.subTest(routine):
                self.check_fault(routine, number, code)

    def test_raised_exceptions_by_code(self):
        if not WIN32:
            self.skipTest("RaiseException is Win32's")
        for code, number in WIN32_RAISED:
            with self.subTest("%#010x" % code):
                self.check_fault("raise-%08x" % code, number, code if number == 172 else None)

    def test_a_fault_on_another_thread_is_left_to_the_platform(self):
        if WIN32:
            self.skipTest("the platform's own handling of an unguarded fault starts a debugger")
        stdout, stderr, status = run("fault-on-another-thread")
        self.assertEqual(status, -signal.SIGSEGV, stderr)
        self.assertEqual(stderr, b"")


class StartUp(unittest.TestCase):
    def test_a_main_routine_that_returns_ends_with_status_0(self):
        self.assertEqual(run("returns"), (b"", b"", 0))

    def test_floating_point_exceptions_are_masked(self):
        # The runner starts with every x87 and SSE exception unmasked. Start-up masks invalid, divide
        # by zero, overflow, underflow and inexact on the x87 unit (the denormal mask stays as it
        # was) and all six on the SSE unit; the operations then give their default results.
        stdout, stderr, status = run("float-masks")
        self.assertEqual((stderr, status), (b"", 0))
        self.assertEqual(stdout.replace(b"\r\n", b"\n"),
                         b"x87 0x3d sse 0x1f80\n"
                         b"x87 inf nan inf zero finite sse inf nan inf zero finite\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
