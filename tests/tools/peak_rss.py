"""Runs a program as its own child and writes the child's peak resident size, in bytes, to the
file named by PEAK_FILE; ends with the child's exit status (128 + N for a child ended by signal N).

Usage: peak_rss.py PROGRAM [ARGUMENT...]

A process's peak counts the memory of the process it was forked from, so a test measures the
program through this small process rather than forking it from the test with its large buffers.
"""

import os
import sys

pid = os.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
with open(os.environ["PEAK_FILE"], "w") as f:
    f.write(str(usage.ru_maxrss * 1024))
code = os.waitstatus_to_exitcode(status)
sys.exit(code if code >= 0 else 128 - code)
