#!/bin/sh
# Installs what the tests need, builds the POSIX, sanitizer and Win32 programs and runs every test;
# the Win32 programs run under Wine. Then the end-to-end tests of the POSIX programs once more under
# valgrind's memcheck, and each fuzz target for PAGEOUT_FUZZ_SECONDS (60 by default). This is what
# CI runs.
set -eu
cd "$(dirname "$0")/.."
. scripts/apt.sh
need_i386
apt_install build-essential cmake python3 zlib1g-dev libunwind-dev googletest \
  g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 qpdf poppler-utils xdg-utils \
  clang libclang-rt-14-dev valgrind

export PAGEOUT_WINEPREFIX="$PWD/build/wineprefix"
status=0
for preset in posix posix-asan win32; do
  echo "== $preset"
  cmake --preset "$preset" -DPAGEOUT_TESTS=ON >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
done

# Memcheck over the POSIX programs of the end-to-end tests: pageout in the e2e tests, the converter
# in the small cases of its hostile-input test. An error makes the program's run end with status 99.
# (Not e2e.interpreter: valgrind runs the child of posix_spawn as a plain fork, so a failed exec, of
# a COMSPEC that names a folder for instance, looks like an interpreter that ran and ended.)
echo "== valgrind"
PAGEOUT_E2E_VALGRIND="$(command -v valgrind) --quiet --error-exitcode=99 --leak-check=no \
--suppressions=$PWD/scripts/valgrind.supp" \
  ctest --preset posix -R '^(e2e\.|converter\.hostile$)' -E '^e2e\.interpreter$' || status=1

echo "== fuzz"
cmake --preset fuzz -DPAGEOUT_FUZZ_SECONDS="${PAGEOUT_FUZZ_SECONDS:-60}" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz || status=1
wineserver -k 2>/dev/null || true
exit $status
