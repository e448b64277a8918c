#!/usr/bin/env bash
# Writes the fuzzers' seed files, small files of every encoding each reader takes, made by sox,
# ffmpeg and lame: tests/formats/fuzz/make-seeds.sh [DIR] (default: seeds/ beside this script).
# The seeds are kept in the repository; run this again only to renew them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${1:-$here/seeds}
for tool in sox ffmpeg lame flac oggenc opusenc; do
  command -v "$tool" >/dev/null || { echo "make-seeds.sh: $tool is missing" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Short tones, repeatable (-R) so that renewing the seeds changes nothing.
sx() { sox -R -V1 "$@"; }
tone() { # tone RATE CHANNELS SECONDS OUT [sox output options...]
  local rate=$1 channels=$2 seconds=$3 out=$4; shift 4
  sx -n -r "$rate" -c "$channels" "$@" "$out" synth "$seconds" sine 300-3000 gain -3
}
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
src() { # src RATE CHANNELS SECONDS: a 16-bit WAVE source for ffmpeg and lame
  local out="$tmp/src-$1-$2-$3.wav"
  [ -f "$out" ] || tone "$1" "$2" "$3" "$out" -b 16
  echo "$out"
}
fresh() { rm -rf "${dir:?}/$1"; mkdir -p "$dir/$1"; echo "$dir/$1"; }

d=$(fresh wav)
tone 8000 1 0.01 "$d/sox-u8-mono.wav" -e unsigned -b 8
tone 8000 2 0.01 "$d/sox-s16-stereo.wav" -e signed -b 16
tone 11025 1 0.01 "$d/sox-s24-mono.wav" -e signed -b 24
tone 8000 2 0.005 "$d/sox-s32-stereo.wav" -e signed -b 32
tone 8000 1 0.01 "$d/sox-f32-mono.wav" -e float -b 32
tone 8000 1 0.01 "$d/sox-ulaw.wav" -e u-law
tone 8000 2 0.01 "$d/sox-alaw-stereo.wav" -e a-law
tone 8000 3 0.005 "$d/sox-s16-3ch-extensible.wav" -e signed -b 16
ff -i "$(src 8000 2 0.01)" -c:a pcm_s16le -metadata title=Seed -metadata artist=Tintwave -metadata comment=fuzz \
  "$d/ffmpeg-s16-info.wav"
ff -i "$(src 8000 1 0.01)" -c:a pcm_f32le -bitexact "$d/ffmpeg-f32.wav"
ff -i "$(src 8000 1 0.01)" -c:a pcm_u8 -rf64 always -bitexact "$d/ffmpeg-u8-rf64.wav"

d=$(fresh wav-adpcm)
tone 8000 1 0.1 "$d/sox-ima-mono.wav" -e ima-adpcm
tone 8000 2 0.05 "$d/sox-ima-stereo.wav" -e ima-adpcm
tone 8000 1 0.1 "$d/sox-ms-mono.wav" -e ms-adpcm
tone 8000 2 0.05 "$d/sox-ms-stereo.wav" -e ms-adpcm
ff -i "$(src 8000 1 0.1)" -c:a adpcm_ima_wav -block_size 256 -bitexact "$d/ffmpeg-ima-mono.wav"
ff -i "$(src 8000 2 0.05)" -c:a adpcm_ms -block_size 256 -bitexact "$d/ffmpeg-ms-stereo.wav"
ff -i "$(src 8000 1 0.3)" -c:a libmp3lame -b:a 8k -bitexact "$d/ffmpeg-mp3-in-wave-mono.wav"
ff -i "$(src 22050 2 0.1)" -c:a libmp3lame -b:a 32k -bitexact "$d/ffmpeg-mp3-in-wave-stereo.wav"

d=$(fresh aiff)
tone 8000 1 0.01 "$d/sox-s8-mono.aiff" -e signed -b 8
tone 8000 2 0.01 "$d/sox-s16-stereo.aiff" -e signed -b 16
tone 11025 1 0.01 "$d/sox-s24.aiff" -e signed -b 24
tone 8000 1 0.01 "$d/sox-s32.aiff" -e signed -b 32
tone 8000 1 0.01 "$d/sox-none.aifc" -e signed -b 16
tone 8000 2 0.005 "$d/sox-fl32-stereo.aifc" -e float -b 32
ff -i "$(src 8000 1 0.01)" -c:a pcm_s16be -metadata title=Seed -metadata artist=Tintwave -metadata copyright=none \
  -write_id3v2 0 "$d/ffmpeg-s16-names.aiff"
ff -i "$(src 8000 1 0.01)" -c:a pcm_s16le -f aiff "$d/ffmpeg-sowt.aifc"
ff -i "$(src 8000 1 0.01)" -c:a pcm_alaw -f aiff "$d/ffmpeg-alaw.aifc"
ff -i "$(src 8000 1 0.01)" -c:a pcm_mulaw -f aiff "$d/ffmpeg-ulaw.aifc"
ff -i "$(src 8000 1 0.01)" -c:a pcm_f32be -f aiff "$d/ffmpeg-fl32.aifc"
ff -i "$(src 8000 2 0.05)" -c:a adpcm_ima_qt -f aiff "$d/ffmpeg-ima4-stereo.aifc"

d=$(fresh au)
tone 8000 1 0.01 "$d/sox-s8.au" -e signed -b 8
tone 8000 2 0.01 "$d/sox-s16-stereo.au" -e signed -b 16
tone 8000 1 0.01 "$d/sox-s24.au" -e signed -b 24
tone 8000 1 0.01 "$d/sox-s32.au" -e signed -b 32
tone 8000 1 0.01 "$d/sox-f32.au" -e float -b 32
tone 8000 1 0.01 "$d/sox-ulaw.au" -e u-law
tone 8000 2 0.01 "$d/sox-alaw-stereo.au" -e a-law
ff -i "$(src 8000 1 0.01)" -c:a pcm_s16be -metadata title=Seed -metadata artist=Tintwave -bitexact "$d/ffmpeg-s16-info.au"
ff -i "$(src 8000 1 0.01)" -c:a pcm_mulaw -bitexact "$d/ffmpeg-ulaw.au"

d=$(fresh voc)
tone 8000 1 0.02 "$d/sox-u8-mono.voc" -e unsigned -b 8
tone 8000 2 0.01 "$d/sox-u8-stereo.voc" -e unsigned -b 8
tone 8000 1 0.01 "$d/sox-s16-mono.voc" -e signed -b 16
tone 11025 2 0.01 "$d/sox-s16-stereo.voc" -e signed -b 16
tone 8000 1 0.01 "$d/sox-ulaw.voc" -e u-law
ff -i "$(src 8000 1 0.02)" -c:a pcm_u8 -bitexact "$d/ffmpeg-u8.voc"
ff -i "$(src 8000 2 0.01)" -c:a pcm_s16le -bitexact "$d/ffmpeg-s16-stereo.voc"

d=$(fresh 8svx)
tone 8000 1 0.02 "$d/sox-mono.8svx"
tone 8000 2 0.01 "$d/sox-stereo.8svx"
tone 16000 1 0.01 "$d/sox-16k.8svx"

d=$(fresh mp3)
lame --quiet -b 8 --resample 8 "$(src 8000 1 0.3)" "$d/lame-8k-mono-cbr.mp3"
lame --quiet -V 6 "$(src 22050 1 0.2)" "$d/lame-22k-vbr.mp3"
lame --quiet -b 32 -t "$(src 16000 2 0.15)" "$d/lame-16k-stereo-noxing.mp3"
lame --quiet -b 64 -m j --tt Seed --ta Tintwave --add-id3v2 "$(src 32000 2 0.1)" "$d/lame-32k-joint-id3.mp3"
ff -i "$(src 44100 2 0.05)" -c:a libmp3lame -b:a 96k -metadata title=Seed -write_id3v1 1 "$d/ffmpeg-44k-id3v1.mp3"
ff -i "$(src 48000 1 0.05)" -c:a libmp3lame -b:a 32k -write_xing 0 -id3v2_version 0 "$d/ffmpeg-48k-bare.mp3"

d=$(fresh mp2)
ff -i "$(src 16000 1 0.2)" -c:a mp2 -b:a 32k -bitexact "$d/ffmpeg-16k-mono.mp2"
ff -i "$(src 32000 1 0.1)" -c:a mp2 -b:a 48k -bitexact "$d/ffmpeg-32k-mono.mp2"
ff -i "$(src 48000 2 0.05)" -c:a mp2 -b:a 128k -bitexact "$d/ffmpeg-48k-stereo.mp2"
ff -i "$(src 22050 2 0.1)" -c:a mp2 -b:a 64k -metadata title=Seed "$d/ffmpeg-22k-id3.mp2"

# Raw: two layout bytes (see RawReadFuzz.cpp) before the sample data.
d=$(fresh raw)
raw() { # raw LAYOUT0 LAYOUT1 NAME RATE CHANNELS sox-options...
  local b0=$1 b1=$2 name=$3 rate=$4 channels=$5; shift 5
  tone "$rate" "$channels" 0.005 "$tmp/raw.raw" -t raw "$@"
  { printf "\\x$b0\\x$b1"; cat "$tmp/raw.raw"; } >"$d/$name"
}
raw 21 00 s8-mono 8000 1 -e signed -b 8
raw 02 00 u8-stereo 8000 2 -e unsigned -b 8
raw 21 01 s16le-mono 8000 1 -e signed -b 16 -L
raw 32 09 s16be-stereo 44100 2 -e signed -b 16 -B
raw 23 02 s24le-3ch 8000 3 -e signed -b 24 -L
raw 31 03 s32be-mono 8000 1 -e signed -b 32 -B
raw 26 04 f32le-6ch 8000 6 -e float -b 32 -L
raw 01 05 ulaw-mono 8000 1 -e u-law
raw 4c 06 alaw-12ch 8000 12 -e a-law
# Tracker modules and MIDI files: no tool here writes them, so the bytes are spelled out.
b() { local x; for x in "$@"; do printf "\\x$(printf %02x "$x")"; done; }  # decimal bytes
zeros() { head -c "$1" /dev/zero; }
be16() { b $(($1 >> 8 & 255)) $(($1 & 255)); }
be32() { b $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)); }
# module TAG CHANNELS PATTERNS ROWS-FILE: one 32-byte looping instrument and one unlooped;
# ROWS-FILE holds the first rows of pattern 0 (the rest is empty), later patterns are empty.
module() {
  local tag=$1 channels=$2 patterns=$3 rows=$4
  printf 'seed song'; zeros 11
  printf 'loop'; zeros 18; be16 16; b 0 64; be16 0; be16 16
  printf 'burst'; zeros 17; be16 16; b 0 48; be16 0; be16 1
  for _ in $(seq 3 31); do zeros 30; done
  b "$patterns" 127
  for i in $(seq 0 127); do b $((i < patterns ? i : 0)); done
  printf '%s' "$tag"
  cat "$rows"; zeros $((patterns * 64 * channels * 4 - $(stat -c %s "$rows")))
  for i in $(seq 0 31); do b $(((i * 8) % 256)); done
  for i in $(seq 0 31); do b $(((256 - i * 8) % 256)); done
}
note() { b $(($1 & 0xF0 | ($2 >> 8))) $(($2 & 255)) $((($1 & 15) << 4 | $3)) "$4"; }  # instrument period effect parameter
d=$(fresh mod)
{ note 1 428 0 0x47; note 2 214 0xF 3; note 0 0 0xC 32; note 1 320 0xE 0x93
  note 0 0 1 4; note 0 0 0xF 150; note 0 0 0xA 0x0F; note 0 0 0xE 0xC2
  note 0 214 3 8; note 1 0 4 0x4A; note 0 0 7 0x34; note 2 160 0xE 0xD2
  note 0 0 5 0x21; note 0 0 6 0x12; note 1 0 9 1; note 0 0 0xE 0xE2
  note 0 0 0xB 0; note 0 0 0xD 0x12; note 0 0 0xE 0x42; note 0 0 0xE 0x61; } >"$tmp/rows"
