#!/usr/bin/env bash
# Builds the Release benchmarks into build-bench/ and runs them, then prints every
# ratio against its baseline measured in the same run.
#   bench/run.sh            matchers, filing at N = 1000, 2000, 5000, 10000, whole run,
#                           the stages of an extraction, a tag run over 100,000 files,
#                           store, quality measures
#   bench/run.sh --quick    the same without filing at N = 5000 and 10000, and the tag
#                           run over 20,000 files
#   bench/run.sh --large    also files 100,000 fingerprints through the candidate index
#   bench/run.sh --huge     also files 1,000,000 through the index (about 5 minutes and
#                           5.6 GiB) and times the fingerprint store at 1,000,000 entries
#   bench/run.sh --exact-limit
#                           only times plain filing on each kernel at two sizes, and
#                           works out how many files it files in a minute
#   bench/run.sh --kernel=NAME
#                           the filing benchmarks match on that kernel (avx2: as on a
#                           processor without AVX-512)
#   bench/run.sh --reference-1000
#                           also times the reference scorer filing N = 1000 (about
#                           15 minutes) instead of working it out from N = 100
# Logs and the filing JSON stay in build-bench/bench-results/. The whole-run corpus is
# made once in $TWINTONE_BENCH_CORPUS (default /tmp/twintone-bench-corpus).
# TWINTONE_BENCH_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
large=0
huge=0
exact_limit=0
kernel_flag=()
reference_sizes=100
for arg in "$@"; do
  case $arg in
    --quick) quick=1 ;;
    --large) large=1 ;;
    --huge) huge=1 ;;
    --exact-limit) exact_limit=1 ;;
    --kernel=*) kernel_flag=("$arg") ;;
    --reference-1000) reference_sizes='100|1000' ;;
    *) echo "usage: bench/run.sh [--quick] [--large] [--huge] [--exact-limit] [--kernel=NAME]" \
         "[--reference-1000]" >&2; exit 2 ;;
  esac
done

build=build-bench
results=$build/bench-results
jobs=${TWINTONE_BENCH_JOBS:-2}

echo "== build ($build, Release) =="
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTWINTONE_BUILD_BENCHMARKS=ON \
  -DTWINTONE_BUILD_TESTS=OFF -DTWINTONE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null
mkdir -p "$results"
summary=$results/summary.txt
: >"$summary"
echo "cpu: $(lscpu | sed -n 's/^Model name: *//p'), load average $(cut -d' ' -f1-3 /proc/loadavg)" |
  tee -a "$summary"

if ((exact_limit)); then
  echo "== plain filing per kernel =="
  # Each kernel at two sizes where plain filing takes some seconds to a minute; its time
  # grows with N^2, so the larger size's time gives the files of a minute.
  : >"$results/exact_limit.txt"
  for kernel in avx512 avx2 popcnt portable; do
    case $kernel in
      avx512) sizes='4000 8000' ;; avx2) sizes='3000 6000' ;; *) sizes='1000 2000' ;;
    esac
    for n in $sizes; do
      "$build"/bench/twintone_bench_filing --kernel=$kernel --benchmark_color=false \
        --benchmark_filter="^BM_Filing/fast/$n/" 2>&1 | grep -E '^BM_Filing' |
        sed "s/^/$kernel /" | tee -a "$results/exact_limit.txt" || true
    done
  done
  awk '$3 != "ERROR" && $2 ~ /^BM_Filing/ {
         split($2, f, "/"); n = f[3]; t = $3
         for (i = 4; i <= NF; ++i) if ($i ~ /^filing_cpu_s=/) c = substr($i, 14)
         printf "plain filing %s: %d files in %.1f s (cpu %.1f s): about %d in 60 s; " \
                "%d in 60 s of both cores (cpu 120 s: for a machine with neighbours)\n",
                $1, n, t, c, n * sqrt(60 / t), n * sqrt(120 / c) }' "$results/exact_limit.txt" |
    tee -a "$summary"
  exit 0
fi

echo "== match =="
# Its own reporter prints in colour whatever the flags say; the log is kept plain.
"$build"/bench/twintone_bench_match | sed 's/\x1b\[[0-9;]*m//g' | tee "$results/match.txt"
grep -E 'fast is [0-9.]+x the reference' "$results/match.txt" >>"$summary" ||
  echo "match: no ratios reported" >>"$summary"

echo "== filing =="
# The filter is a regular expression: the trailing "/" keeps 1000 from matching 10000.
sizes='1000|2000'
((quick)) || sizes='1000|2000|5000|10000'
"$build"/bench/twintone_bench_filing "${kernel_flag[@]}" --benchmark_color=false \
  --benchmark_filter="^BM_Filing/(fast[a-z_]*/($sizes)|reference/($reference_sizes))/" \
  --benchmark_out="$results/filing.json" --benchmark_out_format=json
