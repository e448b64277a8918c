#!/usr/bin/env bash
# Builds and runs the WAVE reader fuzzer alone: tests/formats/fuzz/build-fuzzer.sh [SECONDS]
# (run-all.sh beside this file runs every reader's fuzzer).
exec "$(dirname "$0")/run-all.sh" "${1:-60}" wav
