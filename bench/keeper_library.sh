#!/usr/bin/env bash
# Makes a library of copies with known originals, for bench/keeper_bench.py:
#   bench/keeper_library.sh DIR
# Six pieces of 130 s (a melody over a bass line with a noisy beat that reaches 22 kHz;
# the channels differ), one folder each. The original is a 44.1 kHz stereo FLAC (p1-p3),
# a WAV (p4), an Ogg Vorbis at q3 (p5) or an AAC at 160 kbit/s (p6); every other copy
# is made from it:
#   mp3-128.mp3     MP3 at 128 kbit/s
#   mono22.mp3      22 kHz mono MP3 at 160 kbit/s
#   ogg-q4.ogg      Ogg Vorbis q4 (lossless originals only)
#   silence.*       2 s of silence put in front; a WAV (lossless originals) or the
#                   original's codec at a higher rate
#   clipped.flac    6 dB louder, clipped at full scale
#   lowpass.flac    cut to 11 kHz (through a 22.05 kHz rate) and written as FLAC
#   from-mp3.flac   the MP3 at 128 kbit/s decoded into FLAC
#   cut.mp3         the first 100 s at 320 kbit/s
# The keeper of each group should be original.*. Needs ffmpeg. A complete library
# (same recipe) is left as it is.
set -euo pipefail

recipe_version=1
dir=${1:?usage: keeper_library.sh DIR}
if [[ -f "$dir/.complete" && "$(cat "$dir/.complete")" == "$recipe_version" ]]; then
  exit 0
fi
command -v ffmpeg >/dev/null || { echo "keeper_library.sh: ffmpeg is missing" >&2; exit 1; }
rm -rf "$dir"
mkdir -p "$dir"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# piece FOLDER BASE_HZ NOTES_PER_SECOND STEP PHRASE: $dir/FOLDER/master.wav
piece() {
  local folder=$1 base=$2 rate=$3 step=$4 phrase=$5
  local note="$base*pow(2\,mod(floor(t*$rate)*$step+floor(t/2)*$phrase\,24)/12)"
  local bass="$base/4*pow(2\,mod(floor(t/2)*$phrase\,12)/12)"
  local env="exp(-4*mod(t\,1/$rate))"
  local tune="(sin(2*PI*$note*t)+0.5*sin(4*PI*$note*t)+0.25*sin(6*PI*$note*t))*$env"
  local beat="exp(-8*mod(t\,0.25))"
  mkdir -p "$dir/$folder"
  ff -f lavfi -i "aevalsrc=0.3*$tune+0.2*sin(2*PI*$bass*t)+0.06*(2*random(0)-1)*$beat|0.25*$tune+0.3*sin(2*PI*$bass*t)+0.06*(2*random(1)-1)*$beat:s=44100:d=130" \
    -c:a pcm_s16le "$dir/$folder/master.wav"
}

# copies FOLDER ORIGINAL ORIGINAL_CODEC_ARGS... : the original from the master, then
# every copy from the original.
copies() {
  local folder=$1 original=$2
  shift 2
  local d="$dir/$folder" src="$dir/$folder/$original"
  ff -i "$d/master.wav" "$@" "$src"
  rm "$d/master.wav"
  ff -i "$src" -c:a libmp3lame -b:a 128k "$d/mp3-128.mp3"
  ff -i "$src" -ar 22050 -ac 1 -c:a libmp3lame -b:a 160k "$d/mono22.mp3"
  ff -i "$src" -af volume=6dB -c:a flac "$d/clipped.flac"
  ff -i "$src" -af "aresample=22050,aresample=44100" -c:a flac "$d/lowpass.flac"
  ff -i "$d/mp3-128.mp3" -c:a flac "$d/from-mp3.flac"
  ff -i "$src" -t 100 -c:a libmp3lame -b:a 320k "$d/cut.mp3"
  local pad="adelay=2000|2000"
  case "$original" in
    *.ogg) ff -i "$src" -af "$pad" -c:a libvorbis -q:a 6 "$d/silence.ogg" ;;
    *.m4a) ff -i "$src" -af "$pad" -c:a aac -b:a 256k "$d/silence.m4a" ;;
    *)
      ff -i "$src" -c:a libvorbis -q:a 4 "$d/ogg-q4.ogg"
      ff -i "$src" -af "$pad" -c:a pcm_s16le "$d/silence.wav"
      ;;
  esac
}

piece p1 220.00 4 7 5
piece p2 261.63 3 5 3
piece p3 196.00 5 11 7
piece p4 246.94 2 3 11
piece p5 293.66 6 4 9
piece p6 174.61 3 9 2
copies p1 original.flac -c:a flac
copies p2 original.flac -c:a flac
copies p3 original.flac -c:a flac
copies p4 original.wav -c:a pcm_s16le
copies p5 original.ogg -c:a libvorbis -q:a 3
copies p6 original.m4a -c:a aac -b:a 160k
echo "$recipe_version" >"$dir/.complete"
