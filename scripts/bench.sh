#!/usr/bin/env bash
# Builds the benchmarks in Release mode and runs each one, then repeats the
# ratio lines ("<function> [<kernel>, <input>]: fast is N.Nx the reference").
#   scripts/bench.sh [build-dir] [benchmark options...]
# Every benchmark measures its baseline in the same run; run on an idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-bench}
shift || true

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTWINTONE_BUILD_BENCHMARKS=ON \
  -DTWINTONE_BUILD_TESTS=OFF -DTWINTONE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
for bench in "$dir"/bench/twintone_bench_*; do
  [[ -x "$bench" ]] || continue
  echo "== $(basename "$bench") =="
  "$bench" --benchmark_color=false "$@" | tee -a "$log"
done
echo
echo "== ratios =="
grep -E 'fast is [0-9.]+x the reference' "$log" || echo "(no ratios reported)"