python3 - "$results/filing.json" >>"$summary" <<'EOF'
import json, sys

unit = {"s": 1.0, "ms": 1e-3, "us": 1e-6, "ns": 1e-9}
runs = {}
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("run_type", "iteration") != "iteration":
        continue
    if run.get("error_occurred"):
        sys.exit("filing: %s failed: %s" % (run["name"], run.get("error_message", "")))
    _, impl, n = run["name"].split("/")[:3]
    runs[(impl, int(n))] = run["real_time"] * unit[run["time_unit"]]

# The reference scorer costs the same for every pair of distinct records, so unless
# N = 1000 was timed, its time there is its time per comparison at N = 100 times
# 1000 * 999 / 2.
reference_1000 = runs.get(("reference", 1000))
how = "timed"
if reference_1000 is None and ("reference", 100) in runs:
    reference_1000 = runs[("reference", 100)] / (100 * 99 / 2) * (1000 * 999 / 2)
    how = "from N=100 per comparison"
for (impl, n), seconds in sorted(runs.items(), key=lambda item: (item[0][1], item[0][0])):
    if impl == "reference":
        continue
    if n == 1000 and reference_1000:
        print("filing 1000: %s %.2f s, reference (%s) %.1f s: %.1fx"
              % (impl, seconds, how, reference_1000, reference_1000 / seconds))
    else:
        print("filing %d: %s %.2f s" % (n, impl, seconds))
    if impl == "fast_near" and ("fast", n) in runs:
        print("filing %d with near misses above 50%%: %.2fx plain filing"
              % (n, seconds / runs[("fast", n)]))
EOF

echo "== filing through the candidate index =="
# One process per size, so that each peak resident size is that size's own. The
# plain filing of 10,000 above is the baseline.
index_sizes='10000 50000'
((quick)) && index_sizes='10000'
((large || huge)) && index_sizes="$index_sizes 100000"
((huge)) && index_sizes="$index_sizes 1000000"
: >"$results/filing_index.txt"
for n in $index_sizes; do
  "$build"/bench/twintone_bench_filing "${kernel_flag[@]}" --benchmark_color=false \
    --benchmark_filter="^BM_Filing/index/$n/" 2>&1 | tee -a "$results/filing_index.txt"
done
grep -E '^BM_Filing/index/' "$results/filing_index.txt" |
  awk '{ split($1, f, "/"); m = "?"; p = "?"
         for (i = 2; i <= NF; ++i) {
           if ($i ~ /^peak_rss_mib=/) m = sprintf("%.0f", substr($i, 14))
           if ($i ~ /^planted_pairs=/) p = substr($i, 15)
           if ($i ~ /^false_pairs=/) q = substr($i, 13) }
         if ($2 == "ERROR") printf "filing %s through the index: %s\n", f[3], $0
         else printf "filing %s through the index: %s %s, peak resident %s MiB, planted pairs %s of 360, false pairs %s\n",
                     f[3], $2, $3, m, p, q }' >>"$summary"

echo "== fast filing recall =="
"$build"/bench/twintone_bench_filing_recall | tee "$results/filing_recall.txt" ||
  echo "filing recall: below 100 % or plain filing incomplete" >>"$summary"
grep -E '^recall' "$results/filing_recall.txt" >>"$summary" || true

echo "== whole run =="
"$build"/bench/twintone_bench_whole_run --repetitions=3 | tee "$results/whole_run.txt"
grep -E '^(whole run|cpu|peak resident size)' "$results/whole_run.txt" >>"$summary"

echo "== stages of an extraction =="
"$build"/bench/twintone_bench_stages | tee "$results/stages.txt"
grep -E '^(format|mp3|ogg|flac) ' "$results/stages.txt" | sed 's/^/stages: /' >>"$summary"

echo "== tag run =="
tag_files=100000
((quick)) && tag_files=20000
"$build"/bench/twintone_bench_tag_run --files=$tag_files --repetitions=2 | tee "$results/tag_run.txt"
grep -E '^tag run' "$results/tag_run.txt" >>"$summary"

echo "== store =="
"$build"/bench/twintone_bench_store | tee "$results/store.txt"
grep -E '^store:' "$results/store.txt" >>"$summary"

echo "== quality =="
"$build"/bench/twintone_bench_quality | tee "$results/quality.txt"
grep -E '^quality:' "$results/quality.txt" >>"$summary"

if ((huge)); then
  echo "== store at 1,000,000 entries =="
  "$build"/bench/twintone_bench_store_scale | tee "$results/store_scale.txt"
  grep -E '^ |^store scale:' "$results/store_scale.txt" >>"$summary"
fi

echo
echo "== summary =="
echo "(matchers: CPU time per call; filing and whole run: wall time, the whole run's CPU"
echo " time on its cpu line; on a shared machine wall times carry the neighbours' load)"
cat "$summary"
