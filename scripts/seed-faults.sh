#!/usr/bin/env bash
# Seeds deliberate faults one at a time and checks that the test suite catches each.
#
#   scripts/seed-faults.sh [--tests-from REF] [--only PATTERN] [--out FILE] [--keep-build DIR]
#   scripts/seed-faults.sh --check
#
# Each scripts/faults/*.patch holds one realistic bug: a one-line description, then a
# `git diff`. The script copies the committed tree (HEAD) to a scratch folder, builds it
# once (RelWithDebInfo, no benchmarks, no fuzzers) and runs the suite, which must pass.
# Then, for each patch in name order, it applies the patch, rebuilds incrementally, runs
# ctest until the first failure, and takes the patch back out, checking the sources are
# byte for byte as before. A fault is "caught", "NOT caught" or "did not build" (a fault
# that does not build is a mistake in the fault).
#
#   --tests-from REF   run tests/ as it was at REF against today's sources (the old suite)
#   --only PATTERN     only the patches whose file name contains PATTERN (a shell
#                      glob: --only "5[7-9]-" takes 57, 58 and 59); repeatable, a
#                      patch matching any of them is taken
#   --out FILE         the results as TSV: fault, description, result, first failing
#                      test, seconds (default: fault-results.tsv in the current folder)
#   --keep-build DIR   copy and build in DIR and keep it, so a second run is incremental
#   --check            only check that every patch applies to the working tree
#
# The patches are read from this script's own folder (so new ones can be tried before
# they are committed); the sources they are applied to are HEAD's. JOBS sets the
# parallelism (default: nproc). Exits non-zero if the baseline suite fails or a patch
# does not apply.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
faults_dir="$repo/scripts/faults"
jobs=${JOBS:-$(nproc)}

tests_from="" out="fault-results.tsv" keep="" check=0
only=()
while (($#)); do
  case $1 in
    --tests-from) tests_from=$2; shift 2 ;;
    --only) only+=("$2"); shift 2 ;;
    --out) out=$2; shift 2 ;;
    --keep-build) keep=$2; shift 2 ;;
    --check) check=1; shift ;;
    -h|--help) sed -n '2,25p' "$0"; exit 0 ;;
    *) echo "seed-faults: unknown option $1" >&2; exit 2 ;;
  esac
done

