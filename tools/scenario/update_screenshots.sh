#!/bin/bash
# Refreshes docs/screenshots from the real exe under Wine: plays the scenarios
# that meet every dialog and, when all of them pass, puts their pictures there
# in place of the old ones.
#   update_screenshots.sh [--build DIR]     (default build/windows)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build/windows
[ "${1:-}" != --build ] || build=$2
shots=$top/docs/screenshots
fresh=$(mktemp -d /tmp/qor-screenshots.XXXXXX)
trap 'rm -rf "$fresh"' EXIT
for name in warning_cancel invalid_address straight_to_target transition_with_password cancel_connecting unreachable \
    give_up version_mismatch \
    cancel_password handset_skips_version_check; do
    # One more try for a run that loses a race with the display on a busy machine.
    "$here/run_scenario.py" --wine --build "$build" --shots "$fresh" "$top/tests/scenarios/$name.scn" ||
        "$here/run_scenario.py" --wine --build "$build" --shots "$fresh" "$top/tests/scenarios/$name.scn"
done
mkdir -p "$shots"
rm -f "$shots"/*.png
cp "$fresh"/*.png "$shots/"
ls -1 "$shots"
