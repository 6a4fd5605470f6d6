#!/bin/bash
# Runs a Windows test binary under Wine, in a prefix of the build's own and
# on a private X display (the dialogs need one). Its exit status is the test's.
#   run_under_wine.sh BUILD_DIR TEST_EXE [ARGS...]
set -euo pipefail
build=$(cd "$1" && pwd)  # Wine takes only an absolute prefix
shift
. "$(dirname "$0")/../../tools/wine/wine_setup.sh"
qor_take_prefix "$build"
qor_make_prefix
work=$(mktemp -d)
trap 'timeout 30 wineserver -k || true; qor_stop_display; rm -rf "$work"' EXIT
qor_start_display "$work"
timeout 240 wine "$@"