patches=()
for p in "$faults_dir"/*.patch; do
  [[ -e $p ]] || continue
  if ((${#only[@]} == 0)); then
    patches+=("$p")
    continue
  fi
  for pattern in "${only[@]}"; do
    if [[ $(basename "$p") == *$pattern* ]]; then
      patches+=("$p")
      break
    fi
  done
done
((${#patches[@]})) || { echo "seed-faults: no patches in $faults_dir" >&2; exit 2; }

describe() { head -n1 "$1" | tr '\t' ' '; }

if ((check)); then
  bad=0
  for p in "${patches[@]}"; do
    if git -C "$repo" apply --check "$p" 2>/dev/null; then
      echo "ok      $(basename "$p")"
    else
      echo "FAILS   $(basename "$p")"; bad=1
    fi
  done
  exit $bad
fi

# The scratch folder: the sources in src/, the build in build/, HEAD unpacked in pristine/.
if [[ -n $keep ]]; then
  mkdir -p "$keep"; work=$(cd "$keep" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/seed-faults.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
src="$work/src" build="$work/build" pristine="$work/pristine"
rm -rf "$pristine"; mkdir -p "$pristine" "$src"
git -C "$repo" archive HEAD | tar -x -C "$pristine"
if [[ -n $tests_from ]]; then
  rm -rf "$pristine/tests"
  git -C "$repo" archive "$tests_from" tests | tar -x -C "$pristine"
fi

# Brings src/ to the pristine tree, rewriting only the files that differ, so that a
# kept build stays incremental.
sync_sources() {
  (cd "$pristine" && find . -type f -print0) | while IFS= read -r -d '' f; do
    if ! cmp -s "$pristine/$f" "$src/$f"; then
      mkdir -p "$(dirname "$src/$f")"; cp "$pristine/$f" "$src/$f"
    fi
  done
  (cd "$src" && find . -type f -print0) | while IFS= read -r -d '' f; do
    [[ -e $pristine/$f ]] || rm -f "$src/$f"
  done
}
sync_sources

# git must not mistake the scratch copy for part of an enclosing repository.
export GIT_CEILING_DIRECTORIES="$work"
in_copy() { (cd "$src" && "$@"); }

for p in "${patches[@]}"; do
  in_copy git apply --check "$p" 2>/dev/null \
    || { echo "seed-faults: $(basename "$p") does not apply to HEAD" >&2; exit 1; }
done

build_copy() { nice cmake --build "$build" -j"$jobs" >"$work/build.log" 2>&1; }
run_suite() {  # extra ctest options...
  (cd "$build" && nice ctest -j"$jobs" --timeout 300 "$@" >"$work/ctest.log" 2>&1)
}
# The first failed test in ctest's output: "12/340 Test #7: Name ....***Failed".
first_failure() {
  grep -E '^ *[0-9]+/[0-9]+ +Test +#[0-9]+: ' "$work/ctest.log" | grep -v ' Passed ' \
    | head -n1 | sed -E 's/^.*Test +#[0-9]+: ([^ ]+).*$/\1/'
}

started=$(date +%s)
echo "== baseline build and suite in $work"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTWINTONE_BUILD_BENCHMARKS=OFF -DTWINTONE_BUILD_FUZZERS=OFF >"$work/configure.log" 2>&1 \
  || { cat "$work/configure.log" >&2; exit 1; }
build_copy || { tail -n 40 "$work/build.log" >&2; echo "seed-faults: baseline does not build" >&2; exit 1; }
# A kept build remembers the sources it last found green, and skips the suite for them.
sources_sum=$(cd "$pristine" && find . -path ./scripts -prune -o -type f -print0 | sort -z \
  | xargs -0 sha1sum | sha1sum | cut -d' ' -f1)
if [[ -n $keep && -f $work/green && $(cat "$work/green") == "$sources_sum" ]]; then
  echo "   green before, for these very sources"
elif ! run_suite; then
  tail -n 40 "$work/ctest.log" >&2
  echo "seed-faults: the baseline suite fails ($(first_failure)); no fault can be judged" >&2
  exit 1
else
  echo "$sources_sum" >"$work/green"
  echo "   green after $(($(date +%s) - started)) s"
  # The baseline's slow tests (over 10 s) run in a second pass, only for a fault the
  # quick ones miss: the verdict is still the whole suite's, and a caught fault is
  # known sooner. Each pass stops at its first failure.
  grep -E '^ *[0-9]+/[0-9]+ +Test +#[0-9]+: .* Passed +[0-9.]+ sec' "$work/ctest.log" \
    | awk '$(NF-1) + 0 > 10 { n = $0; sub(/^.*Test +#[0-9]+: /, "", n); sub(/ .*$/, "", n); print n }' \
    | sed 's/[]().*^$+?{}|[\\]/\\&/g; s/^/^/; s/$/$/' | paste -sd'|' >"$work/slow"
fi
slow=$(cat "$work/slow" 2>/dev/null)
[[ -n $slow ]] || slow='^$'
echo "   slow tests, run last: ${slow//|/ }"

# Without the cost data of earlier runs ctest starts the tests in the order they are
# declared, the library's short unit tests first, instead of the longest first.
run_quick_then_slow() {
  rm -f "$build/Testing/Temporary/CTestCostData.txt"
  run_suite --stop-on-failure -E "$slow" || return 1
  rm -f "$build/Testing/Temporary/CTestCostData.txt"
  run_suite --stop-on-failure -R "$slow"
}

rows=()
: >"$out"
for p in "${patches[@]}"; do
  name=$(basename "$p") t0=$(date +%s) failed=""
  # The files the patch touches, to check they come back exactly.
  mapfile -t touched < <(in_copy git apply --numstat "$p" | cut -f3)
  in_copy git apply "$p"
  if ! build_copy; then
    result="did not build"
  elif run_quick_then_slow; then
    result="NOT caught"
  else
    result="caught"; failed=$(first_failure)
  fi
  in_copy git apply -R "$p"
  for f in "${touched[@]}"; do
    cmp -s "$pristine/$f" "$src/$f" \
      || { echo "seed-faults: $f not restored after $name" >&2; cp "$pristine/$f" "$src/$f"; }
  done
  secs=$(($(date +%s) - t0))
  rows+=("$name"$'\t'"$(describe "$p")"$'\t'"$result"$'\t'"${failed:--}"$'\t'"$secs")
  printf '%s\n' "${rows[-1]}" >>"$out"  # row by row, so a stopped run keeps its results
  printf '   %-45s %-14s %s (%d s)\n' "$name" "$result" "$failed" "$secs"
done
# Leaves the kept build matching HEAD again.
build_copy || true

echo
echo "| Fault | Description | Result | First failing test |"
echo "|---|---|---|---|"
for r in "${rows[@]}"; do
  IFS=$'\t' read -r f d res t _ <<<"$r"
  echo "| $f | $d | $res | $t |"
done
echo
echo "$(grep -c $'\tcaught\t' "$out" || true) of ${#rows[@]} caught; results in $out;" \
     "$(($(date +%s) - started)) s in all"
