#!/usr/bin/env bash
# Builds every reader fuzzer and runs each for SECONDS over a working copy of its seeds:
#   tests/formats/fuzz/run-all.sh SECONDS [TARGET...]
# Targets: wav wav-adpcm aiff au voc 8svx mp3 mp2 mod mid raw flac ogg opus m4a aac wv ape (default: all). Everything is written
# under ${TMPDIR:-/tmp}/tintwave-fuzz (FUZZ_OUT overrides): bin/ the fuzzers, corpus/<target>
# the working corpora (kept between runs; FUZZ_FRESH=1 starts again from the seeds), and
# findings/<target> the crashing, hanging or exhausting inputs of the last run. Runs sharing that
# folder take turns.
# FUZZ_JOBS (1 or 2, default 2) fuzzers run at a time. Prints executions and findings per target
# and exits 1 when any target found something, 2 when the build or a fuzzer itself failed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
all_targets=(wav wav-adpcm aiff au voc 8svx mp3 mp2 mod mid raw flac ogg opus m4a aac wv ape)

usage() { echo "usage: $0 SECONDS [TARGET...]  (targets: ${all_targets[*]})" >&2; exit 2; }
[ $# -ge 1 ] || usage
seconds=$1; shift
[[ $seconds =~ ^[0-9]+$ ]] && [ "$seconds" -gt 0 ] || usage
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $t "* ]] || { echo "run-all.sh: unknown target $t" >&2; usage; }
done
jobs=${FUZZ_JOBS:-2}
[[ $jobs =~ ^[12]$ ]] || { echo "run-all.sh: FUZZ_JOBS must be 1 or 2" >&2; exit 2; }
command -v clang++-14 >/dev/null || { echo "run-all.sh: clang++-14 is missing" >&2; exit 2; }

out=${FUZZ_OUT:-${TMPDIR:-/tmp}/tintwave-fuzz}
mkdir -p "$out/logs"
# One run at a time per folder: a second one (say ./test.sh --asan during a long run) waits
# rather than rebuilding the fuzzers under the first or overwriting its corpora and logs.
exec 9>"$out/lock"
if ! flock -n 9; then
  echo "run-all.sh: waiting for the other run in $out ..."
  flock 9
fi

# Build (incremental: make keeps every object's header dependencies).
echo "Building fuzzers into $out/bin ..."
if ! make --no-print-directory -s -j "$jobs" -f "$here/fuzzers.mk" ROOT="$root" OUT="$out" \
    TARGETS="${targets[*]}" >"$out/logs/build.log" 2>&1; then
  cat "$out/logs/build.log" >&2
  echo "run-all.sh: the build failed" >&2
  exit 2
fi

# Whatever the caller set, undefined behaviour and leaks end a run as a finding.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp
export UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:halt_on_error=1

run_one() { # run_one TARGET: fuzzes it and writes its summary line to logs/TARGET.summary
  local t=$1
  local corpus="$out/corpus/$t" findings="$out/findings/$t" log="$out/logs/$t.log"
  [ "${FUZZ_FRESH:-0}" = 1 ] && rm -rf "$corpus"
  mkdir -p "$corpus"
  rm -rf "$findings"
  mkdir -p "$findings"
  cp -n "$here/seeds/$t"/* "$corpus"/ 2>/dev/null || true
  local start=$SECONDS status=0
  # -fork=1 -ignore_crashes=1: a crash ends only the child, so one run collects every finding.
  # The outer timeout only guards against a fuzzer that does not stop by itself.
  timeout --kill-after=30 $((seconds + 300)) "$out/bin/$t" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 \
    -ignore_ooms=1 -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=512 -artifact_prefix="$findings/" "$corpus" </dev/null >"$log" 2>&1 || status=$?
  local elapsed=$((SECONDS - start))
  # Fork mode reports "#EXECUTIONS: cov: ..." lines; the last is the total.
  local execs
  execs=$(grep -aoE '^#[0-9]+:' "$log" | tail -n 1 | tr -d '#:' || true)
  local size
  size=$(find "$corpus" -type f | wc -l)
  local found
  found=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  local line
  line=$(printf '%-10s %10s executions in %4d s, corpus %4d files, ' "$t" "${execs:-?}" "$elapsed" "$size")
  if [ "$found" -gt 0 ]; then
    line+="FOUND $found: $findings"
    echo "found" >"$out/logs/$t.result"
  elif [ "$status" -ne 0 ] || [ -z "$execs" ]; then
    line+="FUZZER FAILED (exit $status): $log"
    echo "failed" >"$out/logs/$t.result"
  else
    line+="nothing found"
    echo "clean" >"$out/logs/$t.result"
  fi
  echo "$line" >"$out/logs/$t.summary"
  echo "$line"
}

echo "Fuzzing ${#targets[@]} targets for $seconds s each, $jobs at a time (logs in $out/logs) ..."
running=0
for t in "${targets[@]}"; do
  rm -f "$out/logs/$t.result" "$out/logs/$t.summary"
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
wait || true

echo "Summary:"
exit_code=0
for t in "${targets[@]}"; do
  cat "$out/logs/$t.summary" 2>/dev/null || echo "$t: no result"
  case $(cat "$out/logs/$t.result" 2>/dev/null || echo failed) in
    found) [ "$exit_code" -eq 0 ] && exit_code=1 ;;
    failed) exit_code=2 ;;
  esac
done
exit "$exit_code"
