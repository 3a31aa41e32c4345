#!/usr/bin/env bash
# The main job: installs what is missing, builds twintone (Release, into build/) and
# runs it.
#   scripts/run.sh                    makes a small demo library (synthetic pieces in
#                                     several formats, some broken files) in
#                                     ${XDG_CACHE_HOME:-~/.cache}/twintone/demo and runs
#                                     twintone on it by tags and by fingerprint
#   scripts/run.sh FOLDER...          runs twintone -r on your own folders
#   scripts/run.sh [OPTIONS] PATH...  runs twintone with exactly these arguments
#                                     (see build/tools/twintone/twintone --help)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "== building twintone (Release, build/) =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTWINTONE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target twintone_cli >/dev/null
twintone=build/tools/twintone/twintone

if (($# == 0)); then
  demo="${XDG_CACHE_HOME:-$HOME/.cache}/twintone/demo"
  scripts/make-demo-library.sh "$demo"
  echo
  echo "== twintone -r $demo   (by tags: title and artist) =="
  "$twintone" -r "$demo"
  echo
  echo "== twintone -r --fingerprint $demo   (by how the music sounds) =="
  "$twintone" -r --fingerprint "$demo"
  exit 0
fi

for arg in "$@"; do
  # Any option given: the arguments are twintone's, as they are.
  [[ "$arg" == -* ]] && exec "$twintone" "$@"
done
exec "$twintone" -r "$@"
