#!/usr/bin/env bash
# Installs every Debian package twintone needs to build, test and benchmark.
# Idempotent: installs only what is missing; needs root (or sudo) for that.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libtag1-dev libchromaprint-dev libchromaprint-tools
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev python3
  libsqlite3-dev sqlite3 libicu-dev attr nlohmann-json3-dev linux-perf tmux hyperfine
  chromium chromium-driver python3-selenium python3-jsonschema
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "twintone: installing ${missing[*]}" >&2
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
