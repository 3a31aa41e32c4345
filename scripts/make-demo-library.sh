#!/usr/bin/env bash
# Makes the demo music library that scripts/run.sh shows twintone on:
#   scripts/make-demo-library.sh DIR
# Six synthetic pieces (20-30 s melodies over a bass line), most of them in several
# formats and bitrates, tagged so that some duplicates share their tags and some do not;
# one piece is a different tune that borrows another's tags; plus three broken files.
# Needs the ffmpeg command. Idempotent: a complete library (same recipe) is left as it is;
# a new one is built beside DIR and moved into place only when complete.
set -euo pipefail

recipe_version=3
dir=${1:?usage: make-demo-library.sh DIR}
if [[ -f "$dir/.complete" && "$(cat "$dir/.complete")" == "$recipe_version" ]]; then
  echo "demo library: $dir (already made)"
  exit 0
fi
command -v ffmpeg >/dev/null || { echo "make-demo-library.sh: ffmpeg is missing" >&2; exit 1; }

parent=$(dirname "$dir")
mkdir -p "$parent"
work=$(mktemp -d "$parent/.demo-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "demo library: making $dir ..."

# melody NAME SECONDS BASE_HZ NOTES_PER_SECOND STEP PHRASE: a stereo master WAV in $work.
# Note k sits (k*STEP + floor(t/2)*PHRASE) mod 24 semitones above BASE_HZ, with two
# harmonics and a plucked envelope; the bass changes every two seconds.
melody() {
  local name=$1 seconds=$2 base=$3 rate=$4 step=$5 phrase=$6
  local note="$base*pow(2\,mod(floor(t*$rate)*$step+floor(t/2)*$phrase\,24)/12)"
  local bass="$base/4*pow(2\,mod(floor(t/2)*$phrase\,12)/12)"
  local env="exp(-4*mod(t\,1/$rate))"
  local tune="(sin(2*PI*$note*t)+0.5*sin(4*PI*$note*t)+0.25*sin(6*PI*$note*t))*$env"
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi \
    -i "aevalsrc=0.3*$tune+0.2*sin(2*PI*$bass*t)|0.25*$tune+0.3*sin(2*PI*$bass*t):s=44100:d=$seconds" \
    -c:a pcm_s16le "$work/master-$name.wav"
}

# encode NAME OUTPUT TITLE ARTIST ALBUM CODEC_ARGS...: an encoding of a master, tagged
# unless TITLE is "-" (then it carries no tag at all).
encode() {
  local name=$1 out=$2 title=$3 artist=$4 album=$5
  shift 5
  local tags=(-map_metadata -1)
  if [[ "$title" != "-" ]]; then
    tags+=(-metadata "title=$title" -metadata "artist=$artist" -metadata "album=$album")
  else
    case "$out" in *.mp3) tags+=(-id3v2_version 0 -write_id3v1 0) ;; esac
  fi
  mkdir -p "$(dirname "$work/lib/$out")"
  ffmpeg -nostdin -hide_banner -loglevel error -y -i "$work/master-$name.wav" \
    "${tags[@]}" "$@" "$work/lib/$out"
}

melody morning 24 220.00 4 7 5
melody harbour 27 261.63 3 5 3
melody steps 22 196.00 5 11 7
melody boats 30 246.94 2 3 11
melody train 25 293.66 6 4 9
melody cover 24 174.61 3 9 2

ens="Demo Ensemble"
# Same tune, same tags, four ways: both modes group them.
encode morning "Collection/Morning Theme.flac" "Morning Theme" "$ens" "Daybreak" -c:a flac
encode morning "Collection/Morning Theme (320).mp3" "Morning Theme" "$ens" "Daybreak" -c:a libmp3lame -b:a 320k
encode morning "Old Downloads/morning_theme.mp3" "Morning Theme" "$ens" "Daybreak" -c:a libmp3lame -b:a 128k
encode morning "Old Downloads/Morning Theme.ogg" "Morning Theme" "$ens" "Daybreak" -c:a libvorbis -b:a 160k
# Same tune, tags partly missing: fingerprints find the untagged copy, tags cannot.
encode harbour "Collection/Harbour Lights.flac" "Harbour Lights" "$ens" "Daybreak" -c:a flac
encode harbour "Collection/Harbour Lights.m4a" "Harbour Lights" "$ens" "Daybreak" -c:a aac -b:a 160k
encode harbour "Old Downloads/track07.mp3" - - - -c:a libmp3lame -b:a 96k
# Same tune, different titles: only fingerprints group them.
encode steps "Collection/Stone Steps.wav" "Stone Steps" "$ens" "Stone" -c:a pcm_s16le
encode steps "Old Downloads/Stone Steps (Remaster).mp3" "Stone Steps (Remaster)" "$ens" "Stone" -c:a libmp3lame -b:a 256k
# Same tune, downsampled mono copy: both modes group them.
encode boats "Collection/Paper Boats.ogg" "Paper Boats" "$ens" "Harbour" -c:a libvorbis -b:a 192k
encode boats "Old Downloads/Paper Boats.mp3" "Paper Boats" "$ens" "Harbour" -c:a libmp3lame -b:a 64k -ar 22050 -ac 1
# A single copy: never a duplicate.
encode train "Collection/Night Train.flac" "Night Train" "$ens" "Harbour" -c:a flac
# A different tune wearing Morning Theme's tags: tags group it, fingerprints do not.
encode cover "Old Downloads/Morning Theme (cover).mp3" "Morning Theme" "$ens" "Covers" -c:a libmp3lame -b:a 192k

# Broken files: cut short, random bytes under an audio name, empty.
head -c 40000 "$work/lib/Collection/Morning Theme (320).mp3" > "$work/lib/Old Downloads/truncated.mp3"
head -c 65536 /dev/urandom > "$work/lib/Old Downloads/noise.mp3"
: > "$work/lib/Collection/empty.flac"

echo "$recipe_version" > "$work/lib/.complete"
rm -rf "$dir"
mv "$work/lib" "$dir"
echo "demo library: $dir ($(find "$dir" -type f ! -name .complete | wc -l) files)"
