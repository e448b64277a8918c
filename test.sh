#!/usr/bin/env bash
# Builds and runs every test. ./test.sh --asan builds with AddressSanitizer + UBSan.
set -euo pipefail
TINTWAVE_ROOT=$(cd "$(dirname "$0")" && pwd)
source "$TINTWAVE_ROOT/scripts/setup.sh"
tintwave_install_missing

build="$TINTWAVE_ROOT/build"
args=()
if [ "${1:-}" = "--asan" ]; then
  build="$TINTWAVE_ROOT/build-asan"
  args+=(-DTINTWAVE_ASAN=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
tintwave_build "$build" "${args[@]}"

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
# The sanitizer build also gives every reader's fuzzer ten seconds.
if [ "${1:-}" = "--asan" ]; then
  if command -v clang++-14 >/dev/null; then
    "$TINTWAVE_ROOT/tests/formats/fuzz/run-all.sh" 10
  else
    echo "test.sh: clang++-14 is missing; the reader fuzzers are skipped"
  fi
fi