module M.K. 4 2 "$tmp/rows" >"$d/effects-4ch.mod"
{ note 1 428 0 0; note 2 500 0 0; note 1 113 0 0; note 2 856 0xE 0x12; note 1 300 0xE 0xA4; note 2 400 0xE 0x7F; } >"$tmp/rows"
module 6CHN 6 1 "$tmp/rows" >"$d/notes-6ch.mod"
{ note 1 428 0 0; note 2 214 0 0; note 1 320 0xF 0x60; note 2 160 0xF 1; note 1 0 0 0; note 0 0 0xB 1; note 0 0 0 0; note 1 254 2 1; } >"$tmp/rows"
module 8CHN 8 2 "$tmp/rows" >"$d/jump-8ch.mod"

vl() { # a variable-length number
  local v=$1 bytes=($(($1 & 127)))
  while [ $((v >>= 7)) -gt 0 ]; do bytes=($((128 | (v & 127))) "${bytes[@]}"); done
  b "${bytes[@]}"
}
track() { local f=$1; printf 'MTrk'; be32 "$(stat -c %s "$f")"; cat "$f"; }
midi() { # midi FORMAT DIVISION TRACK-FILES...
  local format=$1 division=$2; shift 2
  printf 'MThd'; be32 6; be16 "$format"; be16 $#; be16 "$division"
  for f in "$@"; do track "$f"; done
}
d=$(fresh mid)
{ b 0 0xFF 3 4; printf 'seed'; b 0 0xFF 0x51 3 0x07 0xA1 0x20; b 0 0xC0 5; b 0 0x90 69 100; vl 96; b 0x80 69 64
  b 0 0x90 81 90; b 0 84 80; vl 200; b 81 0; b 0 84 0; b 0 0xB0 7 100; b 0 0xE0 0 64; b 0 0xD0 30; b 0 0xFF 0x2F 0; } >"$tmp/t0"
