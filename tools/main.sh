#!/bin/sh
# The main job: builds the Windows programs and the support library with MinGW-w64.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
echo "Windows build ready in build/windows"
