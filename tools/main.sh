#!/bin/sh
# The main job: builds the Windows programs with MinGW-w64, then runs one harmless command
# through the command starter service under Wine, with rexec-local in the rexec server's place,
# and shows what the command printed.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
echo "Windows build ready in build/windows"
echo "Running 'cmd.exe /c dir' through the command starter service under Wine:"
sh tools/rexec.sh -- cmd.exe /c dir