midi 0 96 "$tmp/t0" >"$d/format0-notes.mid"
{ b 0 0xFF 0x58 4 4 2 24 8; b 0 0xFF 0x51 3 0x03 0xD0 0x90; b 0 0xFF 0x2F 0; } >"$tmp/t1"
{ b 0 0x99 38 100; b 48 0x89 38 64; b 0 0x99 42 80; b 48 42 0; b 0 0xF0 3 1 2 0xF7; b 0 0xFF 0x2F 0; } >"$tmp/t2"
{ b 0 0x91 60 70; vl 1000; b 0x91 60 0; b 0 0xB1 123 0; b 0 0xFF 0x7F 3 0 0 0x41; b 0 0xFF 0x2F 0; } >"$tmp/t3"
midi 1 480 "$tmp/t1" "$tmp/t2" "$tmp/t3" >"$d/format1-three-tracks.mid"
{ b 0 0x90 64 100; vl 40; b 0x80 64 0; b 0 0xF2 1 2; b 0 0xF3 1; b 0 0xF8; b 0 0xFF 0x2F 0; } >"$tmp/t4"
midi 0 $((0xE728)) "$tmp/t4" >"$d/smpte-25.mid"
midi 2 96 "$tmp/t0" "$tmp/t4" >"$d/format2.mid"
# The formats of libsndfile and FFmpeg, as flac, oggenc, opusenc and ffmpeg write them.
d=$(fresh flac)
flac -s -f -5 --no-padding -T TITLE=Seed "$(src 8000 1 0.05)" -o "$d/flac-mono.flac"
flac -s -f -0 --no-padding "$(src 8000 2 0.02)" -o "$d/flac-stereo-level0.flac"
ff -i "$(src 8000 2 0.02)" -c:a flac -sample_fmt s32 -bitexact "$d/ffmpeg-flac-24.flac"
d=$(fresh ogg)
oggenc -Q -q0 --serial 1 -t Seed "$(src 8000 1 0.1)" -o "$d/oggenc-q0-mono.ogg"
oggenc -Q -q5 --serial 2 "$(src 11025 2 0.05)" -o "$d/oggenc-q5-stereo.ogg"
d=$(fresh opus)
opusenc --quiet --serial 1 --bitrate 16 "$(src 8000 1 0.05)" "$d/opusenc-mono.opus"
ff -i "$(src 8000 2 0.03)" -c:a libopus -b:a 24k -bitexact "$d/ffmpeg-stereo.opus"
d=$(fresh m4a)
ff -i "$(src 8000 1 0.05)" -c:a aac -b:a 16k -bitexact -metadata title=Seed "$d/ffmpeg-aac-mono.m4a"
ff -i "$(src 8000 2 0.02)" -c:a alac -bitexact "$d/ffmpeg-alac-stereo.m4a"
d=$(fresh aac)
ff -i "$(src 8000 1 0.05)" -c:a aac -b:a 16k -bitexact -f adts "$d/ffmpeg-aac-mono.aac"
ff -i "$(src 8000 2 0.02)" -c:a aac -b:a 24k -bitexact -f adts "$d/ffmpeg-aac-stereo.aac"
d=$(fresh wv)
ff -i "$(src 8000 1 0.05)" -c:a wavpack -bitexact "$d/ffmpeg-mono.wv"
ff -i "$(src 8000 2 0.02)" -c:a wavpack -bitexact "$d/ffmpeg-stereo.wv"

# Monkey's Audio: ffmpeg has no encoder; Debian's libjmac-java writes it.
jmac=/usr/share/java/jmac.jar
if [ -f "$jmac" ] && command -v java >/dev/null; then
  d=$(fresh ape)
  java -jar "$jmac" c2 "$(src 8000 1 0.05)" "$d/jmac-mono.ape" >/dev/null
  java -jar "$jmac" c4 "$(src 8000 2 0.02)" "$d/jmac-stereo.ape" >/dev/null
else
  echo "make-seeds.sh: $jmac or java is missing; the ape seeds stay as they are" >&2
fi
du -sh "$dir"/*
