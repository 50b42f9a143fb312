#!/bin/sh
# From a fresh Debian 12 machine to a converted PDF: installs what the build needs, builds the POSIX
# programs and converts the sample text in the default layout (landscape, 132 columns) into OT.PDF.
set -eu
cd "$(dirname "$0")/.."
. scripts/apt.sh
apt_install build-essential cmake python3 zlib1g-dev libunwind-dev xdg-utils

cmake --preset posix -DPAGEOUT_TESTS=OFF >/dev/null
cmake --build --preset posix

# pageout has the command interpreter find TEXT2PDF.EXE along PATH.
PATH="$PWD/build/posix/bin:$PATH" build/posix/bin/pageout samples/sample.txt
echo
echo "Converted samples/sample.txt into $PWD/OT.PDF"
