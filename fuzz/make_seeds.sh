#!/usr/bin/env bash
# Regenerates the seed corpus under fuzz/corpus/ (needs ffmpeg and python3). The seeds
# are kept in the repository; run this only to change them. Audio seeds are 0.2 s of
# 8 kHz mono, each kept only when it is under 4 KiB.
set -euo pipefail
cd "$(dirname "$0")"

# Index of an extension in the library's supported list (support/tinydir.cpp), which
# is the first byte of a file target's input (see fuzz_file.h).
exts=(aac alac ac3 aif aiff ape flac m4a mp4 mp3 mp2 mp1 mpa mpc ogg tta wav wma wv txt "")
index_of() {
  local i
  for i in "${!exts[@]}"; do [[ "${exts[$i]}" == "$1" ]] && { echo "$i"; return; }; done
  return 1
}

# ffmpeg pads FLAC metadata with 8 KiB; the seed needs none.
drop_flac_padding() {
  python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
pos, blocks = 4, []
while True:
    header = data[pos]
    size = int.from_bytes(data[pos + 1:pos + 4], "big")
    if header & 0x7F != 1:
        blocks.append(bytearray(data[pos:pos + 4 + size]))
    pos += 4 + size
    if header & 0x80:
        break
for block in blocks:
    block[0] &= 0x7F
blocks[-1][0] |= 0x80
open(sys.argv[1], "wb").write(data[:4] + b"".join(blocks) + data[pos:])
PY
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf corpus
mkdir -p corpus/tag_reader_fuzzer corpus/decoder_fuzzer corpus/match_fuzzer \
  corpus/path_fuzzer corpus/gbk_fuzzer

# name, extension, ffmpeg output options
encodings=(
  "mp3 mp3 -c:a libmp3lame -b:a 8k -id3v2_version 3"
  "mp2 mp2 -c:a mp2 -b:a 32k"
  "flac flac -c:a flac"
  "ogg ogg -c:a libvorbis -q:a 0"
  "wav wav -c:a pcm_u8"
  "aiff aiff -c:a pcm_s8"
  "m4a m4a -c:a aac -b:a 8k"
  "ac3 ac3 -c:a ac3 -b:a 32k"
  "wma wma -c:a wmav2 -b:a 32k"
  "wv wv -c:a wavpack"
  "tta tta -c:a tta"
)
for entry in "${encodings[@]}"; do
  read -r name ext opts <<<"$entry"
  out="$work/$name.$ext"
  # shellcheck disable=SC2086
  if ! ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.2" \
      -ac 1 -metadata title="Seed $name" -metadata artist="Twintone" $opts "$out"; then
    echo "skipped $name: no encoder" >&2
    continue
  fi
  [[ "$ext" == flac ]] && drop_flac_padding "$out"
  size=$(stat -c %s "$out")
  if ((size >= 4096)); then
    echo "skipped $name: $size bytes" >&2
    continue
  fi
  idx=$(index_of "$ext")
  for target in tag_reader_fuzzer decoder_fuzzer; do
    { printf "\\x$(printf %02x "$idx")"; cat "$out"; } >"corpus/$target/$name"
  done
done
idx=$(index_of txt)
printf "\\x$(printf %02x "$idx")This is a text file, not music.\n" >corpus/tag_reader_fuzzer/text
cp corpus/tag_reader_fuzzer/text corpus/decoder_fuzzer/text

python3 - <<'PY'
import random, struct
rng = random.Random(7)
def words(n, drift=None):
    w = [rng.getrandbits(32)]
    for _ in range(n - 1):
        w.append(w[-1] ^ (1 << rng.randrange(32)) if drift else rng.getrandbits(32))
    return w
def save(name, prefix, ws):
    with open("corpus/match_fuzzer/" + name, "wb") as f:
        f.write(prefix + b"".join(struct.pack("<I", x) for x in ws))
base = words(160, drift=True)
save("same", b"", base + base)
save("shifted", b"", base + words(7) + base[:153])
save("random", b"", words(240))
save("short", b"", words(5))
for name, text in [("windows", b"C:\\Music\\Album\\01 Track.MP3"),
                   ("unix", b"/home/user/music/a.b.flac"),
                   ("hidden", b"/x/.hidden"),
                   ("blanks", b" a b  c "),
                   ("nonutf8", b"/tmp/\xff\xfe\xc0.mp3")]:
    open("corpus/path_fuzzer/" + name, "wb").write(text)
for name, text in [("gbk", b"\x10\x01\xc4\xe3\xba\xc3 music"),
                   ("ascii", b"\x00\x00Plain ASCII title"),
                   ("utf8", b"\x08\x01\xe4\xbd\xa0\xe5\xa5\xbd"),
                   ("cut", b"\x04\x00abc\xc4")]:
    open("corpus/gbk_fuzzer/" + name, "wb").write(text)
PY
du -sh corpus/*
