#!/bin/sh
# Installs what the tests need, builds the POSIX, sanitizer and Win32 programs and runs every test;
# the Win32 programs run under Wine. This is what CI runs.
set -eu
cd "$(dirname "$0")/.."
. scripts/apt.sh
need_i386
apt_install build-essential cmake python3 zlib1g-dev libunwind-dev googletest \
  g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 qpdf poppler-utils xdg-utils

export PAGEOUT_WINEPREFIX="$PWD/build/wineprefix"
status=0
for preset in posix posix-asan win32; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
done
wineserver -k 2>/dev/null || true
exit $status
