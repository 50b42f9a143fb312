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
  clang libclang-rt-14-dev valgrind file

export PAGEOUT_WINEPREFIX="$PWD/build/wineprefix"
status=0
for preset in posix posix-asan win32; do
  echo "== $preset"
  cmake --preset "$preset" -DPAGEOUT_TESTS=ON >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
done

# The Debian package of the POSIX build, installed with dpkg: its pageout, started from a temporary
# folder with the default PATH and COMSPEC unset, must have /bin/sh run /usr/bin/TEXT2PDF.EXE into a
# sound OT.PDF and then the viewer (a logging stand-in for xdg-open, first on PATH). The package is
# removed again whatever the outcome.
echo "== deb"
# Every step names itself when it fails (set -e does not hold inside the condition of an if).
deb_check() (
  fail() { echo "deb: $*" >&2; exit 1; }
  rm -f build/posix/pageout_*.deb
  (cd build/posix && cpack -G DEB) || fail "cpack -G DEB"
  deb=$(ls build/posix/pageout_*.deb) || fail "no package built"
  dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no run-time needs declared"
  [ "$(dpkg-deb -f "$deb" Recommends)" = xdg-utils ] || fail "xdg-utils not recommended"
  $as_root dpkg -i "$deb" || fail "dpkg -i $deb"
  work=$(mktemp -d)
  trap '$as_root dpkg -r pageout >/dev/null; rm -rf "$work"' EXIT
  mkdir "$work/viewer"
  printf '#!/bin/sh\necho "$*" > "%s/viewer.log"\n' "$work" > "$work/viewer/xdg-open"
  chmod +x "$work/viewer/xdg-open"
  sample="$PWD/samples/sample.txt"
  (
    cd "$work" && unset COMSPEC && export PATH="$work/viewer:$PATH" || exit 1
    [ "$(command -v pageout)" = /usr/bin/pageout ] || fail "pageout not from /usr/bin"
    [ "$(command -v TEXT2PDF.EXE)" = /usr/bin/TEXT2PDF.EXE ] || fail "TEXT2PDF.EXE not from /usr/bin"
    pageout "$sample" </dev/null >/dev/null || fail "pageout ended with status $?"
  ) || exit 1
  [ "$(head -c 5 "$work/OT.PDF")" = "%PDF-" ] || fail "OT.PDF is no PDF"
  qpdf --check "$work/OT.PDF" >/dev/null || fail "qpdf --check OT.PDF"
  pdftotext "$work/OT.PDF" - | grep -q 'PAGEOUT SAMPLE TEXT' || fail "OT.PDF lacks the sample"
  [ "$(cat "$work/viewer.log")" = OT.PDF ] || fail "the viewer was not given OT.PDF"
  [ -f /usr/share/man/man1/pageout.1 ] && [ -f /usr/share/man/man1/text2pdf.1 ] ||
    fail "manual pages missing"
)
if deb_check; then echo "deb: passed"; else echo "deb: FAILED"; status=1; fi
if dpkg-query -W -f='${Status}' pageout 2>/dev/null | grep -q "ok installed"; then
  echo "deb: pageout still installed"; status=1
fi

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
