#!/usr/bin/env bash
# Builds and runs the WAVE reader fuzzer: tests/formats/fuzz/build-fuzzer.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
out=${TMPDIR:-/tmp}/tintwave-wave-fuzz
mkdir -p "$out/corpus"
clang++-14 -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I"$root" \
  "$root"/formats/*.cpp "$root/tests/formats/fuzz/WaveReadFuzz.cpp" -o "$out/wave-fuzz"
# Seeds: small files of each encoding made by sox.
for e in "-e unsigned -b 8" "-e signed -b 16" "-e signed -b 24" "-e float -b 32" "-e u-law" "-e a-law"; do
  sox -V1 -n -r 8000 -c 2 $e "$out/corpus/seed-${e// /_}.wav" synth 0.002 whitenoise 2>/dev/null || true
done
"$out/wave-fuzz" -max_total_time="${1:-60}" -max_len=4096 "$out/corpus"
