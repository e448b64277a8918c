#!/usr/bin/env bash
# Starts Tintwave: builds what is missing, then runs the program on FILE (or the demo sound).
set -euo pipefail
TINTWAVE_ROOT=$(cd "$(dirname "$0")" && pwd)
source "$TINTWAVE_ROOT/scripts/setup.sh"
tintwave_install_missing
tintwave_build "$TINTWAVE_ROOT/build"

if [ -x "$TINTWAVE_ROOT/build/app/tintwave" ]; then
  exec "$TINTWAVE_ROOT/build/app/tintwave" "$@"
fi
# Until the editor window exists, the command-line tool shows the sound search at work.
exec "$TINTWAVE_ROOT/build/cli/tintwave-cli" demo
