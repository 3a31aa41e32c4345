#!/usr/bin/env bash
# Checks what `cmake --install` gives a host developer, from a built tree:
#   scripts/check-install.sh [BUILD_DIR]        (default build-test/plain)
# Installs into a temporary prefix; checks the files, the SONAMEs and that the
# header compiles as strict C and C++; builds examples/ against that prefix only,
# once through find_package(twintone) and once through pkg-config; runs both builds
# on generated audio (two encodings of one melody, one other melody) with
# LD_LIBRARY_PATH unset, expecting one group of two in tag and fingerprint mode.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-test/plain}
[[ -f "$build/CMakeCache.txt" ]] || { echo "check-install: $build is not a build tree" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/twintone-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0

fail() {
  echo "check-install: FAIL: $*" >&2
  failures=$((failures + 1))
}

echo "== install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

libdir=$(dirname "$(find "$prefix" -name libtwintone.so -print -quit)")
[[ -d "$libdir" && "$libdir" != . ]] || { echo "check-install: no libtwintone.so installed" >&2; exit 1; }

# Files hosts look for, relative to the prefix.
libsub=${libdir#"$prefix"/}
expected=(
  "include/twintone.h"
  "include/twintone/audio_decoder.h"
  "$libsub/libtwintone.so" "$libsub/libtwintone.so.1"
  "$libsub/libtwintone_decoder.so" "$libsub/libtwintone_decoder.so.1"
  "$libsub/pkgconfig/twintone.pc"
  "$libsub/cmake/twintone/twintoneConfig.cmake"
  "$libsub/cmake/twintone/twintoneConfigVersion.cmake"
  "$libsub/cmake/twintone/twintoneTargets.cmake"
)
if grep -q '^TWINTONE_BUILD_TOOLS:BOOL=ON' "$build/CMakeCache.txt"; then
  expected+=("bin/twintone" "share/man/man1/twintone.1")
fi
for f in "${expected[@]}"; do
  [[ -e "$prefix/$f" ]] || fail "missing $f"
done
for lib in libtwintone libtwintone_decoder; do
  soname=$(readelf -d "$libdir/$lib.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [[ "$soname" == "$lib.so.1" ]] || fail "$lib.so has SONAME '$soname', not $lib.so.1"
done

echo "== header as C and C++"
for std in c89 c99 c11; do
  printf '#include <twintone.h>\nint main(void) { return GetLoadCounts() == -1 ? 0 : 1; }\n' |
    cc -x c -std=$std -pedantic -Wall -Wextra -Werror -I"$prefix/include" -fsyntax-only - ||
    fail "twintone.h does not compile as $std"
done
for std in c++11 c++17 c++20; do
  printf '#include <twintone.h>\nint main() { return QuitDedupeThread() == -1 ? 0 : 1; }\n' |
    c++ -x c++ -std=$std -pedantic -Wall -Wextra -Werror -I"$prefix/include" -fsyntax-only - ||
    fail "twintone.h does not compile as $std"
done

echo "== example through find_package"
cmake -S examples -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
  >"$work/example-configure.log"
found=$(sed -n 's/^twintone_DIR:PATH=//p' "$work/example/CMakeCache.txt")
[[ "$found" == "$prefix"/* ]] || fail "find_package found twintone in '$found', not in the prefix"
cmake --build "$work/example" >"$work/example-build.log" ||
  { cat "$work/example-build.log" >&2; fail "the example does not build through find_package"; }

echo "== example through pkg-config"
pcflags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_LIBDIR="$libdir/pkgconfig" \
  pkg-config --cflags --libs twintone)
[[ "$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --modversion twintone)" == 1.* ]] ||
  fail "pkg-config reports no version 1"
# shellcheck disable=SC2086  # the flags are words
cc -std=c99 -Wall -Wextra -Werror -o "$work/host_example_pc" examples/host_example.c \
  $pcflags -pthread -Wl,-rpath,"$libdir" || fail "the example does not build through pkg-config"

echo "== generated audio"
audio=$work/audio
mkdir -p "$audio"
melody() {  # base frequency in Hz, notes per second: a melody over a bass line
  local note="$1*pow(2,mod(floor(t*$2)*5+floor(t/2)*3,24)/12)"
  local tone="(sin(2*PI*$note*t)+0.5*sin(4*PI*$note*t))*exp(-4*mod(t,1/$2))"
  echo "aevalsrc='0.3*$tone+0.2*sin(2*PI*$1/4*t)|0.25*$tone+0.3*sin(2*PI*$1/4*t)':s=44100:d=10"
}
encode() {  # source, title, output
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$1" \
    -metadata title="$2" -metadata artist="Twintone Example" "${@:4}" "$3"
}
encode "$(melody 330 4)" "First Melody" "$audio/first.flac" -c:a flac
encode "$(melody 330 4)" "First Melody" "$audio/first-copy.mp3" -c:a libmp3lame -b:a 192k
encode "$(melody 247 3)" "Second Melody" "$audio/second.ogg" -c:a libvorbis -q:a 4

run_example() {  # label, binary, options...
  local label=$1 binary=$2; shift 2
  local out="$work/$label.out" status=0
  env -u LD_LIBRARY_PATH "$binary" "$@" "$audio" >"$out" 2>&1 || status=$?
  if ((status != 0)); then
    fail "$label exited with $status"
  elif ! grep -qx 'groups: 1' "$out" || ! grep -qx 'group 1: 2 files' "$out" ||
       ! grep -qx 'held after file 1: yes' "$out" || ! grep -qx 'cleared' "$out"; then
    fail "$label did not find one group of two"
  else
    echo "$label: ok"
    return 0
  fi
  sed 's/^/  | /' "$out" >&2
}
run_example tags "$work/example/host_example"
run_example fingerprint "$work/example/host_example" --fingerprint
run_example tags-pkg-config "$work/host_example_pc"

if [[ -x "$prefix/bin/twintone" ]]; then
  echo "== installed command"
  env -u LD_LIBRARY_PATH "$prefix/bin/twintone" --version >/dev/null ||
    fail "the installed twintone does not run"
  if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$prefix/share/man/man1/twintone.1" 2>&1)
    [[ -z "$warnings" ]] || fail "the manual page has warnings: $warnings"
  fi
fi

if ((failures > 0)); then
  echo "check-install: $failures failure(s)" >&2
  exit 1
fi
echo "check-install: all passed"
