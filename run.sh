#!/usr/bin/env bash
# Starts Tintwave: builds what is missing, then opens FILE (or the demo sound) in the editor.
set -euo pipefail
TINTWAVE_ROOT=$(cd "$(dirname "$0")" && pwd)
source "$TINTWAVE_ROOT/scripts/setup.sh"
tintwave_install_missing
tintwave_build "$TINTWAVE_ROOT/build" --target tintwave tintwave_resources

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show the editor on." >&2
  echo "Start it from a desktop session, or under a virtual display: xvfb-run -a ./run.sh ${*:-}" >&2
  exit 1
fi
if [ $# -eq 0 ]; then
  set -- "$TINTWAVE_ROOT/build/app/demo.wav"
fi
exec "$TINTWAVE_ROOT/build/app/tintwave" "$@"
