#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
#   scripts/test.sh              plain build, then the AddressSanitizer+UBSan and the
#                                ThreadSanitizer builds, then the short fuzz runs
#   scripts/test.sh --quick      the plain build only
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[[ "${1:-}" == "--quick" ]] && quick=1

scripts/install-deps.sh
jobs=$(nproc)

run_suite() {  # name, cmake options...
  local name=$1; shift
  local dir="build-test/$name"
  echo "== $name build =="
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 600)
}

run_suite plain
scripts/check-install.sh build-test/plain
if ((quick == 0)); then
  scripts/sanitizers.sh
fi
