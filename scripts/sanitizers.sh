#!/usr/bin/env bash
# The whole test suite under AddressSanitizer with UndefinedBehaviorSanitizer (leak
# checks on), then under ThreadSanitizer, then a short bounded run of every fuzz
# target built with clang. scripts/test.sh calls it after the plain build; it can
# also run alone, or only some stages:
#   scripts/sanitizers.sh [asan] [tsan] [fuzz]      (default: all three)
# Environment:
#   TWINTONE_FUZZ_SECONDS   seconds per fuzz target (default 12)
#   TWINTONE_JOBS           parallel build and test jobs (default: the core count)
#   TWINTONE_TSAN_EXCLUDE   ctest -E regex of tests the ThreadSanitizer suite skips,
#                           should a slow CI machine need it (default: none)
# A fuzz target that fails leaves its input in build-test/fuzz/artifacts/; replay it
# with build-test/fuzz/fuzz/<target> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
((${#stages[@]})) || stages=(asan tsan fuzz)
jobs=${TWINTONE_JOBS:-$(nproc)}
# Tests the ThreadSanitizer suite leaves out; none by default (the longest, the
# whole-corpus fingerprint runs, take about ten seconds there).
tsan_exclude=${TWINTONE_TSAN_EXCLUDE:-}
fuzz_seconds=${TWINTONE_FUZZ_SECONDS:-12}

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export LSAN_OPTIONS=print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# ThreadSanitizer's runtime cannot cope with the address-space randomisation of some
# newer kernels ("FATAL: ThreadSanitizer: unexpected memory mapping"). A tiny probe
# tells; when it fails, the build (whose test discovery runs the binary) and the
# tests run with randomisation off, which children inherit.
tsan_prefix=()
tsan_probe() {
  local dir
  dir=$(mktemp -d)
  printf '#include <thread>\nint n;\nint main() { std::thread t([] { n = 1; }); t.join(); return n - 1; }\n' \
    >"$dir/probe.cpp"
  g++ -fsanitize=thread -pthread "$dir/probe.cpp" -o "$dir/probe"
  if ! "$dir/probe" >/dev/null 2>&1; then
    if setarch "$(uname -m)" -R "$dir/probe" >/dev/null 2>&1; then
      echo "ThreadSanitizer needs address randomisation off here: using setarch -R"
      tsan_prefix=(setarch "$(uname -m)" -R)
    else
      echo "ThreadSanitizer does not run on this machine" >&2
      rm -rf "$dir"
      return 1
    fi
  fi
  rm -rf "$dir"
}

# The sanitizer suites build the library and its tests only (the command-line host's
# own tests run in the plain suite), optimised lightly with line tables only: that
# keeps three builds of the tree within CI's time while reports keep file and line.
sanitizer_flags="-O1 -g1 -DNDEBUG"

run_suite() {  # name, prefix command (may be empty), ctest exclusion regex (may be empty), cmake options...
  local name=$1 prefix=$2 exclude=$3; shift 3
  local dir="build-test/$name"
  local start=$SECONDS
  echo "== $name build =="
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTWINTONE_BUILD_TOOLS=OFF \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="$sanitizer_flags" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$sanitizer_flags" "$@" >/dev/null
  $prefix cmake --build "$dir" -j"$jobs"
  (cd "$dir" && $prefix ctest --output-on-failure -j"$jobs" --timeout 600 ${exclude:+-E "$exclude"})
  echo "== $name: $((SECONDS - start)) s =="
}

run_fuzzers() {
  local dir=build-test/fuzz start=$SECONDS
  echo "== fuzz build =="
  CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTWINTONE_BUILD_FUZZERS=ON -DTWINTONE_BUILD_TESTS=OFF -DTWINTONE_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$dir" -j"$jobs"
  mkdir -p "$dir/artifacts"
  local target scratch failed=0
  for target in tag_reader_fuzzer decoder_fuzzer match_fuzzer path_fuzzer gbk_fuzzer; do
    echo "== fuzz $target (${fuzz_seconds} s) =="
    # The seeds are copied: a run adds what it finds to its corpus folder.
    scratch=$(mktemp -d)
    cp fuzz/corpus/"$target"/* "$scratch"/
    # libFuzzer links the C++ library ahead of the shared sanitizer runtime, which
    # is harmless here: the link-order check is off.
    if ! ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0 "$dir/fuzz/$target" -max_total_time="$fuzz_seconds" \
        -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$dir/artifacts/$target-" "$scratch" 2>"$dir/$target.log"; then
      tail -n 60 "$dir/$target.log"
      echo "fuzz target $target failed; its input is in $dir/artifacts/" >&2
      failed=1
    else
      grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$dir/$target.log" || true
    fi
    rm -rf "$scratch"
  done
  echo "== fuzz: $((SECONDS - start)) s =="
  return $failed
}

for stage in "${stages[@]}"; do
  case $stage in
    asan) run_suite asan "" "" -DTWINTONE_SANITIZE=address ;;
    tsan)
      tsan_probe
      run_suite tsan "${tsan_prefix[*]}" "$tsan_exclude" -DTWINTONE_SANITIZE=thread
      ;;
    fuzz) run_fuzzers ;;
    *)
      echo "unknown stage $stage (asan, tsan or fuzz)" >&2
      exit 2
      ;;
  esac
done
