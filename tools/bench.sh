#!/bin/sh
# Builds and runs every benchmark: the host figures with Google Benchmark on an optimised host
# build, the Wine figures from the real programs under Wine in a Wine session of their own
# (prefix and display).  Prints a table of the figures against their goals and writes
# build/bench/results.json.  Takes about ten minutes, most of it the 10 MB relay runs.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
if ! command -v python3 >/dev/null 2>&1; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq python3
fi
out="$PWD/build/bench"
mkdir -p "$out"

echo "=== build"
cmake --preset host-release >/dev/null
cmake --build --preset host-release --target host_bench
cmake --preset windows >/dev/null
cmake --build --preset windows --target command-translator relay_bench login_bench testcmd

echo "=== load before: $(uptime)" | tee "$out/load.txt"
echo "=== host benchmarks"
build/host-release/bench/host_bench --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_out="$out/host.json" \
    --benchmark_out_format=json

echo "=== Wine benchmarks"
WINEPREFIX="$out/wineprefix" WINEDEBUG=-all xvfb-run -a sh bench/wine_bench.sh \
    "$PWD/build/windows" "$out" 2>&1 | grep -v "X connection"
echo "=== load after: $(uptime)" | tee -a "$out/load.txt"

echo "=== figures"
python3 bench/results.py "$out"
